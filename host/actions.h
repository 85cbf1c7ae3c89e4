// The host's action table: every action the bank's pages can ask for.
#pragma once

#include "dispatcher.h"

namespace koba::host {

ActionTable BuildActionTable();

}  // namespace koba::host
