// The per-key diagnostic log: "KVN_<media ID>" in the user's temporary folder, shared by the
// tray monitor (writer) and the browser front ends (readers). Every access of every process
// is serialised by the global mutex "Global\KVNLogMutex_forkoba".
#pragma once

#include <string>

#include "object_security.h"
#include "win_handle.h"

namespace koba::diaglog {

constexpr wchar_t kLogMutexName[] = L"Global\\KVNLogMutex_forkoba";
// How long an operation waits for the mutex before it gives up.
constexpr DWORD kMutexWaitMs = 3000;
// GetLogFileContent's answer for every failure.
constexpr int kErrLogUnreadable = -300;

// The security of the mutex: open to every session and to low-integrity processes.
using LogMutexSecurity = win::SharedObjectSecurity;

class DiagnosticLog {
 public:
  DiagnosticLog() = default;
  DiagnosticLog(const DiagnosticLog&) = delete;
  DiagnosticLog& operator=(const DiagnosticLog&) = delete;

  // Opens (or creates) the mutex on first use and waits for it for at most kMutexWaitMs. An
  // abandoned mutex counts as acquired. Each successful call is paired with one release.
  bool AcquireLogMutex();
  void ReleaseLogMutex();

  // Appends one timestamped record line and trims the file. 1 when the line was written.
  int AppendLogRecord(const char* media_id, const char* name);
  // The Base64 text of the last `count` request records (see log_text.h). 1 and the text, or
  // 0 and an empty text.
  int ReadLogTail(const char* media_id, int count, std::string* base64);

 private:
  win::UniqueHandle mutex_;
};

// The log file of a media ID; empty for an ID that cannot name a file there.
std::wstring LogFilePath(const char* media_id);

// The front ends' operation: 0 and the Base64 text, or -300.
int GetLogFileContent(const char* media_id, int line_num, std::string* base64);

}  // namespace koba::diaglog
