#include "json_text.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>

namespace koba::host {
namespace {

std::string Escaped(std::string_view text) {
  std::string out;
  AppendJsonEscaped(out, text);
  return out;
}

struct EscapeCase {
  std::string in;
  std::string out;
};

TEST(JsonText, EscapesWhatJsonRequires) {
  const EscapeCase cases[] = {
      {"CN=abc, O=Bank", "CN=abc, O=Bank"},
      {"say \"hi\"", "say \\\"hi\\\""},
      {"C:\\a\\b.txt", "C:\\\\a\\\\b.txt"},
      {"a\r\nb\tc", "a\\r\\nb\\tc"},
      {std::string("x\0y", 3), "x\\u0000y"},
      {"\x01\x1f\x7f", "\\u0001\\u001f\x7f"},
      {"\xe4\xb8\xad\xe6\x96\x87", "\xe4\xb8\xad\xe6\x96\x87"},  // well-formed UTF-8 stays
      {"\xf0\x9f\x94\x91", "\xf0\x9f\x94\x91"},
      {"a\xffz", "a\\ufffdz"},                               // not UTF-8 at all
      {"\xd6\xd0\xce\xc4", "\\ufffd\\ufffd\\ufffd\\ufffd"},  // GB18030 bytes
      {"\xe4\xb8", "\\ufffd\\ufffd"},                        // truncated sequence
      {"\xc0\xaf", "\\ufffd\\ufffd"},                        // overlong
      {"\xed\xa0\x80", "\\ufffd\\ufffd\\ufffd"},             // surrogate
      {"\xf4\x90\x80\x80", "\\ufffd\\ufffd\\ufffd\\ufffd"},  // above U+10FFFF
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Escaped(c.in), c.out) << c.in;
  }
}

TEST(JsonText, EveryByteValueGivesAStringJsonAccepts) {
  std::string all;
  for (int i = 0; i < 256; ++i)
    all += static_cast<char>(i);
  const std::string doc = "\"" + Escaped(all) + "\"";
  rapidjson::Document parsed;
  parsed.Parse<rapidjson::kParseValidateEncodingFlag>(doc.c_str());
  ASSERT_FALSE(parsed.HasParseError());
  ASSERT_TRUE(parsed.IsString());
  EXPECT_EQ(std::string(parsed.GetString(), 128), all.substr(0, 128));
}

}  // namespace
}  // namespace koba::host
