// The owner of the dialogs the library's exports show.
#pragma once

#include <windows.h>

#include <string>

namespace VKey {

// The owner window for a dialog shown on the calling thread. The first owner found is kept for
// the whole process and reused while it exists; nullptr: the dialog has no owner.
HWND FindOwnerWindow();

// The full path of the process executable; empty when it cannot be read.
std::u16string ProcessExecutablePath();

}  // namespace VKey
