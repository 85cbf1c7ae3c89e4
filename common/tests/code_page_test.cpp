#include "code_page.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace koba::text {
namespace {

TEST(CodePage, OwnConvertersForUtf8AndGb18030) {
  const struct {
    unsigned code_page;
    std::string bytes;
    std::wstring text;
  } cases[] = {
      {kCodePageUtf8, "\xE4\xB8\xAD\xE6\x96\x87", L"\u4E2D\u6587"},
      {kCodePageGb18030, "\xD6\xD0\xCE\xC4", L"\u4E2D\u6587"},
      {kCodePageGb18030, "\xA8\xBC\x81\x35\xF4\x37", L"\uE7C7\u1E3F"},
      {kCodePageGb18030, "\x95\x32\x90\x31", L"\U00020087"},
      {936, "\xD6\xD0\xCE\xC4", L"\u4E2D\u6587"},
      {1252, "caf\xE9", L"caf\u00E9"},
  };
  for (const auto& c : cases) {
    std::wstring wide;
    ASSERT_TRUE(CodePageToUtf16(c.code_page, c.bytes, &wide)) << c.code_page;
    EXPECT_EQ(wide, c.text);
    std::string bytes;
    ASSERT_TRUE(Utf16ToCodePage(c.code_page, c.text, &bytes)) << c.code_page;
    EXPECT_EQ(bytes, c.bytes);
  }
}

TEST(CodePage, RefusesWhatTheCodePageCannotHold) {
  std::wstring wide = L"x";
  EXPECT_FALSE(CodePageToUtf16(kCodePageUtf8, "\xC0\xAF", &wide));
  EXPECT_FALSE(CodePageToUtf16(kCodePageGb18030, "\x81", &wide));
  EXPECT_FALSE(CodePageToUtf16(936, "\x81", &wide));
  EXPECT_TRUE(wide.empty());
  std::string bytes = "x";
  EXPECT_FALSE(Utf16ToCodePage(1252, L"\u4E2D", &bytes));
  EXPECT_FALSE(Utf16ToCodePage(kCodePageGb18030, std::wstring(1, L'\xD800'), &bytes));
  EXPECT_TRUE(bytes.empty());
}

TEST(CodePage, AnsiRoundTrip) {
  std::wstring wide;
  ASSERT_TRUE(AnsiToUtf16("Korvanet VexloToken 1", &wide));
  EXPECT_EQ(wide, L"Korvanet VexloToken 1");
  std::string ansi;
  ASSERT_TRUE(Utf16ToAnsi(wide, &ansi));
  EXPECT_EQ(ansi, "Korvanet VexloToken 1");
}

}  // namespace
}  // namespace koba::text
