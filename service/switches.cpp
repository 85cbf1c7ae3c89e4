#include "switches.h"

namespace koba::service {
namespace {

struct SwitchRow {
  wchar_t lower;
  wchar_t upper;
  bool Switches::*flag;
};

constexpr SwitchRow kSwitchTable[] = {
    {L'i', L'I', &Switches::install}, {L's', L'S', &Switches::start},
    {L'k', L'K', &Switches::stop},    {L'u', L'U', &Switches::uninstall},
    {L'm', L'M', &Switches::monitor},
};

// The control operations in the order they always run, with the flag that asks for each.
struct OperationRow {
  Operation operation;
  bool Switches::*flag;
};

constexpr OperationRow kOperationOrder[] = {
    {Operation::kStop, &Switches::stop},
    {Operation::kUninstall, &Switches::uninstall},
    {Operation::kInstall, &Switches::install},
    {Operation::kStart, &Switches::start},
};

}  // namespace

Switches ParseSwitches(std::wstring_view command_line) {
  Switches switches;
  for (size_t i = 0; i + 1 < command_line.size(); ++i) {
    if (command_line[i] != L'-')
      continue;
    for (const SwitchRow& row : kSwitchTable)
      if (command_line[i + 1] == row.lower || command_line[i + 1] == row.upper)
        switches.*row.flag = true;
  }
  return switches;
}

Plan PlanFor(const Switches& switches) {
  Plan plan;
  if (switches.monitor) {
    plan.role = Role::kMonitor;
    return plan;
  }
  for (const OperationRow& row : kOperationOrder)
    if (switches.*row.flag)
      plan.operations.push_back(row.operation);
  plan.role = plan.operations.empty() ? Role::kService : Role::kControl;
  return plan;
}

}  // namespace koba::service
