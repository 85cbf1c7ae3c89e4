// How a PIN field holds its characters: each one as a 32-bit entry that never shows the
// character in plain form. The entry is one AES column: the character and three random bytes,
// masked with a key drawn from the device value and a per-process secret, mixed with
// MixColumns over GF(2^8) (reduction polynomial 0x1B) and masked again.
#pragma once

#include <cstdint>

namespace VKey {

class PinEntryCodec {
 public:
  // deviceValue: the 8-byte value read from the key for the PIN dialogs.
  PinEntryCodec(const unsigned char deviceValue[8], uint32_t secret);

  // nonce supplies the three filler bytes, so equal characters give different entries.
  uint32_t Encode(unsigned char character, uint32_t nonce) const;
  unsigned char Decode(uint32_t entry) const;

 private:
  unsigned char inner_[4];
  unsigned char outer_[4];
};

// One AES column and its inverse, exposed for tests.
void MixColumn(unsigned char column[4]);
void InverseMixColumn(unsigned char column[4]);

}  // namespace VKey
