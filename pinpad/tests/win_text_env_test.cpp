// The text table on Windows: settings from a private registry key, language files from a
// private install folder with a non-ASCII name, read through libgcrypt-backed token functions.
#include "win_text_env.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "gcrypt_alg.h"
#include "text_encoding.h"
#include "win_handles.h"

namespace VKey {
namespace {

std::wstring Widen(const std::string& s) {
  return std::wstring(s.begin(), s.end());
}

class WinTextEnvTest : public ::testing::Test {
 protected:
  void SetUp() override {
    keyPath_ = L"Software\\KobaTest\\pinpad_" + std::to_wstring(GetCurrentProcessId());
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    install_ = std::wstring(temp) + L"koba 安装目录 " + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryW(install_.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((install_ + L"\\langs").c_str(), nullptr));
    std::wstring source = L"Z:" + Widen(KOBA_LANGS_DIR);
    for (auto& c : source) {
      c = c == L'/' ? L'\\' : c;
    }
    for (const wchar_t* name : {L"1033_enc.ini", L"2052_enc.ini", L"1028_enc.ini"}) {
      ASSERT_TRUE(CopyFileW((source + L"\\" + name).c_str(),
                            (install_ + L"\\langs\\" + name).c_str(), TRUE))
          << GetLastError();
    }
  }

  void TearDown() override {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, keyPath_.c_str());
    RegDeleteTreeW(HKEY_CURRENT_USER, keyPath_.c_str());
    for (const wchar_t* name : {L"1033_enc.ini", L"2052_enc.ini", L"1028_enc.ini"}) {
      DeleteFileW((install_ + L"\\langs\\" + name).c_str());
    }
    RemoveDirectoryW((install_ + L"\\langs").c_str());
    RemoveDirectoryW(install_.c_str());
  }

  RegKey Create(HKEY root) const {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(root, keyPath_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    return RegKey(key);
  }
  void SetString(HKEY root, const wchar_t* name, const std::wstring& value) const {
    const RegKey key = Create(root);
    RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  }
  void SetDword(HKEY root, const wchar_t* name, DWORD value) const {
    const RegKey key = Create(root);
    RegSetValueExW(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                   sizeof value);
  }
  std::optional<uint32_t> Dword(HKEY root, const wchar_t* name) const {
    return ReadRegDword(root, keyPath_, name);
  }

  std::wstring keyPath_;
  std::wstring install_;
};

TEST_F(WinTextEnvTest, LoadsTextsFromTheInstallFolderOfTheSettings) {
  SetString(HKEY_LOCAL_MACHINE, L"InstallPath", install_);
  SetDword(HKEY_LOCAL_MACHINE, L"LangId", 2052);
  WinTextEnv env(keyPath_);
  TextTable table(env, test::GcryptAlg());
  table.ReloadSettings();
  EXPECT_EQ(table.LastError(), 0);
  EXPECT_EQ(table.LoadText("OK"), u"确定");
  EXPECT_EQ(table.Select(1028, false), 0);
  EXPECT_EQ(table.LoadText("Cancel"), u"取消");
  EXPECT_EQ(table.Select(1049, false), ERROR_FILE_NOT_FOUND) << "no Russian file installed";
  EXPECT_TRUE(table.LoadText("OK").empty());
}

TEST_F(WinTextEnvTest, MissingMachineLanguageIsChosenAndWrittenToBothHives) {
  SetString(HKEY_LOCAL_MACHINE, L"InstallPath", install_);
  WinTextEnv env(keyPath_);
  TextTable table(env, test::GcryptAlg());
  table.ReloadSettings();
  const uint32_t expected = MapSystemLanguage(GetSystemDefaultLangID());
  EXPECT_EQ(table.MachineLanguage(), expected);
  EXPECT_EQ(Dword(HKEY_LOCAL_MACHINE, L"LangId"), expected);
  EXPECT_EQ(Dword(HKEY_CURRENT_USER, L"LangId"), expected);
}

TEST_F(WinTextEnvTest, BadInstallPathValuesReadAsMissing) {
  const std::wstring tooLong(300, L'x');
  const struct {
    const char* what;
    bool asDword;
    std::wstring value;
  } cases[] = {{"a DWORD", true, L""}, {"longer than 260 characters", false, tooLong}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, keyPath_.c_str());
    if (c.asDword) {
      SetDword(HKEY_LOCAL_MACHINE, L"InstallPath", 1);
    } else {
      SetString(HKEY_LOCAL_MACHINE, L"InstallPath", c.value);
    }
    SetDword(HKEY_LOCAL_MACHINE, L"LangId", 1033);
    WinTextEnv env(keyPath_);
    const auto settings = env.ReadMachineSettings();
    ASSERT_TRUE(settings.has_value());
    EXPECT_FALSE(settings->installPath.has_value());
    EXPECT_EQ(settings->langId, 1033u);
    TextTable table(env, test::GcryptAlg());
    table.ReloadSettings();
    EXPECT_NE(table.LastError(), 0);
    EXPECT_TRUE(table.LoadText("OK").empty());
  }
}

TEST_F(WinTextEnvTest, WithoutTheMachineKeyNothingIsWritten) {
  WinTextEnv env(keyPath_);
  EXPECT_FALSE(env.ReadMachineSettings().has_value());
  TextTable table(env, test::GcryptAlg());
  table.ReloadSettings();
  EXPECT_FALSE(Dword(HKEY_LOCAL_MACHINE, L"LangId").has_value());
  EXPECT_FALSE(Dword(HKEY_CURRENT_USER, L"LangId").has_value());
}

TEST_F(WinTextEnvTest, UserLanguageSettings) {
  WinTextEnv env(keyPath_);
  EXPECT_FALSE(env.ReadUserLangSettings().keyExists);
  SetString(HKEY_CURRENT_USER, L"UILang", L"1041");
  UserLangSettings user = env.ReadUserLangSettings();
  EXPECT_TRUE(user.keyExists);
  EXPECT_FALSE(user.uiLang.has_value()) << "a string UILang is no language";
  EXPECT_FALSE(user.uiSupport.has_value());
  SetDword(HKEY_CURRENT_USER, L"UILang", 1041);
  SetDword(HKEY_CURRENT_USER, L"UISupport", 0x200);
  user = env.ReadUserLangSettings();
  EXPECT_EQ(user.uiLang, 1041u);
  EXPECT_EQ(user.uiSupport, 0x200u);
}

TEST_F(WinTextEnvTest, FilesAreReadWholeOrNotAtAll) {
  WinTextEnv env(keyPath_);
  std::vector<unsigned char> bytes;
  EXPECT_EQ(env.ReadFile("C:\\no\\such\\file.ini", &bytes), ERROR_PATH_NOT_FOUND);
  std::string path;
  ASSERT_TRUE(koba::text::Utf16ToUtf8(std::u16string(install_.begin(), install_.end()), &path));
  EXPECT_EQ(env.ReadFile(path + "\\langs\\9999_enc.ini", &bytes), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(env.ReadFile(path + "\\langs\\1033_enc.ini", &bytes), 0);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(GetFileAttributesExW((install_ + L"\\langs\\1033_enc.ini").c_str(),
                                   GetFileExInfoStandard, &data));
  EXPECT_EQ(bytes.size(), data.nFileSizeLow);
  EXPECT_EQ(env.ReadFile("\xff\xfe", &bytes), ERROR_INVALID_NAME);
}

// The plain language files are read by the tray monitor and the launcher with the platform's
// INI reader, in any ANSI code page.
TEST(PlainLanguageFiles, PlatformIniReaderReadsEveryLanguage) {
  std::wstring folder = L"Z:" + Widen(KOBA_LANGS_DIR);
  for (auto& c : folder) {
    c = c == L'/' ? L'\\' : c;
  }
  const struct {
    const wchar_t* file;
    const wchar_t* key;
    std::wstring expected;
  } cases[] = {
      {L"2052.ini", L"Tray_Title", L"USB Key监控"},
      {L"1028.ini", L"STR_ID_USER_TOOL_DESC", L"USB Key管理工具"},
      {L"1033.ini", L"TrayTip02", L"Your USB key has been removed."},
      {L"1049.ini", L"Tray_Title", L"Монитор USB-ключа"},
  };
  for (const auto& c : cases) {
    wchar_t text[256] = {};
    const DWORD n =
        GetPrivateProfileStringW(L"TEXT", c.key, L"", text, 256, (folder + L"\\" + c.file).c_str());
    EXPECT_EQ(std::wstring(text, n), c.expected) << c.key;
  }
  for (const wchar_t* file : {L"1025.ini", L"1054.ini", L"1041.ini", L"1042.ini", L"1087.ini"}) {
    wchar_t text[256] = {};
    EXPECT_GT(GetPrivateProfileStringW(L"TEXT", L"TrayTip01", L"", text, 256,
                                       (folder + L"\\" + file).c_str()),
              0u)
        << file;
  }
}

}  // namespace
}  // namespace VKey
