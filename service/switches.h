// The service program's command line: the dash switches, and the order in which the control
// operations they ask for run (always stop, delete, install, start).
#pragma once

#include <string_view>
#include <vector>

namespace koba::service {

struct Switches {
  bool install = false;
  bool start = false;
  bool stop = false;
  bool uninstall = false;
  bool monitor = false;
};

// Walks the whole command line (the part after the program's name): wherever a '-' is followed
// by one of the letters i s k u m (either case) that flag is set; everything else is skipped.
Switches ParseSwitches(std::wstring_view command_line);

enum class Operation { kStop, kUninstall, kInstall, kStart };

enum class Role {
  kMonitor,  // -m: the monitor process; every other switch is ignored
  kService,  // no switch at all: run under the service control manager
  kControl,  // run `operations` in order and exit 0
};

struct Plan {
  Role role = Role::kService;
  std::vector<Operation> operations;
};

Plan PlanFor(const Switches& switches);

}  // namespace koba::service
