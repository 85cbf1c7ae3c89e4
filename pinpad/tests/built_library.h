// Where the tests find the PIN pad library they exercise: the one built next to the test program.
#pragma once

#include <windows.h>

#include <string>

namespace VKey {

// The folder of the running program, with a trailing backslash.
inline std::wstring ProgramFolder() {
  wchar_t exe[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
  const std::wstring path(exe, n);
  return path.substr(0, path.find_last_of(L'\\') + 1);
}

inline std::wstring BuiltPinpadPath() {
  return ProgramFolder() + L"Q2Pinpad_KOBA.dll";
}

}  // namespace VKey
