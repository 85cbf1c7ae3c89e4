#include "run_value.h"

#include <windows.h>

#include <string>

#include "settings.h"
#include "win_handle.h"

namespace koba::service {
namespace {

// The longest Run value and install path read, in characters with the NUL.
constexpr DWORD kPathChars = MAX_PATH;

}  // namespace

void EnsureRunValue(const wchar_t* file_name) {
  const REGSAM access = KEY_ALL_ACCESS | (settings::IsWow64() ? KEY_WOW64_32KEY : 0);
  HKEY raw = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, access, &raw) != ERROR_SUCCESS)
    return;
  const win::UniqueRegKey run(raw);

  wchar_t current[kPathChars];
  if (settings::ReadRegStringW(run.get(), nullptr, file_name, current, kPathChars) ==
          ERROR_SUCCESS &&
      std::wstring_view(current).find(file_name) != std::wstring_view::npos) {
    return;
  }

  wchar_t install_path[kPathChars];
  if (settings::ReadRegStringW(HKEY_LOCAL_MACHINE, settings::kSettingsKey, L"InstallPath",
                               install_path, kPathChars) != ERROR_SUCCESS) {
    install_path[0] = L'\0';
  }
  const std::wstring data = std::wstring(install_path) + L"\\" + file_name;
  RegSetValueExW(run.get(), file_name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                 static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
}

}  // namespace koba::service
