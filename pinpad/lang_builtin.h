// The key and digests that the language files are checked and deciphered with. The definitions
// are generated together with the files themselves (tools/build-langs.py).
#pragma once

#include <cstddef>
#include <cstdint>

namespace VKey {

extern const unsigned char kLangFileKey[16];

struct LangFileDigest {
  uint32_t langId;
  unsigned char digest[20];
};
extern const LangFileDigest kLangFileDigests[];
extern const size_t kLangFileDigestCount;

// Digest of the language list file "KVNLang_KOBA_enc.ini".
extern const unsigned char kLangListDigest[20];

}  // namespace VKey
