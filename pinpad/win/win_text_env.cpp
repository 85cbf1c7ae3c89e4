#include "win_text_env.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "settings.h"
#include "text_encoding.h"
#include "wide_text.h"
#include "win_handles.h"

namespace VKey {

namespace {

constexpr size_t kInstallPathChars = 260;
constexpr DWORD kReadChunk = 1024;

bool KeyExists(HKEY root, const std::wstring& path) {
  HKEY raw = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, &raw) != ERROR_SUCCESS) {
    return false;
  }
  const RegKey key(raw);
  return true;
}

}  // namespace

std::optional<std::wstring> ReadRegString(HKEY root, const std::wstring& subkey,
                                          const wchar_t* name, size_t maxChars) {
  std::vector<wchar_t> buffer(maxChars, L'\0');
  if (maxChars == 0 ||
      koba::settings::ReadRegStringW(root, subkey.c_str(), name, buffer.data(),
                                     static_cast<DWORD>(buffer.size())) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::wstring(buffer.data());
}

std::optional<uint32_t> ReadRegDword(HKEY root, const std::wstring& subkey, const wchar_t* name) {
  DWORD value = 0;
  if (koba::settings::ReadRegDword(root, subkey.c_str(), name, &value) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return value;
}

std::optional<TextEnv::MachineSettings> WinTextEnv::ReadMachineSettings() {
  if (!KeyExists(HKEY_LOCAL_MACHINE, keyPath_)) {
    return std::nullopt;
  }
  MachineSettings settings;
  if (const auto path =
          ReadRegString(HKEY_LOCAL_MACHINE, keyPath_, L"InstallPath", kInstallPathChars)) {
    std::string utf8;
    if (koba::text::Utf16ToUtf8(Utf16(*path), &utf8)) {
      settings.installPath = std::move(utf8);
    }
  }
  settings.langId = ReadRegDword(HKEY_LOCAL_MACHINE, keyPath_, L"LangId");
  return settings;
}

std::optional<uint32_t> WinTextEnv::ReadUserLangId() {
  return ReadRegDword(HKEY_CURRENT_USER, keyPath_, L"LangId");
}

UserLangSettings WinTextEnv::ReadUserLangSettings() {
  UserLangSettings settings;
  if (!KeyExists(HKEY_CURRENT_USER, keyPath_)) {
    return settings;
  }
  settings.keyExists = true;
  settings.uiLang = ReadRegDword(HKEY_CURRENT_USER, keyPath_, L"UILang");
  settings.uiSupport = ReadRegDword(HKEY_CURRENT_USER, keyPath_, L"UISupport");
  return settings;
}

uint32_t WinTextEnv::SystemDefaultLangId() {
  return GetSystemDefaultLangID();
}

void WinTextEnv::WriteMachineAndUserLangId(uint32_t langId) {
  koba::settings::WriteRegDword(HKEY_LOCAL_MACHINE, keyPath_.c_str(), L"LangId", langId);
  koba::settings::WriteRegDword(HKEY_CURRENT_USER, keyPath_.c_str(), L"LangId", langId);
}

void WinTextEnv::WriteUserLangId(uint32_t langId) {
  koba::settings::WriteRegDword(HKEY_CURRENT_USER, keyPath_.c_str(), L"LangId", langId);
}

int WinTextEnv::ReadFile(const std::string& path, std::vector<unsigned char>* bytes) {
  std::u16string wide;
  if (!koba::text::Utf8ToUtf16(path, &wide)) {
    return ERROR_INVALID_NAME;
  }
  const std::wstring name = Wide(wide);
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
