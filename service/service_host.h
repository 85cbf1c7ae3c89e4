// Running as the Windows service: the service main function and control handler, and the
// supervision of the monitor process (started with "-m", restarted whenever it ends, stopped
// with a WM_QUIT and, 1000 ms later, terminated when the service stops).
#pragma once

#include <windows.h>

namespace koba::service {

// The accepted-controls bit that registering a handler for `control` adds (0 for none).
DWORD AcceptedControlFor(DWORD control);

// Runs the service control dispatcher; returns its error code (0 once the service has ended).
DWORD RunAsService();

}  // namespace koba::service
