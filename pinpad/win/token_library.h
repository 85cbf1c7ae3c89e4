// The token library's algorithm entry points, bound for the duration of one language load.
#pragma once

#include <string>

#include "token_alg.h"
#include "win_handles.h"

namespace VKey {

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
