// The one rule for file paths that a web page supplies (GMUsbKeySign's file, the files of the
// file-signing operations): only a name by which a local file of the user can be reached is
// accepted. A page must not make the host open a device, a pipe, another machine's share
// (which would authenticate to a server the page picks), an alternate data stream, or a path
// relative to wherever the host happens to run. Windows-free.
#pragma once

#include <string>
#include <string_view>

namespace koba::paths {

enum class PathVerdict {
  kAccepted,
  kEmpty,
  kNotAbsolute,      // relative, drive-relative ("C:a") or rooted without a drive ("\a")
  kDeviceNamespace,  // "\\?\", "\\.\", "\??\" and their forward-slash spellings
  kUnc,              // "\\server\share"
  kStream,           // a colon after the drive: "C:\a.txt:secret", "C:\a.txt::$DATA"
  kReservedName,     // CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$, CONOUT$, with any extension
  kBadCharacter,     // control characters, < > " | ? *
  kNoFileName,       // ends with a separator
  kTooLong,
};

// Longest path accepted, in UTF-16 units.
constexpr size_t kMaxPagePath = 32767;

// Whether `path` (UTF-16, as the file system receives it) names a local file: a drive letter,
// a colon, a separator ("\" or "/"), then components free of reserved device names, stream
// separators and characters Windows refuses in file names. Repeated separators are allowed:
// the file system treats them as one.
PathVerdict CheckPagePath(std::u16string_view path);

inline bool IsAcceptedPagePath(std::u16string_view path) {
  return CheckPagePath(path) == PathVerdict::kAccepted;
}

// The host's records carry paths with every backslash doubled, left to right ("C:\a" ->
// "C:\\a"); Undouble turns every pair back into one and leaves a single backslash alone.
std::string DoubleBackslashes(std::string_view text);
std::string UndoubleBackslashes(std::string_view text);

// A short English name of the verdict, for test output and the diagnostic log.
const char* VerdictName(PathVerdict verdict);

}  // namespace koba::paths
