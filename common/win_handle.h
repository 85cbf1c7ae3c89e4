// Owners for the Windows handles and allocations of the shared services.
#pragma once

#include <windows.h>

#include <memory>

namespace koba::win {

struct HandleCloser {
  void operator()(HANDLE h) const {
    if (h != nullptr && h != INVALID_HANDLE_VALUE)
      CloseHandle(h);
  }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

// A file handle: INVALID_HANDLE_VALUE becomes empty.
inline UniqueHandle OwnFile(HANDLE h) {
  return UniqueHandle(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

struct RegKeyCloser {
  void operator()(HKEY k) const { RegCloseKey(k); }
};
using UniqueRegKey = std::unique_ptr<std::remove_pointer_t<HKEY>, RegKeyCloser>;

struct LocalFreer {
  void operator()(void* p) const { LocalFree(p); }
};
template <typename T>
using UniqueLocal = std::unique_ptr<T, LocalFreer>;

struct ModuleFreer {
  void operator()(HMODULE m) const { FreeLibrary(m); }
};
using UniqueModule = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleFreer>;

}  // namespace koba::win
