#include "win_text_env.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "utf.h"
#include "win_handles.h"

namespace VKey {

namespace {

constexpr size_t kInstallPathChars = 260;
constexpr DWORD kReadChunk = 1024;

RegKey OpenKey(HKEY root, const std::wstring& path, REGSAM access) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, access, &key) != ERROR_SUCCESS) {
    return nullptr;
  }
  return RegKey(key);
}

void WriteDword(HKEY root, const std::wstring& path, const wchar_t* name, uint32_t value) {
  HKEY raw = nullptr;
  if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &raw, nullptr) !=
      ERROR_SUCCESS) {
    return;
  }
  RegKey key(raw);
  const DWORD data = value;
  RegSetValueExW(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
}

}  // namespace

std::optional<std::wstring> ReadRegString(HKEY key, const wchar_t* name, size_t maxChars) {
  std::vector<wchar_t> buffer(maxChars, L'\0');
  DWORD type = 0;
  DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &bytes) !=
          ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ)) {
    return std::nullopt;
  }
  const size_t chars = bytes / sizeof(wchar_t);
  for (size_t i = 0; i < chars; ++i) {
    if (buffer[i] == L'\0') {
      return std::wstring(buffer.data(), i);
    }
  }
  return std::nullopt;
}

std::optional<uint32_t> ReadRegDword(HKEY key, const wchar_t* name) {
  DWORD type = 0;
  DWORD value = 0;
  DWORD bytes = sizeof value;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &bytes) !=
          ERROR_SUCCESS ||
      type != REG_DWORD || bytes != sizeof value) {
    return std::nullopt;
  }
  return value;
}

std::optional<TextEnv::MachineSettings> WinTextEnv::ReadMachineSettings() {
  const RegKey key = OpenKey(HKEY_LOCAL_MACHINE, keyPath_, KEY_QUERY_VALUE);
  if (!key) {
    return std::nullopt;
  }
  MachineSettings settings;
  if (const auto path = ReadRegString(key.get(), L"InstallPath", kInstallPathChars)) {
    std::string utf8;
    if (Utf16ToUtf8(std::u16string(path->begin(), path->end()), &utf8)) {
      settings.installPath = std::move(utf8);
    }
  }
  settings.langId = ReadRegDword(key.get(), L"LangId");
  return settings;
}

std::optional<uint32_t> WinTextEnv::ReadUserLangId() {
  const RegKey key = OpenKey(HKEY_CURRENT_USER, keyPath_, KEY_QUERY_VALUE);
  return key ? ReadRegDword(key.get(), L"LangId") : std::nullopt;
}

UserLangSettings WinTextEnv::ReadUserLangSettings() {
  UserLangSettings settings;
  const RegKey key = OpenKey(HKEY_CURRENT_USER, keyPath_, KEY_QUERY_VALUE);
  if (!key) {
    return settings;
  }
  settings.keyExists = true;
  settings.uiLang = ReadRegDword(key.get(), L"UILang");
  settings.uiSupport = ReadRegDword(key.get(), L"UISupport");
  return settings;
}

uint32_t WinTextEnv::SystemDefaultLangId() {
  return GetSystemDefaultLangID();
}

void WinTextEnv::WriteMachineAndUserLangId(uint32_t langId) {
  WriteDword(HKEY_LOCAL_MACHINE, keyPath_, L"LangId", langId);
  WriteDword(HKEY_CURRENT_USER, keyPath_, L"LangId", langId);
}

void WinTextEnv::WriteUserLangId(uint32_t langId) {
  WriteDword(HKEY_CURRENT_USER, keyPath_, L"LangId", langId);
}

int WinTextEnv::ReadFile(const std::string& path, std::vector<unsigned char>* bytes) {
  std::u16string wide;
  if (!Utf8ToUtf16(path, &wide)) {
    return ERROR_INVALID_NAME;
  }
  const std::wstring name(wide.begin(), wide.end());
  FileHandle file(CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) {
    return static_cast<int>(GetLastError());
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size)) {
    return static_cast<int>(GetLastError());
  }
  if (size.QuadPart > static_cast<LONGLONG>(TextTable::kMaxFileSize)) {
    return ERROR_FILE_TOO_LARGE;
  }
  bytes->assign(static_cast<size_t>(size.QuadPart), 0);
  size_t total = 0;
  while (total < bytes->size()) {
    const DWORD want = static_cast<DWORD>(std::min<size_t>(kReadChunk, bytes->size() - total));
    DWORD got = 0;
    if (!::ReadFile(file.get(), bytes->data() + total, want, &got, nullptr)) {
      return static_cast<int>(GetLastError());
    }
    if (got == 0) {
      break;
    }
    total += got;
  }
  if (total != bytes->size()) {
    return ERROR_HANDLE_EOF;
  }
  return 0;
}

}  // namespace VKey
