// The token library's digest and DES entry points, implemented over libgcrypt for the tests.
#pragma once

#include "token_alg.h"

namespace VKey::test {

int KOBA_TOKEN_CALL GcryptDigest(const unsigned char* data, unsigned int length, unsigned char* out,
                                 int algorithm);
unsigned int KOBA_TOKEN_CALL GcryptDesDecrypt(unsigned char* data, unsigned int length,
                                              unsigned int capacity, const unsigned char* key,
                                              unsigned int keyLength, unsigned int mode);

inline TokenAlg GcryptAlg() {
  return TokenAlg{&GcryptDigest, &GcryptDesDecrypt};
}

}  // namespace VKey::test
