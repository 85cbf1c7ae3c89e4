#include "diag_log.h"

#include <limits>
#include <new>

#include "log_text.h"
#include "text_encoding.h"

namespace koba::diaglog {
namespace {

using win::UniqueHandle;

constexpr DWORD kMutexOpenAccess = GENERIC_EXECUTE | MUTEX_MODIFY_STATE;

// Creates the mutex, not owned, open to every session and to low-integrity processes.
HANDLE CreateLogMutex() {
  LogMutexSecurity security;
  return CreateMutexW(security.attributes(), FALSE, kLogMutexName);
}

// Holds the mutex for one operation and releases it on every path.
class MutexHold {
 public:
  explicit MutexHold(DiagnosticLog& log) : log_(log), held_(log.AcquireLogMutex()) {}
  ~MutexHold() {
    if (held_)
      log_.ReleaseLogMutex();
  }
  MutexHold(const MutexHold&) = delete;
  MutexHold& operator=(const MutexHold&) = delete;
  bool held() const { return held_; }

 private:
  DiagnosticLog& log_;
  bool held_;
};

bool ReadWholeFile(const std::wstring& path, std::string* data) {
  const UniqueHandle file =
      win::OwnFile(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file)
    return false;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 ||
      static_cast<unsigned long long>(size.QuadPart) > std::numeric_limits<size_t>::max() / 2) {
    return false;
  }
  data->resize(static_cast<size_t>(size.QuadPart));
  size_t done = 0;
  while (done < data->size()) {
    const DWORD want = static_cast<DWORD>(std::min<size_t>(data->size() - done, 1u << 30));
    DWORD got = 0;
    if (!ReadFile(file.get(), data->data() + done, want, &got, nullptr))
      return false;
    if (got == 0)
      break;
    done += got;
  }
  // A file that shrank meanwhile is read as far as it goes.
  data->resize(done);
  return true;
}

bool WriteAll(HANDLE file, std::string_view data) {
  while (!data.empty()) {
    const DWORD want = static_cast<DWORD>(std::min<size_t>(data.size(), 1u << 30));
    DWORD put = 0;
    if (!WriteFile(file, data.data(), want, &put, nullptr) || put == 0)
      return false;
    data.remove_prefix(put);
  }
  return true;
}

// Cuts the file to its last request records when it has grown past the line limit. The kept
// part is written to a side file first and then replaces the log, so that a failure on the
// way leaves the whole log in place.
void Trim(const std::wstring& path) {
  std::string data;
  if (!ReadWholeFile(path, &data))
    return;
  const size_t cut = TrimOffset(data);
  if (cut == std::string_view::npos)
    return;
  const std::wstring side = path + L".trim";
  {
    const UniqueHandle file = win::OwnFile(CreateFileW(
        side.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
      return;
    if (!WriteAll(file.get(), std::string_view(data).substr(cut)) ||
        !FlushFileBuffers(file.get())) {
      return;
    }
  }
  if (!MoveFileExW(side.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    DeleteFileW(side.c_str());
}

}  // namespace

std::wstring LogFilePath(const char* media_id) {
  if (media_id == nullptr || !IsValidMediaId(media_id))
    return {};
  wchar_t temp[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
  if (n == 0 || n > MAX_PATH)
    return {};
  std::wstring path(temp, n);
  path.append(L"KVN_");
  for (const char* p = media_id; *p != '\0'; ++p)
    path.push_back(static_cast<wchar_t>(*p));
  // The name fits the 260-character path buffer with its terminating NUL.
  if (path.size() >= MAX_PATH)
    return {};
  return path;
}

bool DiagnosticLog::AcquireLogMutex() {
  if (!mutex_) {
    HANDLE h = OpenMutexW(kMutexOpenAccess, FALSE, kLogMutexName);
    if (h == nullptr)
      h = CreateLogMutex();
    if (h == nullptr)
      return false;
    mutex_.reset(h);
  }
  const DWORD wait = WaitForSingleObject(mutex_.get(), kMutexWaitMs);
  return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

void DiagnosticLog::ReleaseLogMutex() {
  if (mutex_)
    ReleaseMutex(mutex_.get());
}

int DiagnosticLog::AppendLogRecord(const char* media_id, const char* name) {
  if (media_id == nullptr || name == nullptr)
    return 0;
  try {
    const MutexHold hold(*this);
    if (!hold.held())
      return 0;
    const std::wstring path = LogFilePath(media_id);
    if (path.empty())
      return 0;
    const std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
      return 0;
    SYSTEMTIME st;
    GetLocalTime(&st);
    const std::string line = FormatRecordLine(
        name, {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds});
    if (line.empty())
      return 0;
    {
      const UniqueHandle file = win::OwnFile(
          CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!file || !WriteAll(file.get(), line))
        return 0;
    }
    Trim(path);
    return 1;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

int DiagnosticLog::ReadLogTail(const char* media_id, int count, std::string* base64) {
  if (media_id == nullptr || base64 == nullptr)
    return 0;
  base64->clear();
  try {
    std::string text;
    {
      const MutexHold hold(*this);
      if (!hold.held())
        return 0;
      const std::wstring path = LogFilePath(media_id);
      std::string data;
      if (path.empty() || !ReadWholeFile(path, &data))
        return 0;
      text = TailText(data, count);
    }
    if (text.empty())
      return 0;
    *base64 = text::Base64Encode(text);
    return 1;
  } catch (const std::bad_alloc&) {
    base64->clear();
    return 0;
  }
}

int GetLogFileContent(const char* media_id, int line_num, std::string* base64) {
  DiagnosticLog log;
  return log.ReadLogTail(media_id, line_num, base64) == 1 ? 0 : kErrLogUnreadable;
}

}  // namespace koba::diaglog
