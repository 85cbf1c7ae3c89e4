#include "key_lists.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text_encoding.h"

namespace koba::pagehelper {
namespace {

void PutLe32(std::string* s, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    s->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// The list layout: total, then length-prefixed entries.
std::string List(const std::vector<std::string>& entries) {
  std::string body;
  for (const std::string& e : entries) {
    PutLe32(&body, static_cast<uint32_t>(e.size()));
    body += e;
  }
  std::string list;
  PutLe32(&list, static_cast<uint32_t>(body.size()));
  return list + body;
}

std::vector<std::string_view> Parse(const std::string& list, bool* ok) {
  std::vector<uint8_t> buffer(kKeyListBufferBytes, 0);
  std::copy(list.begin(), list.end(), buffer.begin());
  std::vector<std::string_view> entries;
  static std::vector<uint8_t> keep;
  keep = buffer;
  *ok = ParseKeyList(keep.data(), keep.size(), &entries);
  return entries;
}

TEST(KeyLists, EntriesAndTheirTexts) {
  bool ok = false;
  const auto entries = Parse(List({"ab", std::string("c\0d", 3), ""}), &ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(KeyListText(entries), "ab||cd||");
  EXPECT_EQ(KeyListText({}), "");
}

TEST(KeyLists, MalformedListsAreRefused) {
  std::string past_total;
  PutLe32(&past_total, 6);
  PutLe32(&past_total, 5);  // an entry of 5 bytes in a total of 6
  past_total += "xy";
  std::string huge_total;
  PutLe32(&huge_total, 0xFFFFFFFF);
  std::string cut_length;
  PutLe32(&cut_length, 2);
  cut_length += "ab";
  for (const std::string& list : {past_total, huge_total, cut_length}) {
    bool ok = true;
    EXPECT_TRUE(Parse(list, &ok).empty());
    EXPECT_FALSE(ok);
  }
}

TEST(KeyLists, RsaKeysGetTheirHeaderAndExponent) {
  const std::string m128(128, '\x11'), m256(256, '\x22'), m5(5, '\x33');
  std::string text;
  ASSERT_TRUE(RsaPublicKeyText({m128, m256, m5}, &text));
  const std::string exp("\x02\x03\x01\x00\x01", 5);
  const std::string want =
      text::Base64Encode(std::string("\x30\x81\x89\x02\x81\x81\x00", 7) + m128 + exp) + "||" +
      text::Base64Encode(std::string("\x30\x82\x01\x0A\x02\x82\x01\x01\x00", 9) + m256 + exp) +
      "||" + text::Base64Encode(m5 + exp);
  EXPECT_EQ(text, want);
  std::string der;
  ASSERT_TRUE(text::Base64Decode(text.substr(0, text.find("||")), &der));
  EXPECT_EQ(der.size(), 140u);
  EXPECT_FALSE(RsaPublicKeyText({std::string(508, 'x')}, &text));
  EXPECT_TRUE(RsaPublicKeyText({std::string(507, 'x')}, &text));
}

}  // namespace
}  // namespace koba::pagehelper
