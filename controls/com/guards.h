// The controls' two refusals: a debugger in the process, and vendor libraries whose code
// signature does not hold. Neither touches the key.
#pragma once

namespace koba::com {

// A debugger is attached to the process.
bool DebuggerPresent();
// The token library, the CSP and the device extension library in the system folder all carry
// a trusted code signature; each file is verified once per process while it stays the same file.
bool VendorLibrariesTrusted();

}  // namespace koba::com
