// The code-signature gate shared by every program that refuses to work with unsigned vendor
// libraries (the PIN pad library, the token control, the tool launcher): Authenticode checks of
// single files and of the key's vendor libraries, and the debugger test that goes with them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "win_handle.h"

namespace koba::codesign {

// The file carries an Authenticode signature that WinVerifyTrust accepts, whose signer chain
// has no error and passes the Authenticode chain policy. WinVerifyTrust alone is not enough:
// some verifiers let a chain to an untrusted root through.
bool FileSignatureTrusted(const std::wstring& path);

// The files one process has found trusted, each by its identity (volume serial number, file
// index, size, last write time) and held open so that nobody can write to it: a file keeps
// the identity it was verified under, and is not verified again. A file put in its place
// (renamed away, or deleted and made anew) is another file and is verified on its own. The
// handles are released with the object. Safe to use from several threads.
class VerifiedFiles {
 public:
  VerifiedFiles() = default;
  VerifiedFiles(const VerifiedFiles&) = delete;
  VerifiedFiles& operator=(const VerifiedFiles&) = delete;

  // FileSignatureTrusted for a file not verified before.
  bool Trusted(const std::wstring& path);
  // How many signature verifications this object has run.
  size_t verifications() const { return verifications_; }

 private:
  struct Identity {
    DWORD volume;
    DWORD index_high;
    DWORD index_low;
    DWORD size_high;
    DWORD size_low;
    FILETIME last_write;
    bool operator==(const Identity& other) const;
  };
  struct Entry {
    std::wstring path;
    Identity identity;
    win::UniqueHandle file;  // shared for reading and deleting, never for writing
  };

  SRWLOCK lock_ = SRWLOCK_INIT;
  std::vector<Entry> entries_;
  size_t verifications_ = 0;
};

// Every vendor library (token library, CSP, device extension library) in folder, which ends
// with a backslash, is signed and trusted; with `verified`, files it verified before are not
// verified again.
bool VendorLibrariesSigned(const std::wstring& folder);
bool VendorLibrariesSigned(const std::wstring& folder, VerifiedFiles& verified);

// A debugger is attached to the process, locally or remotely.
bool DebuggerAttached();

// The vendor libraries in the folder where the settings find the token library are signed
// and trusted. Each library is verified once per process (and module: the state lives with
// the program or library that links this code) while it stays the same file, which is held
// open against writing from then on.
bool InstalledVendorLibrariesTrusted();

// No debugger, and InstalledVendorLibrariesTrusted.
bool VendorGateOpen();

}  // namespace koba::codesign
