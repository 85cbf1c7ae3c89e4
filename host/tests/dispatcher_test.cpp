#include "dispatcher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace koba::host {
namespace {

class DispatcherTest : public ::testing::Test {
 protected:
  DispatcherTest() {
    table_.Add(TextAction("GetMediaID", {}, 60, [](const Args&, char* out, size_t cap) {
      snprintf(out, cap, "UKeySN0123456789ABCDEF");
      return 0;
    }));
    table_.Add(IsExtensionOkAction());
    table_.Add(CodeAction("SetCharset", {{"charset"}}, [this](const Args& a) {
      seen_.emplace_back(a.Str(0));
      return 0;
    }));
    table_.Add(CodeAction("Fails", {}, [](const Args&) { return -102; }));
    table_.Add(TextAction("Quoted", {}, 64, [](const Args&, char* out, size_t cap) {
      snprintf(out, cap, "CN=\"A\\B\"");
      return 0;
    }));
    table_.Add(TextAction("Unterminated", {}, 4, [](const Args&, char* out, size_t) {
      memcpy(out, "abcd", 4);
      return 0;
    }));
    table_.Add(CodeAction(
        "SignFileExt", {{"certDN", MemberType::kString, false, 63}, {"fileP7", MemberType::kAny}},
        [this](const Args& a) {
          seen_.emplace_back(a.Has(1) ? "with fileP7" : "no fileP7");
          return 0;
        }));
    table_.Add(CodeAction("GetSignFileContent",
                          {{"signedFileToken", MemberType::kString, false, 0, 64},
                           {"maxLength", MemberType::kInt32},
                           {"fileOffset", MemberType::kInt32}},
                          [](const Args& a) { return a.Int(1) + a.Int(2); }));
    table_.Add(CodeAction("GetLogFileContent", {{"MediaID"}, {"LineNum", MemberType::kNumber}},
                          [](const Args& a) { return a.Int(1); }));
  }

  std::vector<std::string> Run(const std::string& json) {
    rapidjson::Document doc;
    doc.Parse(json.c_str());
    if (doc.HasParseError())
      doc.SetNull();
    std::vector<std::string> replies;
    Dispatch(doc, table_, [&](std::string_view r) { replies.emplace_back(r); });
    return replies;
  }

  std::string RunOne(const std::string& json) {
    auto replies = Run(json);
    EXPECT_EQ(replies.size(), 1u) << json;
    return replies.empty() ? "" : replies[0];
  }

  ActionTable table_;
  std::vector<std::string> seen_;
};

TEST_F(DispatcherTest, RepliesByteForByte) {
  const struct {
    const char* request;
    const char* reply;
  } cases[] = {
      {R"({"type":"IsExtensionOK"})",
       R"({"tabID": 0,"IsOver": 1,"action": "IsExtensionOK","responseType": "IsExtensionOK","responseData": 0})"},
      {R"({"type":"GetMediaID","tabID":3})",
       R"({"tabID": 3,"IsOver": 1,"action": "GetMediaID","responseType": "GetMediaID","responseData": "UKeySN0123456789ABCDEF"})"},
      {R"({"type":"Foo","tabID":7})",
       R"({"tabID": 7,"IsOver": 1,"action": "Foo","responseType": "Foo","error":"NativeExe: not supported function","responseData": -411})"},
      {R"({"type":"getmediaid"})",
       R"({"tabID": 0,"IsOver": 1,"action": "getmediaid","responseType": "getmediaid","error":"NativeExe: not supported function","responseData": -411})"},
      {R"({"tabID":5})",
       R"({"tabID": 5,"IsOver": 1,"action": "invalid action","error":"NativeExe: can not find \"type\" in params"})"},
      {R"({"type":12})",
       R"({"tabID": 0,"IsOver": 1,"action": "invalid action","error":"NativeExe: can not find \"type\" in params"})"},
      {"not json",
       R"({"tabID": 0,"IsOver": 1,"action": "invalid action","error":"NativeExe: can not find \"type\" in params"})"},
      {R"({"type":"Fails","tabID":2})",
       R"({"tabID": 2,"IsOver": 1,"action": "Fails","responseType": "Fails","responseData": -102})"},
      {R"({"type":"SetCharset"})",
       R"({"tabID": 0,"IsOver": 1,"action": "SetCharset","responseType": "SetCharset","responseData": -106})"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RunOne(c.request), c.reply) << c.request;
  }
}

TEST_F(DispatcherTest, RootsThatAreNotObjectsAreInvalidActions) {
  for (const char* root : {"1", "true", "false", "null", "\"IsExtensionOK\"", "[\"type\"]"}) {
    EXPECT_NE(RunOne(root).find("\"action\": \"invalid action\""), std::string::npos) << root;
  }
}

TEST_F(DispatcherTest, TabIdOnlyWhenItIsA32BitInteger) {
  const struct {
    const char* tab;
    const char* expected;
  } cases[] = {{"12", "\"tabID\": 12,"},        {"-4", "\"tabID\": -4,"},
               {"1.5", "\"tabID\": 0,"},        {"\"7\"", "\"tabID\": 0,"},
               {"4294967296", "\"tabID\": 0,"}, {"null", "\"tabID\": 0,"}};
  for (const auto& c : cases) {
    const std::string reply =
        RunOne(std::string(R"({"type":"IsExtensionOK","tabID":)") + c.tab + "}");
    EXPECT_EQ(reply.find(c.expected), 1u) << c.tab << " -> " << reply;
  }
}

TEST_F(DispatcherTest, MemberChecksAnswerMinus106WithoutRunningTheOperation) {
  const char* bad[] = {
      R"({"type":"SetCharset","charset":5})",
      R"({"type":"SignFileExt"})",
      R"({"type":"SignFileExt","certDN":"0123456789012345678901234567890123456789012345678901234567890123"})",
      R"({"type":"GetSignFileContent","signedFileToken":"x","maxLength":1,"fileOffset":0})",
      R"({"type":"GetSignFileContent","signedFileToken":"0123456789012345678901234567890123456789012345678901234567890123","maxLength":1.5,"fileOffset":0})",
      R"({"type":"GetSignFileContent","signedFileToken":"0123456789012345678901234567890123456789012345678901234567890123","maxLength":1,"fileOffset":2147483648})",
      R"({"type":"GetLogFileContent","MediaID":"x","LineNum":"3"})",
  };
  for (const char* request : bad) {
    EXPECT_NE(RunOne(request).find("\"responseData\": -106}"), std::string::npos) << request;
  }
  EXPECT_TRUE(seen_.empty());
}

TEST_F(DispatcherTest, MembersReachTheOperation) {
  RunOne(R"({"type":"SetCharset","charset":"","extra":1})");
  RunOne(R"({"type":"SignFileExt","certDN":"CN=a","fileP7":17})");
  RunOne(R"({"type":"SignFileExt","certDN":"CN=a"})");
  EXPECT_EQ(seen_, (std::vector<std::string>{"", "with fileP7", "no fileP7"}));
  EXPECT_NE(RunOne(R"({"type":"GetSignFileContent","signedFileToken":")" + std::string(64, 'a') +
                   R"(","maxLength":40,"fileOffset":2})")
                .find("\"responseData\": 42}"),
            std::string::npos);
  for (const auto& [num, expected] : std::vector<std::pair<std::string, std::string>>{
           {"7", "7"}, {"7.9", "7"}, {"-2.5", "-2"}, {"1e12", "2147483647"}}) {
    EXPECT_NE(RunOne(R"({"type":"GetLogFileContent","MediaID":"m","LineNum":)" + num + "}")
                  .find("\"responseData\": " + expected + "}"),
              std::string::npos)
        << num;
  }
}

TEST_F(DispatcherTest, TextThatReachesATemplateStaysValidJson) {
  for (const char* request :
       {R"({"type":"Quoted"})", R"({"type":"Unterminated"})", R"({"type":"a\"b\\c\u0001"})",
        "{\"type\":\"\\u00e9\\ud83d\\udd11\\n\"}"}) {
    const std::string reply = RunOne(request);
    rapidjson::Document doc;
    doc.Parse<rapidjson::kParseValidateEncodingFlag>(reply.c_str());
    EXPECT_FALSE(doc.HasParseError()) << reply;
  }
  rapidjson::Document doc;
  doc.Parse(RunOne(R"({"type":"Quoted"})").c_str());
  EXPECT_STREQ(doc["responseData"].GetString(), "CN=\"A\\B\"");
  doc.Parse(RunOne(R"({"type":"Unterminated"})").c_str());
  EXPECT_STREQ(doc["responseData"].GetString(), "abcd");
}

TEST_F(DispatcherTest, NamesAreComparedWholeAndBounded) {
  // An embedded NUL does not make a known name out of a longer one.
  const std::string with_nul = RunOne(R"({"type":"IsExtensionOK\u0000x"})");
  EXPECT_NE(with_nul.find("-411"), std::string::npos);
  const std::string long_name(150, 'A');
  const std::string reply = RunOne(R"({"type":")" + long_name + "\"}");
  EXPECT_NE(reply.find("\"action\": \"" + std::string(kMaxActionName, 'A') + "\","),
            std::string::npos);
  EXPECT_NE(reply.find("-411"), std::string::npos);
}

// Chunking of long results, with and without a prefix on the first piece.
struct ChunkCase {
  size_t length;
  std::string prefix;
  std::vector<size_t> pieces;  // text bytes per reply, prefix excluded
};

TEST(Chunking, SplitsAtTheChunkSize) {
  const ChunkCase cases[] = {
      {0, "", {0}},
      {kChunkBytes, "", {kChunkBytes}},
      {kChunkBytes + 1, "", {kChunkBytes, 1}},
      {2 * kChunkBytes, "", {kChunkBytes, kChunkBytes, 0}},
      {kChunkBytes, "MARK=1||CONTENT=", {kChunkBytes}},
      {kChunkBytes + 5, "MARK=2||CONTENT=", {kChunkBytes, 5}},
  };
  for (const auto& c : cases) {
    std::string text(c.length, 'Q');
    if (c.length > 0)
      text.back() = 'Z';
    std::vector<std::string> frames;
    const FrameWriter write = [&](std::string_view r) { frames.emplace_back(r); };
    Reply(12, "GMUsbKeySign", write).Chunked(text, c.prefix);
    ASSERT_EQ(frames.size(), c.pieces.size()) << c.length;
    std::string joined;
    for (size_t k = 0; k < frames.size(); ++k) {
      rapidjson::Document doc;
      doc.Parse(frames[k].c_str());
      ASSERT_FALSE(doc.HasParseError());
      EXPECT_EQ(doc["tabID"].GetInt(), 12);
      EXPECT_EQ(doc["IsOver"].GetInt(), k + 1 == frames.size() ? 1 : 0);
      std::string data(doc["responseData"].GetString(), doc["responseData"].GetStringLength());
      if (k == 0) {
        ASSERT_EQ(data.compare(0, c.prefix.size(), c.prefix), 0);
        data.erase(0, c.prefix.size());
      }
      EXPECT_EQ(data.size(), c.pieces[k]) << c.length << " piece " << k;
      joined += data;
    }
    EXPECT_EQ(joined, text);
  }
}

}  // namespace
}  // namespace koba::host
