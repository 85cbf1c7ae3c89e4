// The settings key shared by every deliverable, the registry-reading rules, the system library
// paths, the host's two version queries and the helpers that reach the tray monitor.
#pragma once

#include <windows.h>

#include <string>

namespace koba::settings {

// Under HKEY_LOCAL_MACHINE (machine settings) and HKEY_CURRENT_USER (per-user settings).
constexpr wchar_t kSettingsKey[] = L"Software\\Korvanet\\507Q2_KOBA";
// The native-messaging host's registration, whose "version" GetVersion reports.
constexpr wchar_t kHostRegistrationKey[] =
    L"SOFTWARE\\Microsoft\\Edge\\NativeMessagingHosts\\com.google.chrome.koba.kvn";

// Result code of the version queries when the value cannot be read.
constexpr int kErrVersionUnreadable = -101;
// The version queries read at most this many bytes, terminating NUL included.
constexpr DWORD kVersionBufferBytes = 32;

// Reads a REG_SZ or REG_EXPAND_SZ value into `buffer` of `capacity` bytes. The value must end
// with a NUL inside the buffer. Returns ERROR_SUCCESS, or the failure: the platform's code for
// a missing key or value, ERROR_MORE_DATA for a value too long for the buffer,
// ERROR_INVALID_DATA (13) for another type or a missing NUL. `buffer` holds an empty text
// after a failure.
LONG ReadRegString(HKEY root, const wchar_t* subkey, const wchar_t* value, char* buffer,
                   DWORD capacity);
LONG ReadRegStringW(HKEY root, const wchar_t* subkey, const wchar_t* value, wchar_t* buffer,
                    DWORD capacity_chars);
// Reads a REG_DWORD value; any other type or size is ERROR_INVALID_DATA.
LONG ReadRegDword(HKEY root, const wchar_t* subkey, const wchar_t* value, DWORD* out);

// Writes a REG_DWORD value, creating the key when needed.
LONG WriteRegDword(HKEY root, const wchar_t* subkey, const wchar_t* value, DWORD data);
// "UKeySN" under HKCU: REG_SZ without the terminating NUL in its data; the key is created when
// missing.
LONG WriteRegUKeySN(const char* media_id);
// "WarningMsg" under HKCU: the wide text up to its first NUL, at most 4096 characters (a longer
// text is refused with ERROR_INVALID_PARAMETER and nothing is written), stored as REG_SZ
// without the terminating NUL.
constexpr size_t kMaxWarningChars = 4096;
LONG WriteRegWarningMsg(const wchar_t* text, size_t max_chars);
// Deletes a value of the settings key; a value that is not there is no failure.
LONG DeleteRegValue(HKEY root, const wchar_t* value);

// True when this process is a 32-bit process on 64-bit Windows.
bool IsWow64();
// The full path of a system library; empty when it cannot be built.
std::wstring SystemLibraryPath(const wchar_t* name);

// The host's version queries: 0 and the text in `result` (of `capacity` bytes), or -101.
int GetDriverVersion(char* result, size_t capacity);
int GetVersion(char* result, size_t capacity);

// The tray monitor's hidden window and rescan event.
constexpr wchar_t kTrayWindowClass[] = L"VexloSvrClass_KOBA";
constexpr wchar_t kTrayWindowTitle[] = L"VexloSvr001_KOBA";
constexpr wchar_t kTrayRescanEvent[] = L"Vexlo_EventName_Q2Svr_KOBA.exe";
int IsTrayMonitorRunning();
int SignalTrayMonitor();

}  // namespace koba::settings
