// The host's action table: every action the bank's pages can ask for.
#pragma once

#include "csp.h"
#include "dispatcher.h"
#include "token_core.h"

namespace koba::host {

// Rows in the order the pages' actions are compared. The operations run on `core` and `csp`,
// which live as long as the table.
ActionTable BuildActionTable(core::TokenCore& core, csp::CspInterface& csp);

}  // namespace koba::host
