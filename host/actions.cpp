#include "actions.h"

namespace koba::host {

ActionTable BuildActionTable() {
  ActionTable table;
  table.Add(IsExtensionOkAction());
  return table;
}

}  // namespace koba::host
