// The token library's algorithm entry points, bound for the duration of one language load.
#pragma once

#include <string>

#include "token_alg.h"
#include "win_handles.h"

namespace VKey {

// The system-wide library folder for a file name: the Windows folder followed by "SysWow64"
// for a 32-bit process on 64-bit Windows, else "System32".
std::wstring SystemLibraryPath(const wchar_t* fileName);

class TokenLibrary {
 public:
  TokenLibrary();
  // Both entry points, or none when the library or a name is missing.
  TokenAlg alg() const { return alg_; }

 private:
  Module module_;
  TokenAlg alg_;
};

}  // namespace VKey
