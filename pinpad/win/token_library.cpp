#include "token_library.h"

#include <windows.h>

namespace VKey {

namespace {

bool IsWow64() {
  using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, BOOL*);
  const HMODULE kernel = GetModuleHandleW(L"kernel32");
  const auto isWow64Process = kernel ? reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void*>(
                                           GetProcAddress(kernel, "IsWow64Process")))
                                     : nullptr;
  BOOL wow64 = FALSE;
  return isWow64Process != nullptr && isWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

}  // namespace

std::wstring SystemLibraryPath(const wchar_t* fileName) {
  wchar_t windows[MAX_PATH] = {};
  const UINT n = GetSystemWindowsDirectoryW(windows, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) {
    return {};
  }
  std::wstring path = std::wstring(windows, n) + (IsWow64() ? L"\\SysWow64\\" : L"\\System32\\");
  path += fileName;
  return path.size() < MAX_PATH ? path : std::wstring();
}

TokenLibrary::TokenLibrary() {
  const std::wstring path = SystemLibraryPath(L"Q2Token_koba.dll");
  if (path.empty()) {
    return;
  }
  module_.reset(LoadLibraryW(path.c_str()));
  if (!module_) {
    return;
  }
  const auto digest = reinterpret_cast<ALG_Digest_t>(
      reinterpret_cast<void*>(GetProcAddress(module_.get(), "ALG_Digest")));
  const auto decrypt = reinterpret_cast<ALG_DesDecrypt_t>(
      reinterpret_cast<void*>(GetProcAddress(module_.get(), "ALG_DesDecrypt")));
  if (digest != nullptr && decrypt != nullptr) {
    alg_ = TokenAlg{digest, decrypt};
  }
}

}  // namespace VKey
