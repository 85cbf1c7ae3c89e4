// The library's refusal to work under a debugger.
#pragma once

namespace VKey {

// False when a debugger is attached to the process.
bool GateOpen();

}  // namespace VKey
