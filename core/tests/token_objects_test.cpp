#include "token_objects.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "enrol_request.h"
#include "token_api.h"

namespace Vexlo {
namespace {

std::vector<Attribute> Parse(const Bytes& object) {
  std::vector<Attribute> attrs;
  EXPECT_TRUE(ParseAttributes(object.data(), object.size(), &attrs));
  return attrs;
}

std::vector<uint32_t> Types(const std::vector<Attribute>& attrs) {
  std::vector<uint32_t> types;
  for (const Attribute& a : attrs)
    types.push_back(a.type);
  return types;
}

std::string Text(const Attribute& a) {
  return std::string(a.value.begin(), a.value.end());
}

uint32_t Word(const Attribute& a) {
  EXPECT_EQ(a.value.size(), 4u);
  return a.value[0] | a.value[1] << 8 | a.value[2] << 16 | uint32_t{a.value[3]} << 24;
}

const std::string kLabel = "{0A1B2C3D-4E5F-6a7b}";  // a GUID label: 20 characters

TEST(TokenObjects, NamesObject) {
  const Bytes object = CTokenStruct::NamesObject(kLabel.data(), kLabel.size());
  ASSERT_EQ(kLabel.size(), 20u);
  EXPECT_EQ(object.size(), 78u);
  EXPECT_EQ(object.size(), CTokenStruct::NamesCapacity(kLabel.size()));
  const auto attrs = Parse(object);
  EXPECT_EQ(Types(attrs), (std::vector<uint32_t>{0, 0x80000004, 1, 0x80000003, 0x11}));
  EXPECT_EQ(Word(attrs[0]), 0u);
  EXPECT_EQ(Text(attrs[1]), kLabel);
  EXPECT_EQ(Text(attrs[2]), std::string(1, '\x01'));
  EXPECT_EQ(Text(attrs[3]), std::string(1, '\xD7'));
  EXPECT_EQ(attrs[4].value.size(), 12u);
  EXPECT_EQ(Text(attrs[4]), std::string("vexlo-names", 12));
}

TEST(TokenObjects, RsaPublicKeyObject) {
  const Bytes modulus(256, 0xC5);
  const Bytes object = CTokenStruct::PublicKeyObject(kLabel.data(), kLabel.size(), 7, 2, 1,
                                                     modulus.data(), modulus.size(), 1);
  EXPECT_LE(object.size(), CTokenStruct::PublicKeyCapacity(kLabel.size(), modulus.size()));
  const auto attrs = Parse(object);
  EXPECT_EQ(Types(attrs), (std::vector<uint32_t>{0, 0x80000004, 0x80000006, 0x80000003, 0x80000002,
                                                 290, 289, 288, 256, 258, 3, 1}));
  EXPECT_EQ(Word(attrs[0]), 2u);
  EXPECT_EQ(Text(attrs[2]), std::string(1, '\x01'));  // certificate type
  EXPECT_EQ(Text(attrs[3]), std::string(1, '\x02'));  // key spec
  EXPECT_EQ(Text(attrs[4]), std::string(1, '\x07'));  // key id
  EXPECT_EQ(Text(attrs[5]), std::string("\x01\x00\x01", 3));
  EXPECT_EQ(Word(attrs[6]), 2048u);
  EXPECT_EQ(Bytes(attrs[7].value.begin(), attrs[7].value.end()), modulus);
  EXPECT_EQ(Word(attrs[8]), 0u);
  EXPECT_EQ(Text(attrs[9]), kLabel);
  EXPECT_EQ(Text(attrs[10]), std::string("pubkey", 7));
}

TEST(TokenObjects, Sm2PublicKeyIsAnEcPointWithoutRsaFields) {
  Bytes point(65, 0x11);
  point[0] = 0x04;
  const Bytes object = CTokenStruct::PublicKeyObject(kLabel.data(), kLabel.size(), 3, 2, 3,
                                                     point.data(), point.size(), 2);
  const auto attrs = Parse(object);
  EXPECT_EQ(Types(attrs), (std::vector<uint32_t>{0, 0x80000004, 0x80000006, 0x80000003, 0x80000002,
                                                 385, 256, 258, 3, 1}));
  EXPECT_EQ(Bytes(attrs[5].value.begin(), attrs[5].value.end()), point);
  EXPECT_EQ(Word(attrs[6]), 3u);
}

TEST(TokenObjects, PrivateKeyObject) {
  for (uint32_t algorithm : {1u, 2u}) {
    const Bytes object =
        CTokenStruct::PrivateKeyObject(kLabel.data(), kLabel.size(), 4, 2, 2, algorithm);
    EXPECT_EQ(object.size(), 2 * kLabel.size() + 91);
    EXPECT_LE(object.size(), CTokenStruct::PrivateKeyCapacity(kLabel.size()));
    const auto attrs = Parse(object);
    EXPECT_EQ(Types(attrs), (std::vector<uint32_t>{0, 0x80000004, 0x80000006, 0x80000003,
                                                   0x80000002, 256, 258, 3, 1}));
    EXPECT_EQ(Word(attrs[0]), 3u);
    EXPECT_EQ(Word(attrs[5]), algorithm == 1 ? 0u : 3u);
    EXPECT_EQ(Text(attrs[7]), std::string("prikey", 7));
  }
}

TEST(TokenObjects, CertificateObject) {
  const std::string container = "{11111111-2222-3333}";
  const Bytes der(700, 0x30);
  const Bytes object = CTokenStruct::CertificateObject(container.data(), container.size(), 9, 2, 1,
                                                       der.data(), der.size());
  EXPECT_EQ(object.size(), CTokenStruct::CertificateCapacity(container.size(), der.size()));
  const auto attrs = Parse(object);
  EXPECT_EQ(Types(attrs), (std::vector<uint32_t>{0, 0x80000004, 0x80000006, 0x80000003, 0x80000002,
                                                 0x11, 258, 3, 1}));
  EXPECT_EQ(Word(attrs[0]), 1u);
  EXPECT_EQ(Text(attrs[1]), container);
  EXPECT_EQ(Text(attrs[4]), std::string(1, '\x09'));  // the key pair's key-type byte
  EXPECT_EQ(Bytes(attrs[5].value.begin(), attrs[5].value.end()), der);
  EXPECT_EQ(Text(attrs[7]), std::string("cert", 5));
}

TEST(TokenObjects, TornObjectsDoNotParse) {
  const Bytes object = CTokenStruct::NamesObject(kLabel.data(), kLabel.size());
  std::vector<Attribute> attrs;
  EXPECT_FALSE(ParseAttributes(object.data(), object.size() - 1, &attrs));
  EXPECT_FALSE(ParseAttributes(object.data(), 5, &attrs));
}

// The key request record: 45 bytes with 4-byte pointers, 57 with 8-byte ones.
TEST(KeyRequestRecord, LayoutOnBothPointerWidths) {
  constexpr auto narrow = koba::core::KeyRequestLayoutFor(4);
  constexpr auto wide = koba::core::KeyRequestLayoutFor(8);
  const size_t expected_narrow[] = {0, 4, 8, 12, 16, 20, 24, 28, 29, 33, 37, 41, 45};
  const size_t expected_wide[] = {0, 4, 8, 12, 16, 20, 24, 32, 33, 37, 45, 49, 57};
  const auto fields = [](const koba::core::KeyRequestLayout& l) {
    return std::vector<size_t>{l.size,       l.key_id,           l.certificate_type,
                               l.key_bits,   l.digest_algorithm, l.public_key_length,
                               l.public_key, l.reserved,         l.subject_length,
                               l.subject,    l.signature_length, l.signature,
                               l.total};
  };
  EXPECT_EQ(fields(narrow),
            std::vector<size_t>(std::begin(expected_narrow), std::end(expected_narrow)));
  EXPECT_EQ(fields(wide), std::vector<size_t>(std::begin(expected_wide), std::end(expected_wide)));
  // The record this build hands the token library follows the layout of its pointer width.
  using koba::token::KeyRequest;
  const auto real = koba::core::KeyRequestLayoutFor(sizeof(void*));
  EXPECT_EQ(sizeof(KeyRequest), real.total);
  EXPECT_EQ(offsetof(KeyRequest, public_key), real.public_key);
  EXPECT_EQ(offsetof(KeyRequest, reserved), real.reserved);
  EXPECT_EQ(offsetof(KeyRequest, subject_length), real.subject_length);
  EXPECT_EQ(offsetof(KeyRequest, subject), real.subject);
  EXPECT_EQ(offsetof(KeyRequest, signature_length), real.signature_length);
  EXPECT_EQ(offsetof(KeyRequest, signature), real.signature);
}

}  // namespace
}  // namespace Vexlo
