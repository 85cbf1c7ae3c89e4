#include "pin_codec.h"

#include <gtest/gtest.h>

#include <set>

namespace VKey {
namespace {

TEST(PinCodec, MixColumnMatchesThePublishedAesVectors) {
  const struct {
    unsigned char in[4];
    unsigned char out[4];
  } vectors[] = {
      {{0xdb, 0x13, 0x53, 0x45}, {0x8e, 0x4d, 0xa1, 0xbc}},
      {{0xf2, 0x0a, 0x22, 0x5c}, {0x9f, 0xdc, 0x58, 0x9d}},
      {{0x01, 0x01, 0x01, 0x01}, {0x01, 0x01, 0x01, 0x01}},
      {{0xd4, 0xd4, 0xd4, 0xd5}, {0xd5, 0xd5, 0xd7, 0xd6}},
      {{0x2d, 0x26, 0x31, 0x4c}, {0x4d, 0x7e, 0xbd, 0xf8}},
  };
  for (const auto& v : vectors) {
    unsigned char column[4] = {v.in[0], v.in[1], v.in[2], v.in[3]};
    MixColumn(column);
    EXPECT_EQ(0, memcmp(column, v.out, 4));
    InverseMixColumn(column);
    EXPECT_EQ(0, memcmp(column, v.in, 4));
  }
}

TEST(PinCodec, EveryCharacterRoundTripsAndEntriesDiffer) {
  const unsigned char device[8] = {0x10, 0x32, 0x54, 0x76, 0x98, 0xba, 0xdc, 0xfe};
  const PinEntryCodec codec(device, 0xA5C3E1F0);
  const PinEntryCodec other(device, 0x0F1E2D3C);
  for (unsigned c = 0; c < 256; ++c) {
    std::set<uint32_t> entries;
    for (uint32_t nonce : {0u, 1u, 0x123456u, 0xFFFFFFu}) {
      const uint32_t entry = codec.Encode(static_cast<unsigned char>(c), nonce);
      EXPECT_EQ(codec.Decode(entry), c);
      entries.insert(entry);
    }
    EXPECT_EQ(entries.size(), 4u) << "filler bytes change the entry";
  }
  int sameUnderOtherSecret = 0;
  for (unsigned c = 0; c < 256; ++c) {
    const uint32_t entry = codec.Encode(static_cast<unsigned char>(c), 77);
    sameUnderOtherSecret += other.Decode(entry) == c;
  }
  EXPECT_LT(sameUnderOtherSecret, 8) << "another secret does not read the entries";
}

}  // namespace
}  // namespace VKey
