#include "monitor_window.h"

#include <dbt.h>
#include <wtsapi32.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

#include "monitor_rules.h"
#include "settings.h"

namespace koba::traymon {
namespace {

static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) == 32, "device interface filter");

constexpr GUID kHidInterface = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr GUID kCdromInterface = {
    0x53F56308, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
constexpr size_t kInterfaceNameChars = 266;
constexpr WPARAM kResumeCritical = 6;    // PBT_APMRESUMECRITICAL
constexpr WPARAM kResumeAutomatic = 18;  // PBT_APMRESUMEAUTOMATIC

using RegisterSessionFn = BOOL(WINAPI*)(HWND, DWORD);
using UnregisterSessionFn = BOOL(WINAPI*)(HWND);
using ActiveConsoleFn = DWORD(WINAPI*)();

// What the window keeps between its messages.
struct WindowState {
  CKeyWatcher* watcher = nullptr;
  CTrayNotifier* tray = nullptr;
  HDEVNOTIFY hid = nullptr;
  HDEVNOTIFY cdrom = nullptr;
  HMODULE wtsapi = nullptr;
  UnregisterSessionFn unregister_session = nullptr;
  ActiveConsoleFn active_console = nullptr;
  DWORD session = 0;
};

bool VersionAtLeast(DWORD major, DWORD minor) {
  OSVERSIONINFOEXW v{};
  v.dwOSVersionInfoSize = sizeof v;
  if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&v)))
    return true;
  return v.dwMajorVersion > major || (v.dwMajorVersion == major && v.dwMinorVersion >= minor);
}

bool Windows2000BeforeSp4() {
  OSVERSIONINFOEXW v{};
  v.dwOSVersionInfoSize = sizeof v;
  return GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&v)) && v.dwMajorVersion == 5 &&
         v.dwMinorVersion == 0 && v.wServicePackMajor < 4;
}

HDEVNOTIFY RegisterInterface(HWND window, const GUID& guid) {
  DEV_BROADCAST_DEVICEINTERFACE_W filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = guid;
  return RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

void WatchSessions(HWND window, WindowState* state) {
  if (!VersionAtLeast(5, 1))
    return;
  state->wtsapi = LoadLibraryW(L"Wtsapi32.dll");
  if (state->wtsapi == nullptr)
    return;
  auto register_session = reinterpret_cast<RegisterSessionFn>(
      reinterpret_cast<void*>(GetProcAddress(state->wtsapi, "WTSRegisterSessionNotification")));
  state->unregister_session = reinterpret_cast<UnregisterSessionFn>(
      reinterpret_cast<void*>(GetProcAddress(state->wtsapi, "WTSUnRegisterSessionNotification")));
  state->active_console = reinterpret_cast<ActiveConsoleFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"Kernel32.dll"), "WTSGetActiveConsoleSessionId")));
  if (register_session != nullptr)
    register_session(window, NOTIFY_FOR_ALL_SESSIONS);
  ProcessIdToSessionId(GetCurrentProcessId(), &state->session);
}

void StopWatching(HWND window, WindowState* state) {
  if (state->hid != nullptr)
    UnregisterDeviceNotification(state->hid);
  if (state->cdrom != nullptr)
    UnregisterDeviceNotification(state->cdrom);
  state->hid = state->cdrom = nullptr;
  if (state->unregister_session != nullptr)
    state->unregister_session(window);
  state->unregister_session = nullptr;
  state->active_console = nullptr;
  if (state->wtsapi != nullptr)
    FreeLibrary(state->wtsapi);
  state->wtsapi = nullptr;
}

bool InActiveSession(const WindowState& state) {
  return state.active_console == nullptr || state.active_console() == state.session;
}

void OnDeviceChange(const WindowState& state, WPARAM event, LPARAM data) {
  if (!InActiveSession(state))
    return;
  if (event == DBT_DEVICEARRIVAL || event == DBT_DEVICEREMOVECOMPLETE) {
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    if (header == nullptr || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE)
      return;
    const auto* device = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(data);
    // The name ends within the record the system sent.
    const size_t room =
        header->dbch_size > offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name)
            ? (header->dbch_size - offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name)) /
                  sizeof(wchar_t)
            : 0;
    const size_t length = wcsnlen(device->dbcc_name, std::min(room, kInterfaceNameChars - 1));
    const std::u16string name(reinterpret_cast<const char16_t*>(device->dbcc_name), length);
    if (!IsKeyInterface(name))
      return;
    const bool arrival = event == DBT_DEVICEARRIVAL;
    state.watcher->Post(arrival ? kScanArrival : kScanRemoval);
    state.tray->ShowBalloon(arrival ? 1 : 2);
  } else if (event == DBT_DEVNODES_CHANGED && Windows2000BeforeSp4()) {
    state.watcher->Post(kScanNodesChanged);
    state.tray->ShowBalloon(2);
  }
}

LRESULT CALLBACK MonitorProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* state = reinterpret_cast<WindowState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_CREATE: {
      state = static_cast<WindowState*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
      state->hid = RegisterInterface(window, kHidInterface);
      state->cdrom = RegisterInterface(window, kCdromInterface);
      WatchSessions(window, state);
      return 0;
    }
    case WM_CLOSE:
      if (state != nullptr)
        StopWatching(window, state);
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
    case WM_DEVICECHANGE:
      if (state != nullptr)
        OnDeviceChange(*state, wparam, lparam);
      return TRUE;
    case WM_POWERBROADCAST:
      if (state != nullptr && (wparam == kResumeCritical || wparam == kResumeAutomatic))
        state->watcher->Post(kScanResume);
      return TRUE;
    case WM_WTSSESSION_CHANGE:
      if (state != nullptr && (wparam == WTS_CONSOLE_CONNECT || wparam == WTS_REMOTE_CONNECT ||
                               wparam == WTS_SESSION_LOGON)) {
        state->watcher->Post(kScanResume);
      }
      return 0;
    case kTrayCallbackMessage:
      return 0;
    case kSwitchToHidMessage:
      if (state != nullptr)
        state->watcher->SwitchKeysToHid();
      return 0;
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

}  // namespace

HWND CreateMonitorWindow(HINSTANCE instance, CKeyWatcher* watcher, CTrayNotifier* tray) {
  // One window per process: its state lives as long as the process.
  static WindowState state;
  state.watcher = watcher;
  state.tray = tray;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = MonitorProc;
  wc.hInstance = instance;
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = settings::kTrayWindowClass;
  if (!RegisterClassExW(&wc))
    return nullptr;
  HWND window =
      CreateWindowExW(0, settings::kTrayWindowClass, settings::kTrayWindowTitle,
                      WS_OVERLAPPEDWINDOW, 0, 0, 0, 0, nullptr, nullptr, instance, &state);
  if (window == nullptr)
    return nullptr;
  ShowWindow(window, SW_HIDE);
  UpdateWindow(window);
  return window;
}

}  // namespace koba::traymon
