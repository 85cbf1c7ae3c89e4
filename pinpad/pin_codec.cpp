#include "pin_codec.h"

namespace VKey {

namespace {

unsigned char Times2(unsigned char b) {
  return static_cast<unsigned char>((b << 1) ^ ((b & 0x80) != 0 ? 0x1B : 0x00));
}

unsigned char Multiply(unsigned char a, unsigned char b) {
  unsigned char product = 0;
  while (b != 0) {
    if ((b & 1) != 0) {
      product ^= a;
    }
    a = Times2(a);
    b >>= 1;
  }
  return product;
}

void Transform(unsigned char column[4], const unsigned char (&matrix)[4]) {
  unsigned char out[4];
  for (int row = 0; row < 4; ++row) {
    out[row] = 0;
    for (int k = 0; k < 4; ++k) {
      out[row] ^= Multiply(matrix[(k - row + 4) % 4], column[k]);
    }
  }
  for (int i = 0; i < 4; ++i) {
    column[i] = out[i];
  }
}

}  // namespace

void MixColumn(unsigned char column[4]) {
  static const unsigned char kMix[4] = {2, 3, 1, 1};
  Transform(column, kMix);
}

void InverseMixColumn(unsigned char column[4]) {
  static const unsigned char kInverse[4] = {14, 11, 13, 9};
  Transform(column, kInverse);
}

PinEntryCodec::PinEntryCodec(const unsigned char deviceValue[8], uint32_t secret) {
  for (int i = 0; i < 4; ++i) {
    inner_[i] = static_cast<unsigned char>(deviceValue[i] ^ (secret >> (8 * i)));
    outer_[i] = static_cast<unsigned char>(deviceValue[4 + i] ^ (secret >> (8 * (3 - i))));
  }
}

uint32_t PinEntryCodec::Encode(unsigned char character, uint32_t nonce) const {
  unsigned char column[4] = {character, static_cast<unsigned char>(nonce),
                             static_cast<unsigned char>(nonce >> 8),
                             static_cast<unsigned char>(nonce >> 16)};
  for (int i = 0; i < 4; ++i) {
    column[i] ^= inner_[i];
  }
  MixColumn(column);
  uint32_t entry = 0;
  for (int i = 0; i < 4; ++i) {
    entry |= static_cast<uint32_t>(column[i] ^ outer_[i]) << (8 * i);
  }
  return entry;
}

unsigned char PinEntryCodec::Decode(uint32_t entry) const {
  unsigned char column[4];
  for (int i = 0; i < 4; ++i) {
    column[i] = static_cast<unsigned char>((entry >> (8 * i)) ^ outer_[i]);
  }
  InverseMixColumn(column);
  return static_cast<unsigned char>(column[0] ^ inner_[0]);
}

}  // namespace VKey
