// The host's request loop: one framed request in, its replies out, until input ends.
#pragma once

#include <cstdio>

#include "dispatcher.h"

namespace koba::host {

// Serves requests from `in` strictly one after another until input ends or a frame's length
// is not positive. Returns the process exit status, -1.
int RunHost(std::FILE* in, std::FILE* out, const ActionTable& table);

}  // namespace koba::host
