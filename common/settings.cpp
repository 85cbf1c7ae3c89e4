#include "settings.h"

#include <cstring>
#include <cwchar>

#include "system_library.h"
#include "system_path.h"
#include "win_handle.h"

namespace koba::settings {
namespace {

using win::UniqueRegKey;

LONG OpenKey(HKEY root, const wchar_t* subkey, REGSAM access, UniqueRegKey* key) {
  HKEY h = nullptr;
  const LONG rc = RegOpenKeyExW(root, subkey, 0, access, &h);
  if (rc == ERROR_SUCCESS)
    key->reset(h);
  return rc;
}

// Queries a string value as bytes; checks its type and that a NUL of `unit` bytes ends the
// text inside the data.
LONG QueryString(HKEY root, const wchar_t* subkey, const wchar_t* value, BYTE* data, DWORD capacity,
                 DWORD unit, bool wide) {
  if (data == nullptr || capacity < unit)
    return ERROR_INVALID_PARAMETER;
  std::memset(data, 0, unit);
  UniqueRegKey key;
  LONG rc = OpenKey(root, subkey, KEY_QUERY_VALUE, &key);
  if (rc != ERROR_SUCCESS)
    return rc;
  DWORD type = 0;
  DWORD size = capacity;
  if (wide) {
    rc = RegQueryValueExW(key.get(), value, nullptr, &type, data, &size);
  } else {
    // The ANSI query, so that the text arrives in the ANSI code page; it takes an ANSI name.
    char name[256];
    if (WideCharToMultiByte(CP_ACP, 0, value, -1, name, sizeof name, nullptr, nullptr) <= 0)
      return ERROR_INVALID_PARAMETER;
    rc = RegQueryValueExA(key.get(), name, nullptr, &type, data, &size);
  }
  auto fail = [&](LONG code) {
    std::memset(data, 0, unit);
    return code;
  };
  if (rc != ERROR_SUCCESS)
    return fail(rc);
  if (type != REG_SZ && type != REG_EXPAND_SZ)
    return fail(ERROR_INVALID_DATA);
  bool terminated = false;
  for (DWORD i = 0; i + unit <= size && !terminated; i += unit) {
    terminated = unit == 1 ? data[i] == 0 : (data[i] == 0 && data[i + 1] == 0);
  }
  if (!terminated)
    return fail(ERROR_INVALID_DATA);
  return ERROR_SUCCESS;
}

int ReadVersion(const wchar_t* subkey, char* result, size_t capacity) {
  if (result == nullptr || capacity == 0)
    return kErrVersionUnreadable;
  result[0] = '\0';
  char version[kVersionBufferBytes];
  if (ReadRegString(HKEY_LOCAL_MACHINE, subkey, L"version", version, sizeof version) !=
      ERROR_SUCCESS) {
    return kErrVersionUnreadable;
  }
  const size_t len = std::strlen(version);
  if (len >= capacity)
    return kErrVersionUnreadable;
  std::memcpy(result, version, len + 1);
  return 0;
}

}  // namespace

LONG ReadRegString(HKEY root, const wchar_t* subkey, const wchar_t* value, char* buffer,
                   DWORD capacity) {
  return QueryString(root, subkey, value, reinterpret_cast<BYTE*>(buffer), capacity, 1, false);
}

LONG ReadRegStringW(HKEY root, const wchar_t* subkey, const wchar_t* value, wchar_t* buffer,
                    DWORD capacity_chars) {
  if (capacity_chars > MAXDWORD / sizeof(wchar_t))
    return ERROR_INVALID_PARAMETER;
  return QueryString(root, subkey, value, reinterpret_cast<BYTE*>(buffer),
                     capacity_chars * sizeof(wchar_t), sizeof(wchar_t), true);
}

LONG ReadRegDword(HKEY root, const wchar_t* subkey, const wchar_t* value, DWORD* out) {
  if (out == nullptr)
    return ERROR_INVALID_PARAMETER;
  UniqueRegKey key;
  LONG rc = OpenKey(root, subkey, KEY_QUERY_VALUE, &key);
  if (rc != ERROR_SUCCESS)
    return rc;
  DWORD type = 0;
  DWORD data = 0;
  DWORD size = sizeof data;
  rc = RegQueryValueExW(key.get(), value, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
  if (rc == ERROR_MORE_DATA)
    return ERROR_INVALID_DATA;
  if (rc != ERROR_SUCCESS)
    return rc;
  if (type != REG_DWORD || size != sizeof data)
    return ERROR_INVALID_DATA;
  *out = data;
  return ERROR_SUCCESS;
}

LONG WriteRegDword(HKEY root, const wchar_t* subkey, const wchar_t* value, DWORD data) {
  HKEY h = nullptr;
  const LONG rc = RegCreateKeyExW(root, subkey, 0, nullptr, 0, KEY_WRITE, nullptr, &h, nullptr);
  if (rc != ERROR_SUCCESS)
    return rc;
  const UniqueRegKey key(h);
  return RegSetValueExW(key.get(), value, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                        sizeof data);
}

LONG WriteRegUKeySN(const char* media_id) {
  if (media_id == nullptr)
    return ERROR_INVALID_PARAMETER;
  const size_t len = std::strlen(media_id);
  if (len > MAXDWORD)
    return ERROR_INVALID_PARAMETER;
  // The key is created when it is missing: the first key ever asked for has its media ID kept.
  HKEY h = nullptr;
  const LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE,
                                  nullptr, &h, nullptr);
  if (rc != ERROR_SUCCESS)
    return rc;
  const UniqueRegKey key(h);
  return RegSetValueExA(key.get(), "UKeySN", 0, REG_SZ, reinterpret_cast<const BYTE*>(media_id),
                        static_cast<DWORD>(len));
}

LONG WriteRegWarningMsg(const wchar_t* text, size_t max_chars) {
  if (text == nullptr)
    return ERROR_INVALID_PARAMETER;
  const size_t len = wcsnlen(text, max_chars);
  if (len > kMaxWarningChars)
    return ERROR_INVALID_PARAMETER;
  HKEY h = nullptr;
  const LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_WRITE,
                                  nullptr, &h, nullptr);
  if (rc != ERROR_SUCCESS)
    return rc;
  const UniqueRegKey key(h);
  return RegSetValueExW(key.get(), L"WarningMsg", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                        static_cast<DWORD>(len * sizeof(wchar_t)));
}

LONG DeleteRegValue(HKEY root, const wchar_t* value) {
  UniqueRegKey key;
  LONG rc = OpenKey(root, kSettingsKey, KEY_SET_VALUE, &key);
  if (rc == ERROR_FILE_NOT_FOUND)
    return ERROR_SUCCESS;
  if (rc != ERROR_SUCCESS)
    return rc;
  rc = RegDeleteValueW(key.get(), value);
  return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

bool IsWow64() {
  using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
  const HMODULE kernel = GetModuleHandleW(L"kernel32");
  if (kernel == nullptr)
    return false;
  const auto fn = reinterpret_cast<IsWow64ProcessFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")));
  BOOL wow64 = FALSE;
  return fn != nullptr && fn(GetCurrentProcess(), &wow64) && wow64;
}

std::wstring SystemLibraryPath(const wchar_t* name) {
  if (name == nullptr)
    return {};
  wchar_t dir[MAX_PATH];
  const UINT n = GetSystemWindowsDirectoryW(dir, MAX_PATH);
  if (n == 0 || n >= MAX_PATH)
    return {};
  return BuildSystemLibraryPath({dir, n}, IsWow64(), name);
}

int GetDriverVersion(char* result, size_t capacity) {
  return ReadVersion(kSettingsKey, result, capacity);
}

int GetVersion(char* result, size_t capacity) {
  return ReadVersion(kHostRegistrationKey, result, capacity);
}

int IsTrayMonitorRunning() {
  static const win::SystemLibrary user32(L"user32.dll");
  decltype(&FindWindowW) find_window = nullptr;
  if (!user32.Resolve("FindWindowW", &find_window))
    return 0;
  return find_window(kTrayWindowClass, kTrayWindowTitle) != nullptr ? 1 : 0;
}

int SignalTrayMonitor() {
  const win::UniqueHandle event(OpenEventW(EVENT_ALL_ACCESS, FALSE, kTrayRescanEvent));
  if (!event)
    return 0;
  return SetEvent(event.get()) ? 1 : 0;
}

}  // namespace koba::settings
