#include "diag_log.h"

#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "text_encoding.h"
#include "win_test_util.h"

namespace koba::diaglog {
namespace {

using koba::testing::Child;
using koba::testing::ReadFileBytes;
using koba::testing::RunTool;
using koba::testing::TempFolder;
using koba::testing::WriteFileBytes;

std::string Request(int n) {
  return "{\"requestId\":\"" + std::to_string(n) + "\"}\r\n";
}

// Each test has a temporary folder of its own, which the log (and the tool processes, which
// inherit the environment) take as the user's temporary folder.
class DiagLog : public ::testing::Test {
 protected:
  void SetUp() override {
    for (auto& [name, saved] : saved_) {
      wchar_t value[MAX_PATH] = {};
      GetEnvironmentVariableW(name, value, MAX_PATH);
      saved = value;
      SetEnvironmentVariableW(name, temp_.path().c_str());
    }
  }
  void TearDown() override {
    for (const auto& [name, saved] : saved_)
      SetEnvironmentVariableW(name, saved.empty() ? nullptr : saved.c_str());
  }
  std::wstring LogPath(const std::wstring& id) const { return temp_.path() + L"KVN_" + id; }
  std::string LogText(const std::wstring& id) const {
    const auto bytes = ReadFileBytes(LogPath(id));
    return {bytes.begin(), bytes.end()};
  }
  static std::string Decoded(const std::string& base64) {
    std::string text;
    EXPECT_TRUE(text::Base64Decode(base64, &text));
    return text;
  }

  TempFolder temp_;
  std::pair<const wchar_t*, std::wstring> saved_[2] = {{L"TMP", L""}, {L"TEMP", L""}};
};

TEST_F(DiagLog, AppendWritesTimestampedLinesThatTheReaderReturns) {
  DiagnosticLog log;
  EXPECT_EQ(LogFilePath("SN01"), LogPath(L"SN01"));
  ASSERT_EQ(log.AppendLogRecord("SN01", "insert"), 1);
  ASSERT_EQ(log.AppendLogRecord("SN01", "remove"), 1);
  const std::string text = LogText(L"SN01");
  const std::regex line_re(
      "\"insert\":\"\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}\\.\\d{3}\"\r\n"
      "\"remove\":\"\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}\\.\\d{3}\"\r\n");
  EXPECT_TRUE(std::regex_match(text, line_re)) << text;

  // No request records: the whole file, with LF line ends.
  std::string base64;
  ASSERT_EQ(log.ReadLogTail("SN01", 5, &base64), 1);
  std::string lf = text;
  for (size_t p; (p = lf.find("\r\n")) != std::string::npos;)
    lf.erase(p, 1);
  EXPECT_EQ(Decoded(base64), lf);
  std::string content;
  EXPECT_EQ(GetLogFileContent("SN01", 5, &content), 0);
  EXPECT_EQ(content, base64);
}

TEST_F(DiagLog, ReaderReturnsTheLastRecords) {
  std::string file;
  for (int i = 1; i <= 50; ++i)
    file += Request(i) + "\"insert\":\"t\"\r\n";
  WriteFileBytes(LogPath(L"SN02"), file);
  std::string base64;
  ASSERT_EQ(GetLogFileContent("SN02", 5, &base64), 0);
  EXPECT_EQ(Decoded(base64),
            "{\"requestId\":\"46\"}\n\"insert\":\"t\"\n{\"requestId\":\"47\"}\n\"insert\":\"t\"\n"
            "{\"requestId\":\"48\"}\n\"insert\":\"t\"\n{\"requestId\":\"49\"}\n\"insert\":\"t\"\n"
            "{\"requestId\":\"50\"}\n\"insert\":\"t\"\n");
}

TEST_F(DiagLog, ReaderFailures) {
  WriteFileBytes(LogPath(L"EMPTY"), "");
  DiagnosticLog log;
  std::string base64 = "x";
  const char* ids[] = {"MISSING", "EMPTY", "..\\..\\windows\\win.ini", "C:\\windows\\win.ini", ""};
  for (const char* id : ids) {
    EXPECT_EQ(log.ReadLogTail(id, 5, &base64), 0) << id;
    EXPECT_EQ(base64, "");
    EXPECT_EQ(GetLogFileContent(id, 5, &base64), kErrLogUnreadable) << id;
  }
  EXPECT_EQ(log.ReadLogTail(nullptr, 5, &base64), 0);
  EXPECT_EQ(log.ReadLogTail("EMPTY", 5, nullptr), 0);
  EXPECT_EQ(log.AppendLogRecord("a/b", "insert"), 0);
  EXPECT_EQ(log.AppendLogRecord("SN03", nullptr), 0);
  EXPECT_EQ(log.AppendLogRecord("SN03", "bad\r\n{\"requestId\":\"1\"}"), 0);
  EXPECT_EQ(GetFileAttributesW(LogPath(L"SN03").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(DiagLog, AppendTrimsPastTheLineLimit) {
  const struct {
    size_t records;
    bool trimmed;
  } cases[] = {{31, true}, {30, false}};
  for (const auto& c : cases) {
    std::string file;
    for (size_t i = 0; i < 10000 - c.records; ++i)
      file += "\"insert\":\"t\"\r\n";
    for (size_t i = 1; i <= c.records; ++i)
      file += Request(static_cast<int>(i));
    WriteFileBytes(LogPath(L"TRIM"), file);
    DiagnosticLog log;
    ASSERT_EQ(log.AppendLogRecord("TRIM", "insert"), 1);
    const std::string after = LogText(L"TRIM");
    if (c.trimmed) {
      EXPECT_EQ(after.compare(0, Request(2).size(), Request(2)), 0);
      EXPECT_EQ(after.size(), file.size() - file.find(Request(2)) + 36);
    } else {
      EXPECT_EQ(after.size(), file.size() + 36);
      EXPECT_EQ(after.compare(0, file.size(), file), 0);
    }
    EXPECT_EQ(after.compare(after.size() - 36, 10, "\"insert\":\""), 0);
  }
}

TEST_F(DiagLog, TwoProcessesAppendingLoseNothing) {
  Child a(L"append RACE insert 200");
  Child b(L"append RACE remove 200");
  ASSERT_TRUE(a.started() && b.started());
  EXPECT_EQ(a.Finish(), 0);
  EXPECT_EQ(b.Finish(), 0);
  const std::string text = LogText(L"RACE");
  const std::regex line_re("\"(insert|remove)\":\"[-0-9T:.]{23}\"\r\n");
  size_t inserts = 0;
  size_t removes = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t end = text.find("\r\n", pos);
    ASSERT_NE(end, std::string::npos);
    const std::string line = text.substr(pos, end + 2 - pos);
    ASSERT_TRUE(std::regex_match(line, line_re)) << line;
    (line[1] == 'i' ? inserts : removes)++;
    pos = end + 2;
  }
  EXPECT_EQ(inserts, 200u);
  EXPECT_EQ(removes, 200u);
}

TEST_F(DiagLog, AnOperationGivesUpWhileAnotherProcessHoldsTheMutex) {
  WriteFileBytes(LogPath(L"HELD"), Request(1));
  Child holder(L"hold");
  ASSERT_TRUE(holder.started());
  ASSERT_EQ(holder.ReadLine(), "held");
  DiagnosticLog log;
  std::string base64 = "x";
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(log.ReadLogTail("HELD", 5, &base64), 0);
  EXPECT_GE(GetTickCount64() - start, kMutexWaitMs - 100);
  EXPECT_EQ(base64, "");
  EXPECT_EQ(log.AppendLogRecord("HELD", "insert"), 0);
  EXPECT_EQ(LogText(L"HELD"), Request(1));
  EXPECT_EQ(holder.Finish(), 0);
  EXPECT_EQ(log.ReadLogTail("HELD", 5, &base64), 1);
  EXPECT_EQ(log.AppendLogRecord("HELD", "insert"), 1);
}

TEST_F(DiagLog, MutexIsOpenToEveryoneButNetworkLogons) {
  DiagnosticLog log;
  ASSERT_TRUE(log.AcquireLogMutex());
  log.ReleaseLogMutex();
  win::UniqueHandle mutex(OpenMutexW(READ_CONTROL, FALSE, kLogMutexName));
  ASSERT_TRUE(mutex);
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_EQ(GetSecurityInfo(mutex.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, nullptr, nullptr, &sd),
            static_cast<DWORD>(ERROR_SUCCESS));
  win::UniqueLocal<void> own_sd(sd);
  wchar_t* sddl = nullptr;
  ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
      sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl, nullptr));
  win::UniqueLocal<wchar_t> own_sddl(sddl);
  const std::wstring text(sddl);
  for (const wchar_t* ace : {L"(D;OICI;GA;;;NU)", L"(D;OICI;GA;;;NO)", L"(D;OICI;GA;;;NS)"})
    EXPECT_NE(text.find(ace), std::wstring::npos) << ace;
  EXPECT_NE(text.find(L";;;WD)"), std::wstring::npos);
}

struct AceSeen {
  BYTE type;
  ACCESS_MASK mask;
  std::wstring sid;
};

std::vector<AceSeen> Aces(PACL acl) {
  std::vector<AceSeen> seen;
  for (DWORD i = 0; acl != nullptr && i < acl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(acl, i, &ace))
      break;
    // The access-allowed, access-denied and mandatory-label ACEs share one layout.
    const auto* a = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
    wchar_t* sid = nullptr;
    ConvertSidToStringSidW(const_cast<DWORD*>(&a->SidStart), &sid);
    win::UniqueLocal<wchar_t> own(sid);
    seen.push_back({a->Header.AceType, a->Mask, sid != nullptr ? sid : L""});
  }
  return seen;
}

// The descriptor the mutex is created with, read ACE by ACE (Wine neither keeps labels on
// kernel objects nor writes label ACEs back as text).
TEST(LogMutexSecurityTest, DaclAndLowLabel) {
  LogMutexSecurity security;
  ASSERT_EQ(security.attributes()->nLength, sizeof(SECURITY_ATTRIBUTES));
  EXPECT_FALSE(security.attributes()->bInheritHandle);
  PSECURITY_DESCRIPTOR sd = security.attributes()->lpSecurityDescriptor;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted));
  ASSERT_TRUE(present);
  const std::vector<AceSeen> d = Aces(dacl);
  ASSERT_EQ(d.size(), 4u);
  const wchar_t* denied[] = {L"S-1-5-2", L"S-1-5-32-556", L"S-1-5-20"};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(d[i].type, ACCESS_DENIED_ACE_TYPE);
    EXPECT_EQ(d[i].mask, static_cast<ACCESS_MASK>(GENERIC_ALL));
    EXPECT_EQ(d[i].sid, denied[i]);
  }
  EXPECT_EQ(d[3].type, ACCESS_ALLOWED_ACE_TYPE);
  EXPECT_EQ(d[3].sid, L"S-1-1-0");
  EXPECT_EQ(d[3].mask & GENERIC_ALL, static_cast<ACCESS_MASK>(GENERIC_ALL));

  PACL sacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorSacl(sd, &present, &sacl, &defaulted));
  ASSERT_TRUE(present);
  const std::vector<AceSeen> label = Aces(sacl);
  ASSERT_EQ(label.size(), 1u);
  EXPECT_EQ(label[0].type, SYSTEM_MANDATORY_LABEL_ACE_TYPE);
  EXPECT_EQ(label[0].mask, static_cast<ACCESS_MASK>(SYSTEM_MANDATORY_LABEL_NO_WRITE_UP));
  EXPECT_EQ(label[0].sid, L"S-1-16-4096");
}

}  // namespace
}  // namespace koba::diaglog
