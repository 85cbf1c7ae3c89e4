#include "gcrypt_alg.h"

#include <gcrypt.h>

#include <cstdarg>
#include <cstring>
#include <memory>

namespace VKey::test {

namespace {

struct CipherCloser {
  void operator()(gcry_cipher_hd_t h) const { gcry_cipher_close(h); }
};
using Cipher = std::unique_ptr<std::remove_pointer_t<gcry_cipher_hd_t>, CipherCloser>;

bool Ready() {
  static const bool ready = [] {
    // The library's notices (such as the Windows entropy notice) are no test output.
    gcry_set_log_handler([](void*, int, const char*, va_list) {}, nullptr);
    if (gcry_check_version(nullptr) == nullptr) {
      return false;
    }
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    return true;
  }();
  return ready;
}

}  // namespace

int KOBA_TOKEN_CALL GcryptDigest(const unsigned char* data, unsigned int length, unsigned char* out,
                                 int algorithm) {
  if (!Ready() || algorithm != kAlgDigestSha1 || data == nullptr || out == nullptr) {
    return 0;
  }
  gcry_md_hash_buffer(GCRY_MD_SHA1, out, data, length);
  return static_cast<int>(gcry_md_get_algo_dlen(GCRY_MD_SHA1));
}

unsigned int KOBA_TOKEN_CALL GcryptDesDecrypt(unsigned char* data, unsigned int length,
                                              unsigned int capacity, const unsigned char* key,
                                              unsigned int keyLength, unsigned int mode) {
  if (!Ready() || mode != kAlgDesEde2EcbUnpad || keyLength != kLangKeyLength || data == nullptr ||
      key == nullptr || length == 0 || length % 8 != 0 || length > capacity) {
    return 0;
  }
  // Two-key triple DES is three-key triple DES with the first key repeated.
  unsigned char key3[24];
  std::memcpy(key3, key, 16);
  std::memcpy(key3 + 16, key, 8);
  gcry_cipher_hd_t raw = nullptr;
  if (gcry_cipher_open(&raw, GCRY_CIPHER_3DES, GCRY_CIPHER_MODE_ECB, 0) != 0) {
    return 0;
  }
  Cipher cipher(raw);
  if (gcry_cipher_setkey(cipher.get(), key3, sizeof key3) != 0 ||
      gcry_cipher_decrypt(cipher.get(), data, length, nullptr, 0) != 0) {
    return 0;
  }
  const unsigned int pad = data[length - 1];
  if (pad == 0 || pad > 8) {
    return 0;
  }
  for (unsigned int i = length - pad; i < length; ++i) {
    if (data[i] != pad) {
      return 0;
    }
  }
  return length - pad;
}

}  // namespace VKey::test
