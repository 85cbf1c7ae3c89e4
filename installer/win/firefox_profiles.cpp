#include "firefox_profiles.h"

#include <windows.h>

#include <shlobj.h>

#include <string>

#include "system_info.h"
#include "win_handle.h"

namespace koba::installer::firefox {
namespace {

constexpr wchar_t kFirefoxKey[] = L"SOFTWARE\\Mozilla\\Mozilla Firefox";
constexpr wchar_t kAuroraKey[] = L"SOFTWARE\\Mozilla\\Aurora";

bool IsAbsolute(const std::wstring& path) {
  return (path.size() >= 2 && path[1] == L':') ||
         (path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\');
}

std::wstring IniString(const std::wstring& ini, const std::wstring& section, const wchar_t* key) {
  wchar_t value[MAX_PATH] = {};
  GetPrivateProfileStringW(section.c_str(), key, L"", value, MAX_PATH, ini.c_str());
  return value;
}

// A string value of HKLM in the 32-bit view; empty when missing.
std::wstring MachineString(const std::wstring& subkey, const wchar_t* name) {
  HKEY raw = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, &raw) !=
      ERROR_SUCCESS)
    return {};
  const win::UniqueRegKey key(raw);
  wchar_t value[MAX_PATH + 1] = {};
  DWORD size = MAX_PATH * sizeof(wchar_t);
  DWORD type = 0;
  if (RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ)
    return {};
  return value;
}

void AppendInstallDirectories(const wchar_t* product, std::vector<std::wstring>* dirs) {
  HKEY raw = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, product, 0, KEY_READ | KEY_WOW64_32KEY, &raw) !=
      ERROR_SUCCESS)
    return;
  const win::UniqueRegKey key(raw);
  for (DWORD i = 0;; ++i) {
    wchar_t version[256] = {};
    DWORD length = 256;
    const LONG status =
        RegEnumKeyExW(key.get(), i, version, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS)
      return;
    if (status != ERROR_SUCCESS)
      continue;
    const std::wstring dir =
        MachineString(std::wstring(product) + L"\\" + version + L"\\Main", L"Install Directory");
    if (!dir.empty())
      dirs->push_back(dir);
  }
}

}  // namespace

std::wstring AppDataFolder() {
  wchar_t folder[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)))
    return {};
  return folder;
}

std::wstring ProfilesIni() {
  return AppDataFolder() + L"\\Mozilla\\Firefox\\profiles.ini";
}

std::vector<Profile> Profiles() {
  std::vector<Profile> profiles;
  const std::wstring ini = ProfilesIni();
  for (int i = 0;; ++i) {
    const std::wstring section = L"Profile" + std::to_wstring(i);
    const std::wstring path = IniString(ini, section, L"Path");
    if (path.empty())
      return profiles;
    profiles.push_back({IsAbsolute(path) ? path : AppDataFolder() + L"\\Mozilla\\Firefox\\" + path,
                        IniString(ini, section, L"Default")});
  }
}

std::vector<std::wstring> InstallDirectories() {
  std::vector<std::wstring> dirs;
  AppendInstallDirectories(kFirefoxKey, &dirs);
  AppendInstallDirectories(kAuroraKey, &dirs);
  return dirs;
}

std::wstring CurrentInstallDirectory() {
  const std::wstring version = MachineString(kFirefoxKey, L"CurrentVersion");
  if (version.empty())
    return {};
  return MachineString(std::wstring(kFirefoxKey) + L"\\" + version + L"\\Main",
                       L"Install Directory");
}

bool DefaultProfileHasMarker(const std::string& marker) {
  const std::vector<Profile> profiles = Profiles();
  const Profile* chosen = nullptr;
  if (profiles.size() == 1) {
    chosen = &profiles[0];
  } else {
    for (const Profile& profile : profiles) {
      if (profile.default_value == L"1") {
        chosen = &profile;
        break;
      }
      if (!profile.default_value.empty())
        break;
    }
  }
  if (chosen == nullptr)
    return true;
  // Firefox holds prefs.js open while it runs; a copy can be read.
  const std::wstring copy = chosen->folder + L"\\prefs_koba_kvn.js";
  if (!CopyFileW((chosen->folder + L"\\prefs.js").c_str(), copy.c_str(), FALSE))
    return false;
  std::string content;
  {
    const win::UniqueHandle file = win::OwnFile(CreateFileW(
        copy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    DWORD high = 0;
    const DWORD size = file ? GetFileSize(file.get(), &high) : INVALID_FILE_SIZE;
    if (size != INVALID_FILE_SIZE && high == 0) {
      content.resize(size);
      DWORD got = 0;
      if (!ReadFile(file.get(), &content[0], size, &got, nullptr))
        got = 0;
      content.resize(got);
    }
  }
  DeleteFileW(copy.c_str());
  return content.find("\r\n" + marker) != std::string::npos;
}

}  // namespace koba::installer::firefox
