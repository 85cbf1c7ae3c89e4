#include "system_info.h"

#include "code_page.h"
#include "settings.h"
#include "win_handle.h"

namespace koba::installer {

bool IsWow64() {
  return settings::IsWow64();
}

bool Has64BitView() {
  return sizeof(void*) == 8 || IsWow64();
}

bool GetOsVersion(OSVERSIONINFOEXW* info) {
  ZeroMemory(info, sizeof *info);
  info->dwOSVersionInfoSize = sizeof *info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  return GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(info)) != FALSE;
#pragma GCC diagnostic pop
}

void EnableDebugPrivilege() {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw))
    return;
  const win::UniqueHandle token(raw);
  TOKEN_PRIVILEGES privileges{};
  if (!LookupPrivilegeValueW(nullptr, SE_DEBUG_NAME, &privileges.Privileges[0].Luid))
    return;
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  AdjustTokenPrivileges(token.get(), FALSE, &privileges, sizeof privileges, nullptr, nullptr);
}

std::string ToAnsi(std::wstring_view text) {
  std::string ansi;
  text::Utf16ToAnsi(text, &ansi);
  return ansi;
}

}  // namespace koba::installer
