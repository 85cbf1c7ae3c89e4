#include "sign_record.h"

#include <gtest/gtest.h>

#include <cstring>

#include "token_api.h"

namespace koba::core {
namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) {
    out.push_back(static_cast<char>(v));
  }
  return out;
}

TEST(SignRecord, DigestNames) {
  const struct {
    const char* name;
    uint32_t key_algorithm;
    bool found;
    uint32_t code;
    int ossl;
    size_t length;
  } cases[] = {
      {"SM3", 1, true, 0x400000, 8, 32},
      {"SHA1", 2, true, 0x20000, 3, 20},
      {"SHA256", 1, true, 0x40000, 4, 32},
      {"sha256", 1, true, 0x40000, 4, 32},
      {"Sha384", 2, true, 0x80000, 5, 48},
      {"SHA512", 1, true, 0x100000, 6, 64},
      {"", 1, true, 0x20000, 3, 20},
      {"", 2, true, 0x400000, 8, 32},
      {"", 0, false, 0, 0, 0},
      {"MD5", 1, false, 0, 0, 0},
      {"SHA-256", 1, false, 0, 0, 0},
      {"SHA2560", 1, false, 0, 0, 0},
      {"SM", 2, false, 0, 0, 0},
      {" SM3", 2, false, 0, 0, 0},
  };
  for (const auto& c : cases) {
    DigestChoice choice;
    ASSERT_EQ(LookupDigest(c.name, c.key_algorithm, &choice), c.found) << c.name;
    if (c.found) {
      EXPECT_EQ(choice.code, c.code) << c.name;
      EXPECT_EQ(choice.ossl_algorithm, c.ossl) << c.name;
      EXPECT_EQ(choice.length, c.length) << c.name;
    }
  }
}

TEST(SignRecord, AlgorithmOfCode) {
  const std::pair<uint32_t, int> cases[] = {{0x10000, 2}, {0x20000, 3},  {0x40000, 4},
                                            {0x80000, 5}, {0x100000, 6}, {0x400000, 8},
                                            {0x12345, 3}, {0, 3}};
  for (const auto& [code, algorithm] : cases) {
    EXPECT_EQ(OsslAlgorithmOfCode(code), algorithm) << std::hex << code;
  }
}

TEST(SignRecord, DeviceText) {
  const std::string chinese = "\xE4\xB8\xAD\xE6\x96\x87 ok";  // "中文 ok"
  std::string out;
  ASSERT_TRUE(ToDeviceText(chinese, kTextGb18030, &out));
  EXPECT_EQ(out, "\xD6\xD0\xCE\xC4 ok");
  ASSERT_TRUE(ToDeviceText(chinese, kTextUtf8, &out));
  EXPECT_EQ(out, chinese);
  ASSERT_TRUE(ToDeviceText("", kTextGb18030, &out));
  EXPECT_EQ(out, "");

  out = "stale";
  EXPECT_FALSE(ToDeviceText("abc", 2, &out));
  EXPECT_EQ(out, "");
  EXPECT_FALSE(ToDeviceText("abc", -1, &out));
  EXPECT_FALSE(ToDeviceText("bad \xFF byte", kTextUtf8, &out));
  EXPECT_FALSE(ToDeviceText("cut \xE4\xB8", kTextGb18030, &out));
  EXPECT_EQ(out, "");
}

TEST(SignRecord, TextForm) {
  const struct {
    const char* xml;
    const char* key_info;
    const char* file_part;
    const char* expected;
  } cases[] = {
      {"hello", "abc", "",
       "110000000044"
       "210000000005hello"
       "220000000003abc"
       "230000000000"},
      {"", "", "", "110000000036210000000000220000000000230000000000"},
      {"<a/>", "", "FP", "110000000042210000000004<a/>220000000000230000000002FP"},
  };
  for (const auto& c : cases) {
    std::string record;
    ASSERT_TRUE(BuildSigningRecord(RecordForm::kText, c.xml, c.key_info, c.file_part, &record));
    EXPECT_EQ(record, c.expected);
    EXPECT_EQ(record.size(), strlen(c.xml) + strlen(c.key_info) + strlen(c.file_part) + 48);
  }
  std::string record;
  ASSERT_TRUE(BuildSigningRecord(RecordForm::kText, "hello", "abc", "", &record));
  EXPECT_EQ(record.size(), 56u);
  EXPECT_EQ(record.substr(0, 12), "110000000044");
}

TEST(SignRecord, BinaryForm) {
  std::string record;
  ASSERT_TRUE(BuildSigningRecord(RecordForm::kBinary, "hello", "abc", "FP", &record));
  const std::string expected =
      Bytes({0x11, 0, 0, 0, 0, 0, 0, 0, 37}) + Bytes({0x21, 0, 0, 0, 0, 0, 0, 0, 5}) + "hello" +
      Bytes({0x23, 0, 0, 0, 0, 0, 0, 0, 2}) + "FP" + Bytes({0x22, 0, 0, 0, 0, 0, 0, 0, 3}) + "abc";
  EXPECT_EQ(record, expected);
  EXPECT_EQ(record.size(), 5u + 3u + 2u + 36u);

  // Lengths above 255 use the upper bytes, big-endian.
  const std::string xml(0x10203, 'x');
  ASSERT_TRUE(BuildSigningRecord(RecordForm::kBinary, xml, "", "", &record));
  EXPECT_EQ(record.substr(0, 9), Bytes({0x11, 0, 0, 0, 0, 0x00, 0x01, 0x02, 0x1E}));
  EXPECT_EQ(record.substr(9, 9), Bytes({0x21, 0, 0, 0, 0, 0x00, 0x01, 0x02, 0x03}));
  EXPECT_EQ(record.size(), xml.size() + 36);
  EXPECT_EQ(record.substr(record.size() - 18),
            Bytes({0x23, 0, 0, 0, 0, 0, 0, 0, 0}) + Bytes({0x22, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(SignRecord, FormChoice) {
  EXPECT_EQ(RecordFormFor(1, 1), RecordForm::kBinary);
  EXPECT_EQ(RecordFormFor(7, 1), RecordForm::kBinary);
  EXPECT_EQ(RecordFormFor(0, 1), RecordForm::kText);
  EXPECT_EQ(RecordFormFor(1, 2), RecordForm::kText);
  EXPECT_EQ(RecordFormFor(1, 3), RecordForm::kText);
}

TEST(SignRecord, FilePart) {
  std::string part;
  ASSERT_TRUE(BuildFilePart("C:\\a.txt", "QUJD", &part));
  EXPECT_EQ(part,
            "0000000000000028"
            "00000020"
            "00000008"
            "C:\\a.txt"
            "QUJD");
  EXPECT_EQ(part.size(), 8u + 4u + 32u);

  ASSERT_TRUE(BuildFilePart("", "", &part));
  EXPECT_EQ(part, "00000000000000160000000800000000");
}

TEST(SignRecord, FilePartTooLargeForItsFields) {
  // N + C + 8 fills the 8-digit field exactly; one byte more cannot be written.
  const std::string path = "D:\\big";
  const std::string content(kFilePartLengthLimit - 8 - path.size() + 1, 'A');
  std::string part;
  ASSERT_TRUE(BuildFilePart(path, std::string_view(content).substr(1), &part));
  EXPECT_EQ(part.substr(0, 32), "00000001000000079999999900000006");
  part = "stale";
  EXPECT_FALSE(BuildFilePart(path, content, &part));
  EXPECT_EQ(part, "");
}

TEST(SignRecord, SignRequestLayout) {
  SignRequestFields fields;
  fields.key_type = 0x21;
  fields.key_algorithm = 2;
  fields.certificate_kind = 3;
  fields.digest_algorithm = 0x400000;
  fields.data = 0x11223344;
  fields.data_length = 56;
  fields.public_key = 0x55667788;
  fields.public_key_length = 64;
  fields.signature = 0x99AABBCC;

  const auto read32 = [](const std::vector<uint8_t>& b, size_t at) {
    return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 |
           uint32_t{b[at + 3]} << 24;
  };
  const struct {
    size_t width;
    size_t size;
    size_t data;
    size_t data_length;
    size_t public_key;
    size_t public_key_length;
    size_t signature_length;
    size_t signature;
  } layouts[] = {{4, 44, 20, 24, 28, 32, 36, 40}, {8, 56, 20, 28, 32, 40, 44, 48}};
  for (const auto& l : layouts) {
    const std::vector<uint8_t> b = EncodeSignRequest(fields, l.width);
    ASSERT_EQ(b.size(), l.size) << l.width;
    EXPECT_EQ(SignRequestSize(l.width), l.size);
    EXPECT_EQ(read32(b, 0), l.size);
    EXPECT_EQ(read32(b, 4), 0x21u);
    EXPECT_EQ(read32(b, 8), 2u);
    EXPECT_EQ(read32(b, 12), 3u);
    EXPECT_EQ(read32(b, 16), 0x400000u);
    EXPECT_EQ(read32(b, l.data), 0x11223344u);
    EXPECT_EQ(read32(b, l.data_length), 56u);
    EXPECT_EQ(read32(b, l.public_key), 0x55667788u);
    EXPECT_EQ(read32(b, l.public_key_length), 64u);
    EXPECT_EQ(read32(b, l.signature_length), 300u);
    EXPECT_EQ(read32(b, l.signature), 0x99AABBCCu);
    if (l.width == 8) {
      EXPECT_EQ(read32(b, l.data + 4), 0u);
      EXPECT_EQ(read32(b, l.public_key + 4), 0u);
      EXPECT_EQ(read32(b, l.signature + 4), 0u);
    }
  }

  fields.signature = uint64_t{1} << 32;
  EXPECT_TRUE(EncodeSignRequest(fields, 4).empty());
  EXPECT_EQ(EncodeSignRequest(fields, 8).size(), 56u);
  EXPECT_TRUE(EncodeSignRequest(fields, 6).empty());
}

#if defined(_WIN32)
// The encoder and the record the token library receives agree byte for byte.
TEST(SignRecord, EncoderMatchesTheLibraryRecord) {
  uint8_t data[4] = {};
  uint8_t public_key[4] = {};
  uint8_t signature[4] = {};
  token::SignRequest request = {};
  request.size = sizeof(request);
  request.key_type = 0x11;
  request.key_algorithm = 1;
  request.certificate_kind = 1;
  request.digest_algorithm = token::kDigestSha256;
  request.data = data;
  request.data_length = 4;
  request.public_key = public_key;
  request.public_key_length = 4;
  request.signature_length = kSignatureCapacity;
  request.signature = signature;

  SignRequestFields fields;
  fields.key_type = 0x11;
  fields.key_algorithm = 1;
  fields.certificate_kind = 1;
  fields.digest_algorithm = token::kDigestSha256;
  fields.data = reinterpret_cast<uintptr_t>(data);
  fields.data_length = 4;
  fields.public_key = reinterpret_cast<uintptr_t>(public_key);
  fields.public_key_length = 4;
  fields.signature = reinterpret_cast<uintptr_t>(signature);
  const std::vector<uint8_t> encoded = EncodeSignRequest(fields, sizeof(void*));
  ASSERT_EQ(encoded.size(), sizeof(request));
  EXPECT_EQ(std::memcmp(encoded.data(), &request, sizeof(request)), 0);
}
#endif

}  // namespace
}  // namespace koba::core
