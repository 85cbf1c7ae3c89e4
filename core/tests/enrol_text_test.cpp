// The enrolment request grammar, the PKCS#7 reply text preparation and the deletion batch.
#include <gtest/gtest.h>

#include <string>

#include "enrol_request.h"
#include "key_deletion.h"
#include "pkcs7_text.h"
#include "token_api.h"

namespace koba::core {
namespace {

TEST(EnrolRequest, Parses) {
  const struct {
    const char* text;
    const char* cn;
    uint32_t digest, bits, type;
  } cases[] = {
      {"DN(CN=abc,O=x)HASH()KEYTYPE(RSA2048)CERTTYPE(01)", "abc", token::kDigestSha1, 2048, 1},
      {"DN(CN=abc,O=x)HASH()KEYTYPE(SM2256)CERTTYPE(01)", "abc", token::kDigestSm3, 256, 1},
      {"junk before DN(O=Bank,CN=Zhang San)HASH(SHA256)KEYTYPE(RSA1024)CERTTYPE(03)", "Zhang San",
       token::kDigestSha256, 1024, 3},
      {"DN(CN=a)HASH(MD5)KEYTYPE(RSA2048)CERTTYPE(02)", "a", token::kDigestMd5, 2048, 2},
      {"DN(CN=a)HASH(SHA384)KEYTYPE(RSA2048)CERTTYPE(01)", "a", token::kDigestSha384, 2048, 1},
      {"DN(CN=a)HASH(SHA512)KEYTYPE(RSA2048)CERTTYPE(01)trailing", "a", token::kDigestSha512, 2048,
       1},
      {"DN(CN=a)HASH(SM3)KEYTYPE(RSA2048)CERTTYPE(01)", "a", token::kDigestSm3, 2048, 1},
  };
  for (const auto& c : cases) {
    EnrolRequest r;
    ASSERT_TRUE(ParseEnrolRequest(c.text, &r)) << c.text;
    EXPECT_EQ(r.common_name, c.cn) << c.text;
    EXPECT_EQ(r.digest_code, c.digest) << c.text;
    EXPECT_EQ(r.key_bits, c.bits) << c.text;
    EXPECT_EQ(r.certificate_type, c.type) << c.text;
  }
}

TEST(EnrolRequest, RefusesEveryTextOutsideTheGrammar) {
  const char* cases[] = {
      "",
      "CN=a",
      "DN(CN=a)KEYTYPE(RSA2048)CERTTYPE(01)",              // no HASH
      "DN(CN=a)HASH()CERTTYPE(01)",                        // no KEYTYPE
      "DN(CN=a)HASH()KEYTYPE(RSA2048)",                    // no CERTTYPE
      "DN(CN=a)HASH()KEYTYPE(RSA2048)CERTTYPE(01",         // no closing parenthesis
      "HASH()KEYTYPE(RSA2048)CERTTYPE(01)DN(CN=a)",        // out of order
      "DN(O=a)HASH()KEYTYPE(RSA2048)CERTTYPE(01)",         // no CN=
      "DN(CN=)HASH()KEYTYPE(RSA2048)CERTTYPE(01)",         // empty common name
      "DN(CN=,O=b)HASH()KEYTYPE(RSA2048)CERTTYPE(01)",     // empty common name
      "DN(CN=a)HASH(sha256)KEYTYPE(RSA2048)CERTTYPE(01)",  // case-sensitive
      "DN(CN=a)HASH(SHA224)KEYTYPE(RSA2048)CERTTYPE(01)",
      "DN(CN=a)HASH()KEYTYPE(RSA4096)CERTTYPE(01)",
      "DN(CN=a)HASH()KEYTYPE(rsa2048)CERTTYPE(01)",
      "DN(CN=a)HASH()KEYTYPE(RSA2048)CERTTYPE(04)",
      "DN(CN=a)HASH()KEYTYPE(RSA2048)CERTTYPE(1)",
      "DN(CN=a)HASH()KEYTYPE(RSA2048)CERTTYPE(001)",
      "DN(CN=a)HASH()KEYTYPE(SM2256)CERTTYPE(02)",  // SM2 keys hold no type-2 certificate
  };
  for (const char* text : cases) {
    EnrolRequest r;
    EXPECT_FALSE(ParseEnrolRequest(text, &r)) << text;
  }
}

TEST(EnrolRequest, CommonNameKeepsAtMost1022Bytes) {
  EnrolRequest r;
  const std::string name(2000, 'n');
  ASSERT_TRUE(ParseEnrolRequest("DN(CN=" + name + ")HASH()KEYTYPE(RSA2048)CERTTYPE(01)", &r));
  EXPECT_EQ(r.common_name, name.substr(0, 1022));
}

TEST(EnrolRequest, SplitsAtTheFirstSeparator) {
  std::vector<EnrolRequest> rs;
  ASSERT_TRUE(ParseEnrolRequests(
      "DN(CN=a)HASH()KEYTYPE(SM2256)CERTTYPE(01)||DN(CN=b)HASH()KEYTYPE(RSA2048)CERTTYPE(02)",
      &rs));
  ASSERT_EQ(rs.size(), 2u);
  EXPECT_EQ(rs[0].common_name, "a");
  EXPECT_EQ(rs[1].common_name, "b");
  // The second part is taken whole, so a third request makes it malformed.
  EXPECT_FALSE(
      ParseEnrolRequests(
          "DN(CN=a)HASH()KEYTYPE(RSA2048)CERTTYPE(01)||DN(CN=b)HASH()KEYTYPE(RSA2048)CERTTYPE(02)"
          "||x",
          &rs) &&
      rs.size() != 2);
  EXPECT_FALSE(ParseEnrolRequests("DN(CN=a)HASH()KEYTYPE(RSA2048)CERTTYPE(01)||", &rs));
  EXPECT_TRUE(rs.empty());
  EXPECT_FALSE(ParseEnrolRequests("", &rs));
}

TEST(EnrolText, LabelsAndBase64) {
  EXPECT_EQ(KeyLabel(0x0a1b2c3d, 0x4e5f, 0x6A7B), "{0A1B2C3D-4E5F-6a7b}");
  EXPECT_EQ(WithoutLineBreaks("AAAA\nBBBB\n\n"), "AAAABBBB");
}

TEST(EnrolText, ExportedPublicKey) {
  std::vector<uint8_t> blob(768, 0);
  blob[4] = 0x00;
  blob[5] = 0x01;  // 256 bytes
  size_t offset = 0, length = 0;
  ASSERT_TRUE(ExportedPublicKey(blob.data(), blob.size(), &offset, &length));
  EXPECT_EQ(offset, 256u);
  EXPECT_EQ(length, 256u);
  blob[4] = 0x01;
  blob[5] = 0x02;  // 513 bytes from a third of 768: past the end
  EXPECT_FALSE(ExportedPublicKey(blob.data(), blob.size(), &offset, &length));
  EXPECT_FALSE(ExportedPublicKey(blob.data(), 7, &offset, &length));
}

std::string Line(char c) {
  return std::string(64, c);
}

TEST(Pkcs7Text, Preparation) {
  const std::string body = Line('A') + Line('B') + "CC==";
  const std::string wrapped = Line('A') + "\n" + Line('B') + "\nCC==";
  const struct {
    std::string in, out;
  } cases[] = {
      {body, wrapped},
      {wrapped, wrapped},
      {"\r\n\n" + body, wrapped},
      {"-----BEGIN CERTIFICATE-----\r\n" + Line('A') + "\r\n" + Line('B') +
           "\r\nCC==\r\n"
           "-----END CERTIFICATE-----\r\n",
       Line('A') + "\r\n" + Line('B') + "\r\nCC==\r\n"},
      {"-----BEGIN CERTIFICATE-----" + body, wrapped},
      {"TUlJ", "TUlJ"},
      {"", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(PreparePkcs7Text(c.in), c.out) << c.in;
}

TEST(Pkcs7Text, Parts) {
  std::vector<std::string_view> parts;
  ASSERT_TRUE(SplitPkcs7Parts("AAAA", &parts));
  EXPECT_EQ(parts, (std::vector<std::string_view>{"AAAA"}));
  ASSERT_TRUE(SplitPkcs7Parts("AAAA||BBBB", &parts));
  EXPECT_EQ(parts, (std::vector<std::string_view>{"AAAA", "BBBB"}));
  EXPECT_FALSE(SplitPkcs7Parts("AAAA||BBBB||CCCC", &parts));
  EXPECT_FALSE(SplitPkcs7Parts("A||||B", &parts));
}

TEST(KeyDeletion, StatusMappings) {
  const struct {
    uint32_t status;
    int full, shorter;
  } cases[] = {
      {0, 0, 0},
      {0x8010006E, -100, -100},
      {0xE011000F, -105, -300},
      {0x80100007, -105, -105},
      {0x8010002E, -102, -300},
      {0xE0110010, -221, -300},
      {0x8010006C, -221, -300},
      {0xE011FFFE, -393, -300},
      {0x80090016, -300, -300},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MapDeletionStatus(c.status), c.full) << std::hex << c.status;
    EXPECT_EQ(MapShortDeletionStatus(c.status), c.shorter) << std::hex << c.status;
  }
}

TEST(KeyDeletion, BatchRecord) {
  DeletionBatch batch(3);
  EXPECT_TRUE(batch.empty());
  ASSERT_TRUE(batch.Add("c1", 0x11, 2));
  ASSERT_TRUE(batch.Add("box", 0x22, 1));
  EXPECT_FALSE(batch.Add("", 1, 1));
  EXPECT_FALSE(batch.Add(std::string(256, 'x'), 1, 1));
  const csp::BatchRecord* r = batch.record();
  EXPECT_EQ(r->slot, 3u);
  EXPECT_EQ(r->count, 2u);
  const std::string list(reinterpret_cast<const char*>(r->list), r->list_length);
  EXPECT_EQ(list, std::string("\x02"
                              "c1"
                              "\x03"
                              "box",
                              7) +
                      std::string(1, '\0'));
  EXPECT_EQ(r->key_types[0], 0x11);
  EXPECT_EQ(r->key_types[1], 0x22);
  EXPECT_EQ(r->key_specs[0], 2);
  EXPECT_EQ(r->key_specs[1], 1);
  EXPECT_TRUE(batch.Contains("box", 1));
  EXPECT_FALSE(batch.Contains("box", 2));
  EXPECT_FALSE(batch.Contains("c", 2));
}

TEST(KeyDeletion, BatchHoldsAtMost100Entries) {
  DeletionBatch batch(0);
  for (int i = 0; i < 100; ++i)
    ASSERT_TRUE(batch.Add("c" + std::to_string(i), 1, 2));
  EXPECT_FALSE(batch.Add("one more", 1, 2));
  EXPECT_EQ(batch.count(), 100u);
}

}  // namespace
}  // namespace koba::core
