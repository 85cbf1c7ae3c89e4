// Owners of the Windows handles the library uses.
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

namespace VKey {

struct RegKeyCloser {
  void operator()(HKEY key) const { RegCloseKey(key); }
};
using RegKey = std::unique_ptr<std::remove_pointer_t<HKEY>, RegKeyCloser>;

struct HandleCloser {
  void operator()(HANDLE handle) const {
    if (handle != INVALID_HANDLE_VALUE) {
      CloseHandle(handle);
    }
  }
};
using FileHandle = std::unique_ptr<void, HandleCloser>;

struct ModuleFreer {
  void operator()(HMODULE module) const { FreeLibrary(module); }
};
using Module = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleFreer>;

}  // namespace VKey
