// What the key holds: certificate DNs, public keys and the administrator key's information,
// and the candidate list that signing selects its certificate from. None of these changes
// the key or needs the PIN.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "certificates.h"
#include "csp.h"
#include "token_core.h"

namespace koba::core {

// The key's certificates, one candidate per container and key spec (1, then 2) that holds
// one. `admin` receives the key's administrator flag. Returns the enumeration's status.
uint32_t CollectCandidates(TokenCore& core, csp::CspInterface& csp, uint32_t slot,
                           const DeviceInfo& info, std::vector<Candidate>* candidates, bool* admin);

// Every certificate's subject DN ("CN=a,O=b||CN=c,O=d").
int GMGetCertDN(TokenCore& core, csp::CspInterface& csp, char* out, size_t capacity);
// The public keys of the kind asked for ("AllPubKey", "CertPubKey", "NoCertPubKey", any case),
// each as its key type's two digits and the Base64 of its DER form, joined by "||".
int GMGetPublicKey(TokenCore& core, csp::CspInterface& csp, std::string_view key_type, char* out,
                   size_t capacity);
// The key list the device keeps (administrator keys as Base64, user keys as text).
int GetPublicKeyC(TokenCore& core, char* out, size_t capacity);
// Asks the key for public keys through its request block; the answer as Base64.
int GMGetPublicKeyC(TokenCore& core, csp::CspInterface& csp, std::string_view key_type,
                    std::string_view dn_or_id, std::string_view base64_ser_rand, char* out,
                    size_t capacity);
// The administrator key's 20-byte information text.
int GMGetAdminKeyInfo(TokenCore& core, char* out, size_t capacity);

// Offered by the browser token control only: every public key as Base64 of its DER form
// joined by "||"; their number; the key's certificates registered in the user's store (RSA
// ones, not an administrator key's special certificate); and their removal.
int GetPublicKey(TokenCore& core, csp::CspInterface& csp, char* out, size_t capacity);
int GetPublicKeyNum(TokenCore& core, csp::CspInterface& csp, int* count);
int RegisterCert(TokenCore& core, csp::CspInterface& csp);
int UnRegisterCert(TokenCore& core);

// Copies `text` into `out` (capacity bytes, NUL included). A "||"-joined list that does not
// fit keeps only its leading whole entries, so no entry is ever cut.
void CopyList(std::string_view text, char* out, size_t capacity);

}  // namespace koba::core
