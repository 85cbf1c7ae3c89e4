// Call shapes of the token library's algorithm entry points that the PIN pad library uses to
// read its enciphered language files.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define KOBA_TOKEN_CALL __stdcall
#else
#define KOBA_TOKEN_CALL
#endif

extern "C" {
// ALG_Digest(data, length, out, algorithm): writes the digest of data to out and returns its
// length in bytes; zero or negative on failure. Algorithm 2 is SHA-1 (20 bytes).
typedef int(KOBA_TOKEN_CALL* ALG_Digest_t)(const unsigned char* data, unsigned int length,
                                           unsigned char* out, int algorithm);

// ALG_DesDecrypt(data, length, capacity, key, keyLength, mode): deciphers data in place inside a
// buffer of capacity bytes and returns the plain length; zero on failure. Mode 0x80000006 with a
// 16-byte key is two-key triple DES (EDE) in ECB mode with the PKCS#5 padding removed.
typedef unsigned int(KOBA_TOKEN_CALL* ALG_DesDecrypt_t)(unsigned char* data, unsigned int length,
                                                        unsigned int capacity,
                                                        const unsigned char* key,
                                                        unsigned int keyLength, unsigned int mode);
}

namespace VKey {

constexpr int kAlgDigestSha1 = 2;
constexpr int kAlgDigestSha1Length = 20;
constexpr unsigned int kAlgDesEde2EcbUnpad = 0x80000006;
constexpr unsigned int kLangKeyLength = 16;

// The two entry points as resolved from the token library; either may be missing.
struct TokenAlg {
  ALG_Digest_t digest = nullptr;
  ALG_DesDecrypt_t desDecrypt = nullptr;
};

}  // namespace VKey
