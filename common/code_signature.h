// The code-signature gate shared by every program that refuses to work with unsigned vendor
// libraries (the PIN pad library, the token control, the tool launcher): Authenticode checks of
// single files and of the key's vendor libraries, and the debugger test that goes with them.
#pragma once

#include <string>

namespace koba::codesign {

// The file carries an Authenticode signature that WinVerifyTrust accepts, whose signer chain
// has no error and passes the Authenticode chain policy. WinVerifyTrust alone is not enough:
// some verifiers let a chain to an untrusted root through.
bool FileSignatureTrusted(const std::wstring& path);

// Every vendor library (token library, CSP, device extension library) in folder, which ends
// with a backslash, is signed and trusted.
bool VendorLibrariesSigned(const std::wstring& folder);

// A debugger is attached to the process, locally or remotely.
bool DebuggerAttached();

// No debugger, and the vendor libraries in the folder where the settings find the token
// library are signed and trusted.
bool VendorGateOpen();

}  // namespace koba::codesign
