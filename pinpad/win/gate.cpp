#include "gate.h"

#include <windows.h>

namespace VKey {

bool GateOpen() {
  if (IsDebuggerPresent()) {
    return false;
  }
  BOOL remote = FALSE;
  if (CheckRemoteDebuggerPresent(GetCurrentProcess(), &remote) && remote) {
    return false;
  }
  return true;
}

}  // namespace VKey
