// VexloSerB: installs, starts, stops and removes the device service, runs as that service, or
// (with "-m") runs the monitor process that serves the keys over named pipes.
#include <windows.h>

#include "monitor.h"
#include "service_control.h"
#include "service_host.h"
#include "switches.h"

using namespace koba::service;

namespace {

// The operations a control command line runs, in their fixed order.
struct OperationRow {
  Operation operation;
  DWORD (*run)();
};

constexpr OperationRow kOperations[] = {
    {Operation::kStop, StopService},
    {Operation::kUninstall, UninstallService},
    {Operation::kInstall, InstallService},
    {Operation::kStart, StartTheService},
};

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, wchar_t* arguments, int) {
  const Plan plan = PlanFor(ParseSwitches(arguments != nullptr ? arguments : L""));
  switch (plan.role) {
    case Role::kMonitor:
      return RunMonitor(instance);
    case Role::kService:
      RunAsService();
      return 0;
    case Role::kControl:
      // Each operation's result is deliberately not reported: the exit code stays 0.
      for (const Operation operation : plan.operations)
        for (const OperationRow& row : kOperations)
          if (row.operation == operation)
            row.run();
      return 0;
  }
  return 0;
}
