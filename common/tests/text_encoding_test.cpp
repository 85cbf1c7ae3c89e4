#include "text_encoding.h"

#include <gtest/gtest.h>

#include <string>

namespace koba::text {
namespace {

std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int c : b)
    s.push_back(static_cast<char>(c));
  return s;
}

TEST(Utf8, ConvertsEveryForm) {
  struct Case {
    std::string utf8;
    std::u16string utf16;
  } cases[] = {
      {"", u""},
      {"abc", u"abc"},
      {Bytes({0xC3, 0xA9}), u"\u00E9"},
      {Bytes({0xE4, 0xB8, 0xAD, 0xE6, 0x96, 0x87}), u"\u4E2D\u6587"},
      {Bytes({0xEF, 0xBF, 0xBF}), u"\uFFFF"},
      {Bytes({0xF0, 0x9F, 0x98, 0x80}), u"\U0001F600"},
      {Bytes({0xF4, 0x8F, 0xBF, 0xBF}), u"\U0010FFFF"},
      {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
  };
  for (const Case& c : cases) {
    std::u16string u16;
    ASSERT_TRUE(Utf8ToUtf16(c.utf8, &u16));
    EXPECT_EQ(u16, c.utf16);
    std::string u8;
    ASSERT_TRUE(Utf16ToUtf8(c.utf16, &u8));
    EXPECT_EQ(u8, c.utf8);
  }
}

TEST(Utf8, RefusesMalformedInput) {
  const std::string bad[] = {
      Bytes({0x80}),                    // lone continuation
      Bytes({0xC0, 0xAF}),              // overlong
      Bytes({0xE0, 0x80, 0xAF}),        // overlong
      Bytes({0xED, 0xA0, 0x80}),        // surrogate
      Bytes({0xF4, 0x90, 0x80, 0x80}),  // above U+10FFFF
      Bytes({0xE4, 0xB8}),              // truncated
      Bytes({0x61, 0xF0, 0x9F, 0x98}),  // truncated at the end
      Bytes({0xC3, 0x41}),              // bad continuation
      Bytes({0xFF}),
  };
  for (const std::string& b : bad) {
    std::u16string out = u"x";
    EXPECT_FALSE(Utf8ToUtf16(b, &out));
    EXPECT_TRUE(out.empty());
  }
  const std::u16string bad16[] = {std::u16string(1, u'\xD800'), std::u16string(1, u'\xDC00'),
                                  std::u16string(u"a\xD800"
                                                 "b")};
  for (const std::u16string& b : bad16) {
    std::string out = "x";
    EXPECT_FALSE(Utf16ToUtf8(b, &out));
    EXPECT_TRUE(out.empty());
  }
}

// Known results of Windows' code page 54936.
TEST(Gb18030, GivesWindowsResults) {
  struct Case {
    std::string gb;
    std::u16string utf16;
  } cases[] = {
      {"A", u"A"},
      {Bytes({0xD6, 0xD0, 0xCE, 0xC4}), u"\u4E2D\u6587"},
      {Bytes({0x81, 0x40}), u"\u4E02"},
      {Bytes({0xA2, 0xE3}), u"\u20AC"},
      {Bytes({0xA3, 0xA0}), u"\uE5E5"},
      {Bytes({0xA8, 0xBC}), u"\uE7C7"},
      {Bytes({0x81, 0x35, 0xF4, 0x37}), u"\u1E3F"},
      {Bytes({0xFE, 0x51}), u"\uE816"},
      {Bytes({0xA6, 0xD9}), u"\uE78D"},
      {Bytes({0x84, 0x31, 0xA4, 0x39}), u"\uFFFF"},
      {Bytes({0x81, 0x30, 0x81, 0x30}), u"\u0080"},
      {Bytes({0x81, 0x30, 0x81, 0x31}), u"\u0081"},
      {Bytes({0xA8, 0xA2}), u"\u00E1"},
      {Bytes({0x90, 0x30, 0x81, 0x30}), u"\U00010000"},
      {Bytes({0xE3, 0x32, 0x9A, 0x35}), u"\U0010FFFF"},
      {Bytes({0x95, 0x32, 0x90, 0x31}), u"\U00020087"},
  };
  for (const Case& c : cases) {
    std::u16string u16;
    ASSERT_TRUE(Gb18030ToUtf16(c.gb, &u16));
    EXPECT_EQ(u16, c.utf16);
    std::string gb;
    ASSERT_TRUE(Utf16ToGb18030(c.utf16, &gb));
    EXPECT_EQ(gb, c.gb);
  }
}

TEST(Gb18030, RefusesBytesThatAreNoCode) {
  const std::string bad[] = {
      Bytes({0x80}),
      Bytes({0xFF}),
      Bytes({0x81}),
      Bytes({0x81, 0x7F}),
      Bytes({0x81, 0xFF}),
      Bytes({0x81, 0x30}),
      Bytes({0x81, 0x30, 0x81}),
      Bytes({0x81, 0x30, 0x7F, 0x30}),
      Bytes({0x81, 0x30, 0x81, 0x41}),
      Bytes({0x84, 0x31, 0xA5, 0x30}),  // past U+FFFF
      Bytes({0xE3, 0x32, 0x9A, 0x36}),  // past U+10FFFF
      Bytes({0xFE, 0x39, 0xFE, 0x39}),
  };
  for (const std::string& b : bad) {
    std::u16string out = u"x";
    EXPECT_FALSE(Gb18030ToUtf16(b, &out)) << testing::PrintToString(b);
    EXPECT_TRUE(out.empty());
  }
  std::string out = "x";
  EXPECT_FALSE(Utf16ToGb18030(std::u16string(1, u'\xDFFF'), &out));
  EXPECT_TRUE(out.empty());
}

// Every code of the code page decodes to one code point that encodes back to the same code,
// and every code point encodes to a code that decodes back to it.
TEST(Gb18030, RoundTripsTheWholeRange) {
  size_t codes = 0;
  std::u16string u16;
  std::string back;
  auto check = [&](const std::string& gb) {
    ASSERT_TRUE(Gb18030ToUtf16(gb, &u16)) << testing::PrintToString(gb);
    ASSERT_TRUE(Utf16ToGb18030(u16, &back));
    ASSERT_EQ(back, gb);
    ++codes;
  };
  for (int b = 0; b < 0x80; ++b)
    check(Bytes({b}));
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail != 0x7F)
        check(Bytes({lead, trail}));
    }
  }
  // The four-byte codes of the basic plane, then those of the supplementary planes.
  const struct { uint32_t first, count; } ranges[] = {{0, 39420}, {189000, 0x100000}};
  for (const auto& r : ranges) {
    for (uint32_t linear = r.first; linear < r.first + r.count; ++linear) {
      check(Bytes(
          {static_cast<int>(0x81 + linear / 12600), static_cast<int>(0x30 + linear / 1260 % 10),
           static_cast<int>(0x81 + linear / 10 % 126), static_cast<int>(0x30 + linear % 10)}));
    }
  }
  // 128 + 23940 + 39420 + 1048576: exactly one code per code point but the surrogates.
  EXPECT_EQ(codes, 0x110000u - 0x800u);

  std::u16string one;
  std::string gb;
  std::u16string decoded;
  for (uint32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF)
      continue;
    one.clear();
    if (cp < 0x10000) {
      one.push_back(static_cast<char16_t>(cp));
    } else {
      one.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      one.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    }
    ASSERT_TRUE(Utf16ToGb18030(one, &gb));
    ASSERT_TRUE(Gb18030ToUtf16(gb, &decoded));
    ASSERT_EQ(decoded, one) << cp;
  }
}

TEST(Base64, EncodesAndDecodes) {
  std::string all;
  for (int b = 0; b < 256; ++b)
    all.push_back(static_cast<char>(b));
  const struct {
    std::string bytes, text;
  } cases[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
      {Bytes({0xFB, 0xFF, 0xBF}), "+/+/"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Base64Encode(c.bytes), c.text);
    std::string back;
    ASSERT_TRUE(Base64Decode(c.text, &back));
    EXPECT_EQ(back, c.bytes);
  }
  // Long input: one line, no breaks.
  const std::string text = Base64Encode(all);
  EXPECT_EQ(text.size(), 344u);
  EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
  std::string back;
  ASSERT_TRUE(Base64Decode(text, &back));
  EXPECT_EQ(back, all);
}

TEST(Base64, RefusesWhatTheEncoderNeverWrites) {
  const std::string bad[] = {"Zg=",
                             "Zg",
                             "Z===",
                             "Zg==Zg==",
                             "Zm9v\n",
                             "Zm 9",
                             "Zm-9",
                             "=Zm9",
                             "Zm=v",
                             "Zh==",
                             "Zm9=",
                             "uuuuuuuuuuuuuuuuuuu=",
                             "\x80"
                             "AAA"};
  for (const std::string& b : bad) {
    std::string out = "x";
    EXPECT_FALSE(Base64Decode(b, &out)) << b;
    EXPECT_TRUE(out.empty());
  }
}

TEST(Hex, DigitsAndBytes) {
  const struct {
    char32_t c;
    int value;
  } digits[] = {{U'0', 0},  {U'9', 9},  {U'A', 10}, {U'f', 15}, {U'G', -1},      {U'g', -1},
                {U'/', -1}, {U':', -1}, {U'@', -1}, {U'`', -1}, {U'\uFF10', -1}, {0, -1}};
  for (const auto& d : digits)
    EXPECT_EQ(HexDigitValue(d.c), d.value) << static_cast<uint32_t>(d.c);
  const uint8_t bytes[] = {0x00, 0x1F, 0xAB, 0xFF};
  EXPECT_EQ(HexUpper(bytes, sizeof bytes), "001FABFF");
  EXPECT_EQ(HexUpperWide(bytes, sizeof bytes), L"001FABFF");
  EXPECT_EQ(HexUpper(bytes, 0), "");
}

}  // namespace
}  // namespace koba::text
