// Makes the current user's "MY" registry store refuse one certificate, for the tests of what
// happens when the store will not keep an entry: the entry's registry key (named by the
// certificate's SHA-1 thumbprint) is made beforehand with a protected DACL that allows only
// reading and deletion, so the store can neither write the certificate nor replace the key's
// security. Other certificates are stored as usual.
#pragma once

#include <windows.h>

#include <vector>

namespace koba::testing {

// 0, or the error of decoding the certificate or of making the key.
DWORD RefuseStoreEntry(const std::vector<unsigned char>& der);
// Takes the refusal away again (the key goes; nothing else was stored under it). 0 also when
// there was none.
DWORD AllowStoreEntry(const std::vector<unsigned char>& der);

}  // namespace koba::testing
