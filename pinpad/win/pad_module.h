// The library's module handle, its own activation context, which selects the common controls
// version 6 named in the library's manifest for every window the library makes, and the loading
// of the system libraries it delay-imports (pinpad/CMakeLists.txt): each is loaded from the
// system folder by the first call into it, comctl32 under the library's activation context.
#pragma once

#include <windows.h>

namespace VKey {

HMODULE PadModule();
// Recorded when the library is loaded.
void SetPadModule(HMODULE module);
// Releases the activation context when the library is unloaded.
void ReleaseLibraryContext();
// Frees the delay-imported system libraries that calls of this load have loaded; when the
// library is unloaded, after the last call into them.
void ReleaseDelayLoadedLibraries();

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
