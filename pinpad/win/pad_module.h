// The library's module handle and its own activation context, which selects the common controls
// version 6 named in the library's manifest for every window the library makes.
#pragma once

#include <windows.h>

namespace VKey {

HMODULE PadModule();
// Recorded when the library is loaded.
void SetPadModule(HMODULE module);
// Releases the activation context when the library is unloaded.
void ReleaseLibraryContext();

// Activates the library's activation context for its lifetime (nothing when it cannot be made).
class ActivationScope {
 public:
  ActivationScope();
  ~ActivationScope();
  ActivationScope(const ActivationScope&) = delete;
  ActivationScope& operator=(const ActivationScope&) = delete;

 private:
  ULONG_PTR cookie_ = 0;
  bool active_ = false;
};

}  // namespace VKey
