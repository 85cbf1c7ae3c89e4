// The owner of the dialogs the library's exports show.
#pragma once

#include <windows.h>

namespace VKey {

// The owner window for a dialog shown on the calling thread. The first owner found is kept for
// the whole process and reused while it exists; nullptr: the dialog has no owner.
HWND FindOwnerWindow();

}  // namespace VKey
