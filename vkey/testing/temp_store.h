// For the Windows tests that lay out virtual keys in their own process: an empty key store of
// the test's own for the lifetime of the object, and the paths of the build's libraries.
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>

namespace vkey::testing {

// A fresh store folder under %TEMP%, named in the process's environment (so the stand-ins
// loaded by the test use it) and removed again at the end. Button polls are made fast.
class TempStore {
 public:
  TempStore() {
    static int counter = 0;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"koba-vkey-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
              std::to_wstring(++counter);
    CreateDirectoryW(folder_.c_str(), nullptr);
    SetEnvironmentVariableW(L"KOBA_VKEY_STORE", folder_.c_str());
    SetEnvironmentVariableW(L"KOBA_VKEY_POLL_MS", L"20");
  }
  ~TempStore() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  TempStore(const TempStore&) = delete;
  TempStore& operator=(const TempStore&) = delete;

 private:
  std::wstring folder_;
};

// A path relative to the test program's folder ("..\\vkey\\Q2Token_koba.dll").
inline std::wstring BesideTest(const wchar_t* relative) {
  wchar_t exe[MAX_PATH];
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring dir(exe);
  dir.resize(dir.find_last_of(L'\\') + 1);
  return dir + relative;
}

}  // namespace vkey::testing
