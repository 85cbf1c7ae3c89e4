// The monitor process ("-m"): the hidden window, the process stop event and the list server's
// thread. It ends when its window is destroyed or a WM_QUIT reaches its main thread.
#pragma once

#include <windows.h>

namespace koba::service {

inline constexpr wchar_t kMonitorWindowClass[] = L"VexloMonClass_KOBA";
inline constexpr wchar_t kMonitorWindowTitle[] = L"VexloMon001_KOBA";

// Returns the wParam of the last message, or -1 when the window cannot be created.
int RunMonitor(HINSTANCE instance);

}  // namespace koba::service
