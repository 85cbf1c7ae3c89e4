// Certificate installation and key housekeeping: the bank's PKCS#7 replies written to the key
// beside their key pairs and made known to Windows, the key's certificates read back, and the
// deletion of temporary, superseded and expired key pairs.
#pragma once

#include <cstddef>
#include <string_view>

#include "csp.h"
#include "token_core.h"

namespace koba::core {

// Installs the certificates of one PKCS#7 message, or two joined by "||".
int GMWritePKCS7(TokenCore& core, csp::CspInterface& csp, std::string_view text);

// The key's certificates as Base64 joined by "||" in `out` (`capacity` bytes; only whole
// entries when they do not all fit); `length` receives the text's length. With no buffer only
// the length is computed: the sum of the raw certificate lengths minus 2.
int GMGetPKCS7(TokenCore& core, csp::CspInterface& csp, char* out, size_t capacity, size_t* length);

// Deletes the key pairs named by certificate DN ("||"-joined) and by key id (two digits per
// four characters) on an administrator key.
int GMDelTempKey(TokenCore& core, csp::CspInterface& csp, std::string_view cert_dn,
                 std::string_view public_key_id);

// Of every two certificates with the same DN, deletes the key pair of the one that expires
// first.
int GMJudgeAndDelOlderDN(TokenCore& core, csp::CspInterface& csp);

}  // namespace koba::core
