// The host's "GMUsbKeySign" row against a virtual key whose certificate this test issues, with
// the recording PIN pad: member checks, codes, and the chunking of long signatures.
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "actions.h"
#include "crypto.h"
#include "device.h"
#include "dispatcher.h"
#include "store.h"
#include "testing/self_issued.h"
#include "text_encoding.h"

namespace koba::host {
namespace {

std::wstring BesideTest(const wchar_t* relative) {
  wchar_t exe[MAX_PATH];
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring dir(exe);
  dir.resize(dir.find_last_of(L'\\') + 1);
  return dir + relative;
}

class SignActionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    dir_ = std::wstring(temp) + L"koba-sign-action-" + std::to_wstring(GetCurrentProcessId());
    std::filesystem::create_directories(dir_);
    SetEnvironmentVariableW(L"KOBA_VKEY_STORE", dir_.c_str());
    SetEnvironmentVariableW(L"KOBA_VKEY_POLL_MS", L"20");
    pinpad_ = LoadLibraryW(paths_.pinpad.c_str());
    ASSERT_NE(pinpad_, nullptr);
    script_ = reinterpret_cast<void(__stdcall*)(const char*, uint32_t)>(
        reinterpret_cast<void (*)()>(GetProcAddress(pinpad_, "Recording_Script")));
    ASSERT_NE(script_, nullptr);
    script_("123456", 0);

    vkey::KeyPair pair;
    ASSERT_TRUE(vkey::GenerateKeyPair(1, 1024, &pair));
    certificate_ = vkey::testing::SelfIssued(pair, "Zhang San");
    ASSERT_TRUE(vkey::Transact([&](vkey::Store& s) {
      vkey::Key& key = vkey::AddKey(s, "AB12", false);
      std::string container, error;
      return vkey::AddPairToContainer(key, "c1", 2, pair, 0) &&
             vkey::ImportCertificate(key, certificate_, 0, &container, &error);
    }));
  }

  void TearDown() override {
    if (pinpad_ != nullptr)
      FreeLibrary(pinpad_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  // The frames the host writes for one request.
  std::vector<rapidjson::Document> Ask(const std::string& request) {
    rapidjson::Document doc;
    doc.Parse(request.c_str());
    std::vector<rapidjson::Document> frames;
    Dispatch(doc, table_, [&](std::string_view reply) {
      frames.emplace_back().Parse(reply.data(), reply.size());
      EXPECT_FALSE(frames.back().HasParseError()) << reply.substr(0, 200);
    });
    return frames;
  }

  static std::string Request(const std::string& path, const std::string& hash = "SHA256",
                             const std::string& dn = "CN=Zhang San") {
    return R"({"type":"GMUsbKeySign","tabID":12,"certDN":")" + dn + R"(","hashType":")" + hash +
           R"(","xmlInfo":"<T>100</T>","keyInfo":"k","filePath":")" + path + R"("})";
  }

  core::LibraryPaths paths_{BesideTest(L"..\\vkey\\Q2Token_koba.dll"),
                            BesideTest(L"..\\core\\recording_pinpad.dll")};
  core::TokenCore core_{paths_};
  csp::CspInterface csp_{BesideTest(L"..\\vkey\\Q2CSP_KOBA.dll")};
  ActionTable table_ = BuildActionTable(core_, csp_);
  std::wstring dir_;
  HMODULE pinpad_ = nullptr;
  void(__stdcall* script_)(const char*, uint32_t) = nullptr;
  vkey::Bytes certificate_;
};

TEST_F(SignActionTest, CodesAnswerInOneNumericReply) {
  const struct {
    std::string request;
    int code;
  } cases[] = {
      {Request("", "MD5"), -106},
      {Request("", "SHA256", ""), -106},
      {Request("", "SHA256", "CN=Li Si"), -405},
      {Request("Z:\\\\no\\\\such\\\\file.bin"), -302},
      {R"({"type":"GMUsbKeySign","tabID":3,"certDN":"CN=Zhang San","hashType":"SHA1",)"
       R"("xmlInfo":"x","keyInfo":"k"})",
       -106},
      {R"({"type":"GMUsbKeySign","tabID":3,"certDN":"CN=Zhang San","hashType":1,)"
       R"("xmlInfo":"x","keyInfo":"k","filePath":""})",
       -106},
  };
  for (const auto& c : cases) {
    const auto frames = Ask(c.request);
    ASSERT_EQ(frames.size(), 1u) << c.request;
    EXPECT_EQ(frames[0]["IsOver"].GetInt(), 1);
    ASSERT_TRUE(frames[0]["responseData"].IsInt()) << c.request;
    EXPECT_EQ(frames[0]["responseData"].GetInt(), c.code) << c.request;
    EXPECT_STREQ(frames[0]["action"].GetString(), "GMUsbKeySign");
  }
}

// Signs a file part of `size` bytes and reassembles the reply's pieces.
TEST_F(SignActionTest, LongSignaturesArriveInPieces) {
  for (size_t size : {size_t{0}, size_t{900000}}) {
    const std::filesystem::path file = std::filesystem::path(dir_) / "doc.bin";
    std::ofstream(file, std::ios::binary) << std::string(size, 'q');
    std::string path = file.string();
    std::string escaped;
    for (char ch : path)
      escaped += ch == '\\' ? std::string("\\\\") : std::string(1, ch);
    script_("123456", 0);
    const auto frames = Ask(Request(escaped));
    const size_t pieces = size == 0 ? 1 : 2;
    ASSERT_EQ(frames.size(), pieces) << size;
    std::string base64;
    for (size_t i = 0; i < frames.size(); ++i) {
      EXPECT_EQ(frames[i]["tabID"].GetInt(), 12);
      EXPECT_EQ(frames[i]["IsOver"].GetInt(), i + 1 == frames.size() ? 1 : 0);
      ASSERT_TRUE(frames[i]["responseData"].IsString()) << size;
      const std::string_view piece = frames[i]["responseData"].GetString();
      if (i + 1 < frames.size()) {
        EXPECT_EQ(piece.size(), kChunkBytes);
      }
      base64 += piece;
    }
    std::string der;
    ASSERT_TRUE(text::Base64Decode(base64, &der)) << size;
    // The message carries the certificate and the file's content in the signed record.
    EXPECT_NE(der.find(std::string(certificate_.begin(), certificate_.end())), std::string::npos);
    const std::string encoded = text::Base64Encode(std::string(size, 'q'));
    char item[32];
    std::snprintf(item, sizeof item, "23%010zu", path.size() + encoded.size() + 32);
    EXPECT_NE(der.find(item), std::string::npos);
    EXPECT_NE(der.find(path + encoded), std::string::npos);
  }
}

}  // namespace
}  // namespace koba::host
