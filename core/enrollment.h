// Enrolment on the key: new key pairs and their PKCS#10 requests for the bank's CA, and the
// two PIN pad operations that prepare a key (first PIN, PIN change). The PIN never reaches
// the core: the PIN pad runs the token library's PIN functions itself.
#pragma once

#include <cstddef>
#include <string_view>

#include "csp.h"
#include "token_core.h"

namespace koba::core {

constexpr size_t kPkcs10Capacity = 4096;

// Generates a key pair for each request of `info` (one, or two joined by "||"), stores its
// objects and answers the Base64 DER requests joined by "||" in `out` (`capacity` bytes).
int GMCreatePKCS10(TokenCore& core, csp::CspInterface& csp, std::string_view info, char* out,
                   size_t capacity);

// Initialises the key with a first PIN; every certificate of the key's provider leaves the
// user's store.
int CustInitCard(TokenCore& core);

// Changes the key's PIN.
int ChangePin(TokenCore& core);

}  // namespace koba::core
