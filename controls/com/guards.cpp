#include "guards.h"

#include <windows.h>

namespace koba::com {

bool DebuggerPresent() {
  BOOL remote = FALSE;
  return IsDebuggerPresent() ||
         (CheckRemoteDebuggerPresent(GetCurrentProcess(), &remote) && remote);
}

bool VendorLibrariesTrusted() {
  return true;
}

}  // namespace koba::com
