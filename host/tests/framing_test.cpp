#include "framing.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace koba::host {
namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File StreamOf(const std::string& bytes) {
  File f(std::tmpfile());
  std::fwrite(bytes.data(), 1, bytes.size(), f.get());
  std::rewind(f.get());
  return f;
}

std::string Prefix(uint32_t n) {
  std::string p(4, '\0');
  for (int i = 0; i < 4; ++i)
    p[i] = static_cast<char>((n >> (8 * i)) & 0xFF);
  return p;
}

std::string Frame(const std::string& payload) {
  return Prefix(static_cast<uint32_t>(payload.size())) + payload;
}

TEST(Framing, ReadsFramesInTurnThenEnds) {
  auto in = StreamOf(Frame("{\"type\":\"A\"}") + Frame("[1,2]") + Frame("{\"type\":\"B\"}"));
  rapidjson::Document doc;
  ASSERT_EQ(ReadRequest(in.get(), doc), 0);
  EXPECT_STREQ(doc["type"].GetString(), "A");
  ASSERT_EQ(ReadRequest(in.get(), doc), 0);
  EXPECT_TRUE(doc.IsArray());
  ASSERT_EQ(ReadRequest(in.get(), doc), 0);
  EXPECT_STREQ(doc["type"].GetString(), "B");
  EXPECT_EQ(ReadRequest(in.get(), doc), -1);
}

// Each case: the bytes on the input, what the first read returns and, for a frame that was
// read, whether the document is null afterwards.
struct ReadCase {
  const char* what;
  std::string bytes;
  int status;
  bool null_doc;
};

TEST(Framing, LengthAndPayloadEdgeCases) {
  const ReadCase cases[] = {
      {"empty input", "", -1, true},
      {"partial length", std::string("\x05\x00", 2), -1, true},
      {"zero length", Prefix(0) + Frame("{}"), -1, true},
      {"negative length", Prefix(0x80000001u) + "{}", -1, true},
      {"not JSON", Frame("abc"), 0, true},
      {"trailing value", Frame("{} {}"), 0, true},
      {"truncated payload", Prefix(40) + "{\"type\":", 0, true},
      {"NUL ends the text", Frame(std::string("{}\0garbage", 10)), 0, false},
      {"CR LF between tokens", Frame("{\r\n\"a\":1\r\n}"), 0, false},
      {"deep nesting", Frame(std::string(200000, '[')), 0, true},
  };
  for (const auto& c : cases) {
    auto in = StreamOf(c.bytes);
    rapidjson::Document doc;
    doc.SetObject();
    EXPECT_EQ(ReadRequest(in.get(), doc), c.status) << c.what;
    if (c.status == 0) {
      EXPECT_EQ(doc.IsNull(), c.null_doc) << c.what;
    }
  }
}

TEST(Framing, RequestBoundsCountNestingAndValuesOutsideStrings) {
  const std::string deepest =
      std::string(kMaxRequestDepth, '[') + std::string(kMaxRequestDepth, ']');
  std::string many = "[";
  for (size_t i = 0; i + 2 < kMaxRequestValues; ++i)
    many += "0,";
  many += "0]";
  const struct {
    const char* what;
    std::string text;
    bool within;
  } cases[] = {
      {"a page's request", R"({"type":"GMUsbKeySign","tabID":3,"certDN":"CN=a","filePath":""})",
       true},
      {"empty text", "", true},
      {"deepest allowed", deepest, true},
      {"one level deeper", "[" + deepest + "]", false},
      {"closers never go below zero", "]]]]" + deepest, true},
      {"most values allowed", many, true},
      {"one value more", many.substr(0, many.size() - 1) + ",0]", false},
      {"brackets inside a string", "{\"a\":\"" + std::string(1000, '[') + "\"}", true},
      {"commas inside a string", "[\"" + std::string(10000, ',') + "\"]", true},
      {"escaped quote keeps the string open",
       "[\"\\\"" + std::string(kMaxRequestDepth + 1, '[') + "\"]", true},
      {"escaped backslash closes the string",
       "[\"\\\\\"" + std::string(kMaxRequestDepth + 1, '[') + "\"]", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WithinRequestBounds(c.text.c_str()), c.within) << c.what;
  }
}

TEST(Framing, CarriageReturnsReachTheParser) {
  auto in = StreamOf(Frame("{\r\n\"a\":\"x\\r\\ny\"\r\n}"));
  rapidjson::Document doc;
  ASSERT_EQ(ReadRequest(in.get(), doc), 0);
  ASSERT_TRUE(doc.IsObject());
  EXPECT_STREQ(doc["a"].GetString(), "x\r\ny");
}

TEST(Framing, OversizedFrameIsSkippedAndTheStreamStaysInStep) {
  const uint32_t big = kMaxRequestBytes + 1u;
  std::string bytes = Prefix(big);
  bytes.append(big, ' ');
  bytes += Frame("{\"type\":\"next\"}");
  auto in = StreamOf(bytes);
  rapidjson::Document doc;
  ASSERT_EQ(ReadRequest(in.get(), doc), 0);
  EXPECT_TRUE(doc.IsNull());
  ASSERT_EQ(ReadRequest(in.get(), doc), 0);
  EXPECT_STREQ(doc["type"].GetString(), "next");
}

TEST(Framing, WriteReplyPrefixesTheLittleEndianLength) {
  File out(std::tmpfile());
  const std::string text(0x01A2 + 3, 'x');
  WriteReply(out.get(), text);
  WriteReply(out.get(), "");
  std::rewind(out.get());
  std::string got(4 + text.size() + 4, '\0');
  ASSERT_EQ(std::fread(&got[0], 1, got.size(), out.get()), got.size());
  EXPECT_EQ(got.substr(0, 4), std::string("\xA5\x01\x00\x00", 4));
  EXPECT_EQ(got.substr(4, text.size()), text);
  EXPECT_EQ(got.substr(4 + text.size()), std::string(4, '\0'));
}

}  // namespace
}  // namespace koba::host
