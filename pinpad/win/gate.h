// The library's refusal to work: under a debugger, or when the key's vendor libraries in the
// system folder do not carry a valid code signature.
#pragma once

#include <string>

namespace VKey {

// False when a debugger is attached to the process or a vendor library's signature fails.
bool GateOpen();

// The file carries an Authenticode signature that WinVerifyTrust accepts, whose signer chain
// has no error and passes the Authenticode chain policy.
bool FileSignatureTrusted(const std::wstring& path);

// Every vendor library (token library, CSP, device extension library) in folder, which ends
// with a backslash, is signed and trusted.
bool VendorLibrariesSigned(const std::wstring& folder);

}  // namespace VKey
