#include "service_host.h"

#include <cwchar>
#include <iterator>

#include "run_value.h"
#include "service_control.h"

namespace koba::service {
namespace {

using Callback = DWORD (*)();
using ControlCallback = void (*)();

// The accepted-controls bit of each control code.
struct AcceptRow {
  DWORD first;
  DWORD last;
  DWORD accept;
};

constexpr AcceptRow kAcceptTable[] = {
    {SERVICE_CONTROL_STOP, SERVICE_CONTROL_STOP, SERVICE_ACCEPT_STOP},
    {SERVICE_CONTROL_PAUSE, SERVICE_CONTROL_CONTINUE, SERVICE_ACCEPT_PAUSE_CONTINUE},
    {SERVICE_CONTROL_SHUTDOWN, SERVICE_CONTROL_SHUTDOWN, SERVICE_ACCEPT_SHUTDOWN},
    {SERVICE_CONTROL_PARAMCHANGE, SERVICE_CONTROL_PARAMCHANGE, SERVICE_ACCEPT_PARAMCHANGE},
    {SERVICE_CONTROL_NETBINDADD, SERVICE_CONTROL_NETBINDDISABLE, SERVICE_ACCEPT_NETBINDCHANGE},
    {SERVICE_CONTROL_HARDWAREPROFILECHANGE, SERVICE_CONTROL_HARDWAREPROFILECHANGE,
     SERVICE_ACCEPT_HARDWAREPROFILECHANGE},
    {SERVICE_CONTROL_POWEREVENT, SERVICE_CONTROL_POWEREVENT, SERVICE_ACCEPT_POWEREVENT},
    {SERVICE_CONTROL_SESSIONCHANGE, SERVICE_CONTROL_SESSIONCHANGE, SERVICE_ACCEPT_SESSIONCHANGE},
};

// The value ORed into the mask after the handlers are registered: stop, pause/continue and
// shutdown are reported as accepted.
constexpr DWORD kReportedControls =
    SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_SHUTDOWN;
// After the monitor process is created, before the service goes on.
constexpr DWORD kMonitorStartMs = 1000;
// Between the WM_QUIT to the monitor and its termination.
constexpr DWORD kMonitorQuitMs = 1000;
constexpr DWORD kStartFailedExitCode = 0xFFFFFFFF;
constexpr size_t kCommandLineChars = MAX_PATH;

struct ControlEntry {
  DWORD control;
  ControlCallback handler;
};

struct ChildRecord {
  PROCESS_INFORMATION process{};
  bool stopping = false;
  wchar_t command_line[kCommandLineChars]{};
};

// The service's state, once per process.
struct ServiceState {
  const wchar_t* name = kServiceName;
  Callback start = nullptr;
  Callback run = nullptr;
  ControlEntry handlers[4]{};
  size_t handler_count = 0;
  DWORD accepted = 0;
  SERVICE_STATUS status{};
  SERVICE_STATUS_HANDLE status_handle = nullptr;
  CRITICAL_SECTION lock;
  ChildRecord child;
};

ServiceState g_service;

void RegisterControl(DWORD control, ControlCallback handler) {
  if (g_service.handler_count < std::size(g_service.handlers))
    g_service.handlers[g_service.handler_count++] = {control, handler};
  g_service.accepted |= AcceptedControlFor(control);
}

void ReportStatus(DWORD state, DWORD exit_code) {
  g_service.status.dwCurrentState = state;
  g_service.status.dwWin32ExitCode = exit_code;
  SetServiceStatus(g_service.status_handle, &g_service.status);
}

void CloseChildHandles() {
  ChildRecord& child = g_service.child;
  if (child.process.hThread != nullptr)
    CloseHandle(child.process.hThread);
  if (child.process.hProcess != nullptr)
    CloseHandle(child.process.hProcess);
  child.process = {};
}

// Creates the monitor process from the child's command line.
DWORD LaunchChild() {
  CloseChildHandles();
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOW;
  wchar_t command_line[kCommandLineChars];
  std::wmemcpy(command_line, g_service.child.command_line, kCommandLineChars);
  if (!CreateProcessW(nullptr, command_line, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                      nullptr, nullptr, &startup, &g_service.child.process)) {
    const DWORD error = GetLastError();
    g_service.child.process = {};
    return error;
  }
  Sleep(kMonitorStartMs);
  return 0;
}

DWORD StartMonitor() {
  CloseChildHandles();
  g_service.child.stopping = false;
  const std::wstring command_line = QuotedProgramPath() + L" -m";
  if (command_line.size() >= kCommandLineChars)
    return ERROR_BAD_PATHNAME;
  std::wmemcpy(g_service.child.command_line, command_line.c_str(), command_line.size() + 1);
  return LaunchChild();
}

DWORD SuperviseMonitor() {
  EnsureRunValue(kTrayMonitorFile);
  if (WaitForSingleObject(g_service.child.process.hProcess, INFINITE) != WAIT_OBJECT_0)
    return 0;
  EnterCriticalSection(&g_service.lock);
  if (g_service.child.stopping) {
    LeaveCriticalSection(&g_service.lock);
    return static_cast<DWORD>(-1);
  }
  const DWORD result = LaunchChild();
  LeaveCriticalSection(&g_service.lock);
  return result;
}

void StopMonitor() {
  ChildRecord& child = g_service.child;
  child.stopping = true;
  if (child.process.hProcess == nullptr)
    return;
  PostThreadMessageW(child.process.dwThreadId, WM_QUIT, 0, 0);
  Sleep(kMonitorQuitMs);
  TerminateProcess(child.process.hProcess, 0);
}

void WINAPI ControlHandler(DWORD control) {
  EnterCriticalSection(&g_service.lock);
  for (size_t i = 0; i < g_service.handler_count; ++i)
    if (g_service.handlers[i].control == control)
      g_service.handlers[i].handler();
  const bool stops = control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN;
  ReportStatus(stops ? SERVICE_STOPPED : SERVICE_RUNNING, 0);
  LeaveCriticalSection(&g_service.lock);
}

void WINAPI ServiceMain(DWORD, wchar_t**) {
  g_service.status.dwServiceType = SERVICE_WIN32;
  g_service.status.dwCurrentState = SERVICE_START_PENDING;
  g_service.status.dwControlsAccepted = g_service.accepted;
  g_service.status_handle = RegisterServiceCtrlHandlerW(g_service.name, ControlHandler);
  if (g_service.status_handle == nullptr)
    return;
  SetServiceStatus(g_service.status_handle, &g_service.status);
  if (g_service.start() != 0) {
    ReportStatus(SERVICE_STOPPED, kStartFailedExitCode);
    return;
  }
  ReportStatus(SERVICE_RUNNING, 0);
  while (g_service.run() == 0) {
  }
}

}  // namespace

DWORD AcceptedControlFor(DWORD control) {
  for (const AcceptRow& row : kAcceptTable)
    if (control >= row.first && control <= row.last)
      return row.accept;
  return 0;
}

DWORD RunAsService() {
  g_service.start = StartMonitor;
  g_service.run = SuperviseMonitor;
  RegisterControl(SERVICE_CONTROL_STOP, StopMonitor);
  RegisterControl(SERVICE_CONTROL_SHUTDOWN, StopMonitor);
  g_service.accepted |= kReportedControls;

  InitializeCriticalSection(&g_service.lock);
  wchar_t name[std::size(kServiceName)];
  std::wmemcpy(name, kServiceName, std::size(kServiceName));
  const SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  const DWORD result = StartServiceCtrlDispatcherW(table) ? 0 : GetLastError();
  DeleteCriticalSection(&g_service.lock);
  return result;
}

}  // namespace koba::service
