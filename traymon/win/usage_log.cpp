#include "usage_log.h"

#include <windows.h>
// After windows.h.
#include <lmcons.h>
#include <sddl.h>
#include <shlobj.h>

#include "win_handle.h"

namespace koba::traymon {
namespace {

// Full access for everyone, administrators, users, authenticated users and the system,
// inherited by the files: the tray monitors of every session write here.
constexpr wchar_t kFolderSddl[] =
    L"D:(A;OICI;GAGRGWGXFAFRFRFXRPWPCCDCLCSWLODTCR;;;WD)"
    L"(A;OICI;GAGRGWGXFAFRFRFXRPWPCCDCLCSWLODTCR;;;BA)"
    L"(A;OICI;GAGRGWGXFAFRFRFXRPWPCCDCLCSWLODTCR;;;BU)"
    L"(A;OICI;GAGRGWGXFAFRFRFXRPWPCCDCLCSWLODTCR;;;AU)"
    L"(A;OICI;GAGRGWGXFAFRFRFXRPWPCCDCLCSWLODTCR;;;SY)";
constexpr const wchar_t* kFileNames[2] = {L"koba_kvnkey_1.uklog", L"koba_kvnkey_2.uklog"};

void SetHidden(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES)
    SetFileAttributesW(path.c_str(), attributes | FILE_ATTRIBUTE_HIDDEN);
}

bool MakeFolder(const std::wstring& folder) {
  win::UniqueLocal<void> sd;
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kFolderSddl, SDDL_REVISION_1, &raw,
                                                            nullptr)) {
    return false;
  }
  sd.reset(raw);
  SECURITY_ATTRIBUTES sa{sizeof sa, sd.get(), FALSE};
  if (!CreateDirectoryW(folder.c_str(), &sa) && GetLastError() != ERROR_ALREADY_EXISTS)
    return false;
  SetHidden(folder);
  return true;
}

// Size and last-write time of a file, creating it empty and hidden when it is missing.
bool LookUp(const std::wstring& path, UsageFileState* state) {
  WIN32_FIND_DATAW found;
  const HANDLE find = FindFirstFileW(path.c_str(), &found);
  if (find != INVALID_HANDLE_VALUE) {
    FindClose(find);
    state->existed = true;
    state->size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    state->last_write = (static_cast<uint64_t>(found.ftLastWriteTime.dwHighDateTime) << 32) |
                        found.ftLastWriteTime.dwLowDateTime;
    return true;
  }
  const win::UniqueHandle file(win::OwnFile(CreateFileW(
      path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr)));
  if (!file && GetLastError() != ERROR_FILE_EXISTS)
    return false;
  *state = UsageFileState{};
  return true;
}

bool Empty(const std::wstring& path) {
  // Truncating keeps the hidden attribute (re-creating a hidden file would be refused).
  return win::OwnFile(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  TRUNCATE_EXISTING, 0, nullptr)) != nullptr;
}

std::string UserName() {
  char name[UNLEN + 1] = {};
  DWORD size = sizeof name;
  return GetUserNameA(name, &size) ? std::string(name) : std::string();
}

}  // namespace

std::wstring UsageLogFolder(const std::wstring& common_app_data) {
  return common_app_data + L"\\KOBAUkeyLog";
}

bool ChooseUsageLogFile(std::wstring* path) {
  wchar_t app_data[MAX_PATH] = {};
  if (!SHGetSpecialFolderPathW(nullptr, app_data, CSIDL_COMMON_APPDATA, FALSE))
    return false;
  const std::wstring folder = UsageLogFolder(app_data);
  if (!MakeFolder(folder))
    return false;
  std::wstring files[2];
  UsageFileState states[2];
  for (int i = 0; i < 2; ++i) {
    files[i] = folder + L"\\" + kFileNames[i];
    if (!LookUp(files[i], &states[i]))
      return false;
  }
  const UsageFileChoice choice = ChooseUsageFile(states[0], states[1]);
  if (choice.empty_it && !Empty(files[choice.index]))
    return false;
  *path = files[choice.index];
  return true;
}

void WriteUsageRecord(UsageEvent event, const char* serial) {
  if (serial == nullptr)
    return;
  std::wstring path;
  if (!ChooseUsageLogFile(&path))
    return;
  SYSTEMTIME st;
  GetLocalTime(&st);
  const diaglog::LocalTime t = {st.wYear,   st.wMonth,  st.wDay,         st.wHour,
                                st.wMinute, st.wSecond, st.wMilliseconds};
  const std::string record = FormatUsageRecord(t, UserName(), serial, event);
  if (record.empty())
    return;
  const std::string line = UsageLine(record);
  const win::UniqueHandle file(
      win::OwnFile(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_ALWAYS, 0, nullptr)));
  if (!file)
    return;
  DWORD written = 0;
  WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace koba::traymon
