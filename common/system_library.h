// System-folder libraries loaded by their full path when the code that needs them runs, not
// when the program starts. The shared services call user32, crypt32 and ole32 for a few
// operations only; as load-time imports they would make every start of every program pay for
// them (tens of milliseconds each under Wine), whether or not it ever calls them.
#pragma once

#include <windows.h>

#include "win_handle.h"

namespace koba::win {

// One system library, loaded for the owner's lifetime. As a function-local static beside the
// calls that need it, it is loaded on first use and stays for the rest of the process.
class SystemLibrary {
 public:
  // Loads `file_name` from the system folder (System32, or SysWow64 for a 32-bit process on
  // 64-bit Windows); loaded() tells whether that worked.
  explicit SystemLibrary(const wchar_t* file_name);

  bool loaded() const { return module_ != nullptr; }

  // Sets `*out` to the library's function `name` as the type F (declare it with
  // decltype(&TheFunction), which does not import it). False, and null, when the library or
  // the name is missing.
  template <class F>
  bool Resolve(const char* name, F* out) const {
    // The detour through void(*)() is the conversion the compiler accepts between unrelated
    // function pointer types.
    *out =
        module_ != nullptr
            ? reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module_.get(), name)))
            : nullptr;
    return *out != nullptr;
  }

 private:
  UniqueModule module_;
};

}  // namespace koba::win
