// The monitor's hidden window "VexloSvr001_KOBA" of class "VexloSvrClass_KOBA": device
// interface, session and power notifications turned into scan codes for the worker, the tray
// balloons on key arrival and removal, and WM_CLOSE that ends the monitor.
#pragma once

#include <windows.h>

#include "key_watcher.h"
#include "tray_notifier.h"

namespace koba::traymon {

// Messages of the window besides the system's.
constexpr UINT kSwitchToHidMessage = WM_USER + 105;

// Registers the class and creates the hidden window, which posts to `watcher` and shows its
// balloons through `tray`; both outlive the window. Null when the window cannot be made.
HWND CreateMonitorWindow(HINSTANCE instance, CKeyWatcher* watcher, CTrayNotifier* tray);

}  // namespace koba::traymon
