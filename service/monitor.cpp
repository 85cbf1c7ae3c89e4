#include "monitor.h"

#include <memory>

#include "device_list_server.h"
#include "win_handle.h"

namespace koba::service {
namespace {

// How long the main thread waits for the list server to stop the key servers.
constexpr DWORD kListStopWaitMs = 6000;

LRESULT CALLBACK MonitorWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      BeginPaint(window, &paint);
      EndPaint(window, &paint);
      return 0;
    }
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

HWND CreateMonitorWindow(HINSTANCE instance) {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.style = CS_HREDRAW | CS_VREDRAW;
  window_class.lpfnWndProc = MonitorWindowProc;
  window_class.hInstance = instance;
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  window_class.lpszClassName = kMonitorWindowClass;
  RegisterClassExW(&window_class);
  const HWND window =
      CreateWindowExW(0, kMonitorWindowClass, kMonitorWindowTitle, WS_OVERLAPPEDWINDOW, 0, 0, 0, 0,
                      nullptr, nullptr, instance, nullptr);
  if (window != nullptr) {
    ShowWindow(window, SW_HIDE);
    UpdateWindow(window);
  }
  return window;
}

}  // namespace

int RunMonitor(HINSTANCE instance) {
  const HWND window = CreateMonitorWindow(instance);
  if (window == nullptr)
    return -1;
  const win::UniqueHandle stop_event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  auto list_server = std::make_unique<DeviceListServer>(stop_event.get(), window);
  const bool serving = stop_event && list_server->Start();
  if (!serving)
    DestroyWindow(window);

  MSG message{};
  BOOL got = FALSE;
  while ((got = GetMessageW(&message, nullptr, 0, 0)) != 0 && got != -1) {
    if (!IsDialogMessageW(window, &message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }

  if (serving) {
    SetEvent(stop_event.get());
    // A list server that has not ended in time keeps running until the process exits; it is
    // not destroyed under its thread.
    if (WaitForSingleObject(list_server->thread(), kListStopWaitMs) != WAIT_OBJECT_0)
      list_server.release();
  }
  return static_cast<int>(message.wParam);
}

}  // namespace koba::service
