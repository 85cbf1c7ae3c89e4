// The token library's algorithm entry points that the PIN pad library uses to read its
// enciphered language files.
#pragma once

#include "token_api.h"

using ALG_Digest_t = koba::token::PFN_ALG_Digest;
using ALG_DesDecrypt_t = koba::token::PFN_ALG_DesDecrypt;

namespace VKey {

constexpr int kAlgDigestSha1 = koba::token::kAlgSha1;
constexpr int kAlgDigestSha1Length = 20;
// Two-key triple DES (EDE) in ECB mode with the padding removed, a 16-byte key.
constexpr unsigned int kAlgDesEde2EcbUnpad = koba::token::kDesPad | koba::token::kDes3Ecb;
constexpr unsigned int kLangKeyLength = 16;

// The two entry points as resolved from the token library; either may be missing.
struct TokenAlg {
  ALG_Digest_t digest = nullptr;
  ALG_DesDecrypt_t desDecrypt = nullptr;
};

}  // namespace VKey
