// The Firefox exports that need no NSS: a preference line in every profile, preference
// scripts in every installation, the browser plug-in registration, and closing a running
// Firefox before its preferences change.
#include <windows.h>

#include <shlobj.h>

#include <string>

#include "firefox_profiles.h"
#include "nsis_plugin.h"
#include "process_list.h"
#include "system_info.h"
#include "value_rules.h"
#include "win_handle.h"

namespace koba::installer::firefox {
namespace {

constexpr wchar_t kPrefFolder[] = L"\\defaults\\pref";
constexpr wchar_t kPluginsKey[] = L"SOFTWARE\\MozillaPlugins";
constexpr wchar_t kSettingsKey[] = L"Software\\Korvanet\\507Q2_KOBA";

REGSAM PluginsView() {
  return IsWow64() ? KEY_WOW64_32KEY : 0;
}

std::wstring FileNameOf(const std::wstring& path) {
  const size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

void AppendLine(const std::wstring& prefs, const std::string& line) {
  const win::UniqueHandle file = win::OwnFile(
      CreateFileW(prefs.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr));
  if (!file || SetFilePointer(file.get(), 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER)
    return;
  const std::string text = "\r\n" + line;
  DWORD written = 0;
  WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// The folder named by the user's "FFPrefPath" gets the script once; the value is then gone.
void CopyToUserPrefFolder(const std::wstring& source, const std::wstring& name) {
  HKEY raw = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_ALL_ACCESS, &raw) != ERROR_SUCCESS)
    return;
  const win::UniqueRegKey key(raw);
  wchar_t folder[MAX_PATH + 1] = {};
  DWORD size = MAX_PATH * sizeof(wchar_t);
  DWORD type = 0;
  if (RegQueryValueExW(key.get(), L"FFPrefPath", nullptr, &type, reinterpret_cast<BYTE*>(folder),
                       &size) != ERROR_SUCCESS ||
      type != REG_SZ)
    return;
  CopyFileW(source.c_str(), (std::wstring(folder) + L"\\" + name).c_str(), FALSE);
  RegDeleteValueW(key.get(), L"FFPrefPath");
}

std::wstring KeyString(HKEY key, const wchar_t* name) {
  wchar_t value[MAX_PATH + 1] = {};
  DWORD size = MAX_PATH * sizeof(wchar_t);
  DWORD type = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) !=
          ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ))
    return {};
  return std::wstring(value, wcsnlen(value, size / sizeof(wchar_t)));
}

// Stored without the terminating NUL, as the browsers' plug-in scanners read them.
void SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.data()),
                 static_cast<DWORD>(value.size() * sizeof(wchar_t)));
}

win::UniqueRegKey CreateKey(HKEY parent, const std::wstring& name, REGSAM view) {
  HKEY raw = nullptr;
  if (RegCreateKeyExW(parent, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &raw,
                      nullptr) != ERROR_SUCCESS)
    return nullptr;
  return win::UniqueRegKey(raw);
}

bool KeepRegistration(HKEY plugin, const std::wstring& version) {
  const std::wstring registered = KeyString(plugin, L"Version");
  const std::wstring path = KeyString(plugin, L"Path");
  if (registered.empty() || path.empty() ||
      GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
    return false;
  const Version old_version = ParseVersion(ToAnsi(registered));
  const Version new_version = ParseVersion(ToAnsi(version));
  return old_version == new_version || IsOlderAtAnyPlace(new_version, old_version);
}

void RegisterPlugin(const std::wstring (&a)[6]) {
  const std::wstring &id = a[0], &description = a[1], &file = a[2], &product = a[3],
                     &version = a[4], &mime = a[5];
  wchar_t program_files[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT,
                              program_files)))
    return;
  const std::wstring path =
      std::wstring(program_files) + L"\\KOBAEbankTools\\KOBAEbankPlugin\\" + file;
  const win::UniqueRegKey plugins = CreateKey(HKEY_LOCAL_MACHINE, kPluginsKey, PluginsView());
  if (!plugins)
    return;
  const win::UniqueRegKey plugin = CreateKey(plugins.get(), id, PluginsView());
  if (!plugin || KeepRegistration(plugin.get(), version))
    return;
  SetString(plugin.get(), L"Description", description);
  SetString(plugin.get(), L"Path", path);
  SetString(plugin.get(), L"ProductName", product);
  SetString(plugin.get(), L"Vendor", L"Korvanet Corporation");
  SetString(plugin.get(), L"Version", version);
  const win::UniqueRegKey type = CreateKey(plugin.get(), L"MimeTypes\\" + mime, PluginsView());
  if (type)
    SetString(type.get(), L"Description", description);
}

// Deletes a key and everything beneath it, first subkey after first subkey.
void DeleteTree(HKEY parent, const std::wstring& name) {
  if (RegDeleteKeyExW(parent, name.c_str(), PluginsView(), 0) == ERROR_SUCCESS)
    return;
  HKEY raw = nullptr;
  if (RegOpenKeyExW(parent, name.c_str(), 0, KEY_READ | PluginsView(), &raw) != ERROR_SUCCESS)
    return;
  const win::UniqueRegKey key(raw);
  for (;;) {
    wchar_t child[256] = {};
    DWORD length = 256;
    if (RegEnumKeyExW(key.get(), 0, child, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    const size_t before = length;
    DeleteTree(key.get(), child);
    // A child that cannot go would be enumerated again forever.
    wchar_t again[256] = {};
    length = 256;
    if (RegEnumKeyExW(key.get(), 0, again, &length, nullptr, nullptr, nullptr, nullptr) ==
            ERROR_SUCCESS &&
        length == before && wcscmp(again, child) == 0)
      break;
  }
  RegDeleteKeyExW(parent, name.c_str(), PluginsView(), 0);
}

}  // namespace
}  // namespace koba::installer::firefox

namespace ff = koba::installer::firefox;
namespace nsis = koba::installer::nsis;

KOBA_NSIS_EXPORT(FFox_PrefPath) {
  nsis::SetResult(ff::CurrentInstallDirectory() + ff::kPrefFolder);
}

KOBA_NSIS_EXPORT(FFox_CopyPref_ToJS) {
  nsis::Arg<> line;
  if (line.Take() != nsis::Pop::kTaken)
    return;
  std::string ansi = koba::installer::ToAnsi(line.text);
  if (ansi.empty())
    return;
  if (ansi.size() > MAX_PATH - 1)
    ansi.resize(MAX_PATH - 1);
  for (const ff::Profile& profile : ff::Profiles())
    ff::AppendLine(profile.folder + L"\\prefs.js", ansi);
}

KOBA_NSIS_EXPORT(FFox_CopyJSToPref) {
  nsis::Arg<> source;
  if (source.Take() != nsis::Pop::kTaken)
    return;
  const std::wstring name = ff::FileNameOf(source.text);
  ff::CopyToUserPrefFolder(source.text, name);
  for (const std::wstring& dir : ff::InstallDirectories()) {
    const std::wstring target = dir + ff::kPrefFolder + L"\\" + name;
    nsis::SetResult(CopyFileW(source.text, target.c_str(), FALSE) ? L"1" : L"0");
  }
}

KOBA_NSIS_EXPORT(FFox_DelJSFilePref) {
  nsis::Arg<> name;
  if (name.Take() != nsis::Pop::kTaken || name.view().empty())
    return;
  for (const std::wstring& dir : ff::InstallDirectories()) {
    const std::wstring target = dir + ff::kPrefFolder + L"\\" + name.text;
    nsis::SetResult(DeleteFileW(target.c_str()) ? L"1" : L"0");
  }
}

KOBA_NSIS_EXPORT(FFox_RegPlugin) {
  nsis::Arg<> args[6];
  std::wstring texts[6];
  for (int i = 0; i < 6; ++i) {
    if (args[i].Take() == nsis::Pop::kTooLong)
      return;
    texts[i] = args[i].text;
  }
  if (texts[0].empty())
    return;
  ff::RegisterPlugin(texts);
}

KOBA_NSIS_EXPORT(FFox_UnRegPlugin) {
  nsis::Arg<> id;
  if (id.Take() != nsis::Pop::kTaken || id.view().empty())
    return;
  HKEY raw = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, ff::kPluginsKey, 0, KEY_ALL_ACCESS | ff::PluginsView(),
                    &raw) != ERROR_SUCCESS)
    return;
  const koba::win::UniqueRegKey plugins(raw);
  ff::DeleteTree(plugins.get(), id.text);
}

// "0" nothing to close, "1" Firefox was ended, "2" the user keeps it running.
KOBA_NSIS_EXPORT(FindProc_firefox) {
  nsis::Arg<> marker, title, text, unused;
  if (marker.Take() == nsis::Pop::kTooLong || title.Take() == nsis::Pop::kTooLong ||
      text.Take() == nsis::Pop::kTooLong || unused.Take() == nsis::Pop::kTooLong)
    return;
  const std::string ansi_marker = koba::installer::ToAnsi(marker.text);
  const std::wstring message = std::wstring(text.text) + L"\r\n\r\n";
  for (;;) {
    if (koba::installer::FindProcess(L"firefox.exe") != koba::installer::kProcFound ||
        ff::DefaultProfileHasMarker(ansi_marker)) {
      nsis::SetVariable(nsis::kVar9, L"0");
      return;
    }
    // A box that cannot be shown counts as the user's refusal.
    if (MessageBoxW(nullptr, message.c_str(), title.text, MB_OKCANCEL | MB_TOPMOST) != IDOK) {
      nsis::SetVariable(nsis::kVar9, L"2");
      return;
    }
    if (koba::installer::EndFirstProcessNamed(L"firefox.exe")) {
      nsis::SetVariable(nsis::kVar9, L"1");
      return;
    }
  }
}
