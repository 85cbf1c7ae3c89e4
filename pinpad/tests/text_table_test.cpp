// The text table over the real language files, read through libgcrypt-backed token functions.
#include "text_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "gcrypt_alg.h"
#include "lang_choice.h"
#include "text_encoding.h"

namespace VKey {
namespace {

namespace fs = std::filesystem;

constexpr const char* kVocabulary[] = {"PAD_USE_TYPE_CHECKPIN",
                                       "PAD_USE_TYPE_INPUTPIN",
                                       "PAD_USE_TYPE_CHANGEPIN",
                                       "PAD_USE_TYPE_INITDEV",
                                       "PAD_INPUT_OLD_PIN",
                                       "PAD_INPUT_NEW_PIN1",
                                       "PAD_INPUT_NEW_PIN2",
                                       "PAD_INPUT_PIN_TIPS",
                                       "PAD_INPUT_PIN_LESS_8",
                                       "PAD_INPUT_PIN_NOT_C_INT",
                                       "PAD_INPUT_PIN_SAME_INT",
                                       "PAD_INPUT_PIN_SAME_C",
                                       "PAD_INPUT_PIN_STEP_INT",
                                       "PAD_INPUT_PIN_STEP_C",
                                       "DISP_INVALID_PIN_INPUT",
                                       "DISP_INVALID_NEW_PIN1_INPUT",
                                       "DISP_INVALID_NEW_PIN2_INPUT",
                                       "DISP_INVALID_NEW_PIN_DIF_INPUT",
                                       "DISP_INVALID_OLD_NEW_PIN_SAME",
                                       "PAD_BACK",
                                       "PAD_CLEAR",
                                       "PAD_ENTER",
                                       "PAD_CAPS",
                                       "PAD_LOWERCASE",
                                       "PAD_CANCEL",
                                       "PAD_SPACE",
                                       "PAD_CAPS_LOCK_TIPS_1",
                                       "PAD_CAPS_LOCK_TIPS_2",
                                       "PAD_CAPS_LOCK_TIPS_3",
                                       "PinRemainTimes",
                                       "PinBlocked",
                                       "OK",
                                       "Cancel",
                                       "PAD_DEV_LOGIN",
                                       "PAD_DEV_OK_CANCEL_VERIFY",
                                       "PAD_DEV_CHANGE_OLD",
                                       "PAD_DEV_OK_CANCEL",
                                       "PAD_DEV_DEL_COS_PRIKEY",
                                       "PAD_DEV_DELPRIKEY_OK_CANCEL",
                                       "PAD_DISPLAY_SIGN_CAPTION",
                                       "SelectCert",
                                       "SelectDev",
                                       "ID",
                                       "Cert",
                                       "Label",
                                       "SN",
                                       "GenKeyWaiting",
                                       "STR_ID_PELLOR",
                                       "STR_ID_CERTIFICATE",
                                       "STR_ID_ABOUT",
                                       "STR_ID_VERIFYPIN",
                                       "STR_ID_CHANGEPIN",
                                       "STR_ID_CHANGELABEL",
                                       "STR_ID_SUCCESS",
                                       "STR_ID_FAIL",
                                       "STR_ID_CLIST_OWNER",
                                       "STR_ID_CLIST_ISSUE",
                                       "STR_ID_CLIST_STARTTIME",
                                       "STR_ID_CLIST_ENDTIME",
                                       "STR_ID_C_DELCERT",
                                       "STR_ID_C_DELCERT_WARNING_1",
                                       "STR_ID_C_DELCERT_WARNING_2",
                                       "STR_ID_C_DEL_CORKEY",
                                       "STR_ID_C_REG",
                                       "STR_ID_C_UNREG",
                                       "STR_ID_BOT_HID_SWITCH",
                                       "STR_ID_A_VERSION",
                                       "STR_ID_A_CORP",
                                       "STR_ID_A_COPYRITHT",
                                       "STR_ID_USER_TOOL_DESC",
                                       "Tray_Title",
                                       "TrayTip01",
                                       "TrayTip02"};

// Dialog sections with the keys their templates need.
const std::map<std::string, std::vector<std::string>> kSections = {
    {"IDD_DIALOG_U", {"Caption", "3747", "3748", "3749", "3750", "3751", "1"}},
    {"IDD_DIALOG_CHANGE_LABEL", {"Caption", "3745", "1", "2"}},
    {"IDD_DIALOG_BOT_HID", {"Caption", "3759", "3760", "1", "2"}},
    {"IDD_DIALOG_PELLOR", {"1037", "1006", "1007", "1008", "1015", "1016", "1017", "1018"}},
    {"IDD_DIALOG_CERTIFICATE", {"1026", "1027", "1028", "1031", "1033"}},
    {"IDD_VEXLOTOOLS_DIALOG", {"Caption", "1004", "1005", "2"}},
};

constexpr uint32_t kLanguages[] = {2052, 1028, 1033, 1049, 1036, 1057, 1041,
                                   1031, 1087, 1042, 1025, 1054, 1045, 1043};

// Settings and files of one test: the install folder is a private temporary folder, Windows
// paths are mapped onto it.
class FakeEnv : public TextEnv {
 public:
  std::optional<MachineSettings> machine;
  std::optional<uint32_t> userLangId;
  uint32_t systemLang = 1033;
  std::vector<uint32_t> machineAndUserWrites;
  std::vector<uint32_t> userWrites;
  std::vector<std::string> reads;

  std::optional<MachineSettings> ReadMachineSettings() override { return machine; }
  std::optional<uint32_t> ReadUserLangId() override { return userLangId; }
  uint32_t SystemDefaultLangId() override { return systemLang; }
  void WriteMachineAndUserLangId(uint32_t id) override {
    machineAndUserWrites.push_back(id);
    if (machine) {
      machine->langId = id;
    }
    userLangId = id;
  }
  void WriteUserLangId(uint32_t id) override {
    userWrites.push_back(id);
    userLangId = id;
  }
  int ReadFile(const std::string& path, std::vector<unsigned char>* bytes) override {
    reads.push_back(path);
    std::string local = path;
    std::replace(local.begin(), local.end(), '\\', '/');
    std::ifstream in(local, std::ios::binary);
    if (!in) {
      return ENOENT;
    }
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return 0;
  }
};

class TextTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("pinpad_text_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "langs");
    for (const auto& entry : fs::directory_iterator(KOBA_LANGS_DIR)) {
      fs::copy_file(entry.path(), root_ / "langs" / entry.path().filename());
    }
    env_.machine = TextEnv::MachineSettings{root_.string(), 1033};
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path LangFile(const std::string& name) const { return root_ / "langs" / name; }
  void WriteFile(const std::string& name, const std::string& data) const {
    std::ofstream(LangFile(name), std::ios::binary | std::ios::trunc) << data;
  }
  std::string ReadFile(const std::string& name) const {
    std::ifstream in(LangFile(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  fs::path root_;
  FakeEnv env_;
};

std::string Narrow(const std::u16string& s) {
  std::string out;
  EXPECT_TRUE(koba::text::Utf16ToUtf8(s, &out));
  return out;
}

TEST_F(TextTableTest, EveryLanguageHasTheWholeVocabularyAndEveryDialogSection) {
  TextTable table(env_, test::GcryptAlg());
  table.ReloadSettings();
  for (uint32_t lang : kLanguages) {
    SCOPED_TRACE(lang);
    ASSERT_EQ(table.Select(lang, false), 0);
    EXPECT_EQ(table.CurrentLanguage(), lang);
    for (const char* id : kVocabulary) {
      EXPECT_FALSE(table.LoadText(id).empty()) << id;
    }
    for (const auto& [section, keys] : kSections) {
      std::vector<std::pair<std::string, std::u16string>> texts;
      ASSERT_TRUE(table.SectionTexts(section, &texts)) << section;
      for (const auto& key : keys) {
        auto it = std::find_if(texts.begin(), texts.end(),
                               [&](const auto& kv) { return kv.first == key; });
        ASSERT_NE(it, texts.end()) << section << " " << key;
        EXPECT_FALSE(it->second.empty());
      }
    }
  }
}

TEST_F(TextTableTest, TextsAreTheSourcesDecipheredAndConverted) {
  TextTable table(env_, test::GcryptAlg());
  table.ReloadSettings();
  ASSERT_EQ(table.Select(2052, false), 0);
  EXPECT_EQ(table.LoadText("PAD_USE_TYPE_CHECKPIN"), u"验证PIN码");
  EXPECT_EQ(table.LoadText("pad_use_type_checkpin"), u"验证PIN码") << "ids ignore case";
  EXPECT_EQ(table.FormatText("DISP_INVALID_PIN_INPUT", {u"6-30"}),
            u"PIN码长度应为6-30位，请重新输入。");
  EXPECT_EQ(table.FormatText("PinRemainTimes", {3}), u"PIN码错误，您还可以尝试3次。");
  ASSERT_EQ(table.Select(1028, false), 0);
  EXPECT_EQ(table.LoadText("SelectCert"), u"選擇憑證");
  ASSERT_EQ(table.Select(1033, false), 0);
  EXPECT_EQ(table.LoadText("OK"), u"OK");
  EXPECT_TRUE(table.LoadText("NO_SUCH_ID").empty());
}

TEST_F(TextTableTest, DialogSectionKeepsFileOrder) {
  TextTable table(env_, test::GcryptAlg());
  table.ReloadSettings();
  ASSERT_EQ(table.Select(1033, false), 0);
  std::vector<std::pair<std::string, std::u16string>> texts;
  ASSERT_TRUE(table.SectionTexts("idd_dialog_change_label", &texts));
  std::vector<std::string> keys;
  for (const auto& kv : texts) {
    keys.push_back(kv.first);
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"Caption", "3745", "1", "2"}));
  EXPECT_FALSE(table.SectionTexts("IDD_NO_SUCH_DIALOG", &texts));
  EXPECT_TRUE(texts.empty());
}

// Files that must not be accepted: every text is empty and no dialog section is served.
TEST_F(TextTableTest, AlteredOrMissingFilesEmptyEveryText) {
  const std::string good = ReadFile("1033_enc.ini");
  std::string flipped = good;
  flipped[flipped.size() / 2] ^= 0x01;
  std::string bigger = good + std::string(40000, 'x');
  const struct {
    const char* name;
    std::optional<std::string> content;  // nullopt: the file is missing
    int expectedError;
  } cases[] = {
      {"one bit flipped", flipped, TextTable::kFailed},
      {"truncated", good.substr(0, good.size() - 8), TextTable::kFailed},
      {"larger than the first buffer", bigger, TextTable::kFailed},
      {"empty", std::string(), TextTable::kFailed},
      {"plain text", std::string("[TEXT]\r\nOK=OK\r\n"), TextTable::kFailed},
      {"missing", std::nullopt, ENOENT},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(LangFile("1033_enc.ini"));
    if (c.content) {
      WriteFile("1033_enc.ini", *c.content);
    }
    TextTable table(env_, test::GcryptAlg());
    table.ReloadSettings();
    EXPECT_EQ(table.Select(1033, false), c.expectedError);
    EXPECT_TRUE(table.LoadText("OK").empty());
    std::vector<std::pair<std::string, std::u16string>> texts;
    EXPECT_FALSE(table.SectionTexts("IDD_DIALOG_U", &texts));
    // A good language still loads afterwards.
    EXPECT_EQ(table.Select(2052, false), 0);
    EXPECT_FALSE(table.LoadText("OK").empty());
  }
}

TEST_F(TextTableTest, AFileOfAnotherLanguageIsRefusedByItsDigest) {
  // 1034 has no built-in digest; 1041's file put in 1043's place fails 1043's digest.
  WriteFile("1034_enc.ini", ReadFile("1033_enc.ini"));
  WriteFile("1043_enc.ini", ReadFile("1041_enc.ini"));
  TextTable table(env_, test::GcryptAlg());
  table.ReloadSettings();
  EXPECT_EQ(table.Select(1034, false), TextTable::kFailed);
  EXPECT_TRUE(table.LoadText("OK").empty());
  EXPECT_EQ(table.Select(1043, false), TextTable::kFailed);
  EXPECT_TRUE(table.LoadText("OK").empty());
}

TEST_F(TextTableTest, MissingTokenFunctionsOrInstallPathFailTheLoad) {
  for (TokenAlg alg : {TokenAlg{}, TokenAlg{&test::GcryptDigest, nullptr},
                       TokenAlg{nullptr, &test::GcryptDesDecrypt}}) {
    TextTable table(env_, alg);
    table.ReloadSettings();
    EXPECT_EQ(table.Select(1033, false), TextTable::kFailed);
    EXPECT_TRUE(table.LoadText("OK").empty());
  }
  env_.machine->installPath.reset();
  TextTable table(env_, test::GcryptAlg());
  table.ReloadSettings();
  EXPECT_EQ(table.Select(1033, false), TextTable::kFailed);
  EXPECT_TRUE(env_.reads.empty()) << "no file is read without an install path";
}

TEST_F(TextTableTest, ForcedLanguageWinsOverLaterRequests) {
  TextTable table(env_, test::GcryptAlg());
  table.ReloadSettings();
  ASSERT_EQ(table.Select(1033, false), 0);
  ASSERT_EQ(table.Select(1049, true), 0);
  EXPECT_EQ(table.Select(1033, false), 0);
  EXPECT_EQ(table.CurrentLanguage(), 1049u);
  EXPECT_EQ(Narrow(table.LoadText("OK")), "ОК");
  // Id 0 still means the machine language's default file.
  EXPECT_EQ(table.Select(0, false), 0);
  EXPECT_EQ(table.CurrentFile(), table.DefaultFile());
  EXPECT_EQ(table.CurrentLanguage(), 1033u);
  EXPECT_EQ(table.LoadText("OK"), u"OK");
}

TEST_F(TextTableTest, ReloadSettingsChoosesAndRecordsTheMachineLanguage) {
  const struct {
    std::optional<uint32_t> langId;
    uint32_t system;
    uint32_t expected;
    bool written;
  } cases[] = {
      {2052, 1033, 2052, false}, {std::nullopt, 3076, 1028, true},
      {0, 4100, 1028, true},     {0, 5124, 1028, true},
      {0, 2067, 1043, true},     {0, 1049, 1049, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    env_.machine->langId = c.langId;
    env_.systemLang = c.system;
    env_.machineAndUserWrites.clear();
    TextTable table(env_, test::GcryptAlg());
    table.ReloadSettings();
    EXPECT_EQ(table.MachineLanguage(), c.expected);
    EXPECT_EQ(table.LastError(), 0);
    EXPECT_EQ(table.DefaultFile(),
              root_.string() + "\\langs\\" + std::to_string(c.expected) + "_enc.ini");
    EXPECT_EQ(env_.machineAndUserWrites,
              c.written ? std::vector<uint32_t>{c.expected} : std::vector<uint32_t>{});
  }
}

TEST_F(TextTableTest, ReloadWithoutTheMachineKeyChangesNothing) {
  TextTable table(env_, test::GcryptAlg());
  table.ReloadSettings();
  ASSERT_EQ(table.Select(2052, false), 0);
  env_.machine.reset();
  env_.reads.clear();
  table.ReloadSettings();
  EXPECT_TRUE(env_.reads.empty());
  EXPECT_EQ(table.CurrentLanguage(), 2052u);
  EXPECT_EQ(table.LoadText("OK"), u"确定");
}

TEST_F(TextTableTest, LanguageListNamesEverySupportedLanguage) {
  TextTable table(env_, test::GcryptAlg());
  table.ReloadSettings();
  std::vector<LangListEntry> list;
  ASSERT_EQ(table.ReadLanguageList(&list), 0);
  ASSERT_EQ(list.size(), std::size(kLanguages));
  for (const auto& entry : list) {
    EXPECT_TRUE(IsSupportedLanguage(entry.langId)) << entry.langId;
    EXPECT_FALSE(entry.name.empty());
  }
  EXPECT_EQ(list[0].name, u"简体中文");
  EXPECT_EQ(list[0].langId, 2052u);

  std::string list_file = ReadFile("KVNLang_KOBA_enc.ini");
  list_file[3] ^= 0x40;
  WriteFile("KVNLang_KOBA_enc.ini", list_file);
  EXPECT_EQ(table.ReadLanguageList(&list), TextTable::kFailed);
  EXPECT_TRUE(list.empty());
  WriteFile("KVNLang_KOBA_enc.ini", std::string(5000, 'x'));
  EXPECT_EQ(table.ReadLanguageList(&list), TextTable::kFailed);
}

TEST_F(TextTableTest, ToolMachineLanguagePrefersUserThenMachineThenSystem) {
  const struct {
    std::optional<uint32_t> user;
    std::optional<uint32_t> machine;
    uint32_t system;
    uint32_t expected;
    bool writesBoth;
  } cases[] = {
      {1041, 2052, 1033, 1041, false}, {std::nullopt, 2052, 1033, 2052, false},
      {0, 1028, 1033, 1028, false},    {std::nullopt, std::nullopt, 3076, 1028, true},
      {0, 0, 1036, 1036, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    env_.userLangId = c.user;
    env_.machine->langId = c.machine;
    env_.systemLang = c.system;
    env_.machineAndUserWrites.clear();
    env_.userWrites.clear();
    TextTable table(env_, test::GcryptAlg());
    EXPECT_EQ(table.ToolMachineLanguage(), c.expected);
    EXPECT_EQ(env_.userWrites, std::vector<uint32_t>{c.expected});
    EXPECT_EQ(env_.machineAndUserWrites.size(), c.writesBoth ? 1u : 0u);
  }
}

TEST(TextFormat, PlaceholdersTakeOnlyTheirArguments) {
  const struct {
    std::u16string format;
    std::vector<TextArg> args;
    std::u16string expected;
  } cases[] = {
      {u"PIN of %s characters", {u"6-30"}, u"PIN of 6-30 characters"},
      {u"%d tries left", {3}, u"3 tries left"},
      {u"100%% sure, %d", {-1}, u"100% sure, -1"},
      {u"%s and %s", {u"a"}, u"a and "},
      {u"%n%x%p%", {u"a"}, u"%n%x%p%"},
      {u"no placeholder", {u"unused"}, u"no placeholder"},
      {u"", {}, u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatWith(c.format, c.args), c.expected);
  }
}

TEST(TextFormat, DisplayTextRefusesBadOrOverlongValues) {
  EXPECT_EQ(DisplayText(std::string(260, 'a'), 260)->size(), 260u);
  EXPECT_FALSE(DisplayText(std::string(261, 'a'), 260));
  std::string cjk;
  for (int i = 0; i < 261; ++i) {
    cjk += "中";
  }
  EXPECT_FALSE(DisplayText(cjk, 260)) << "the limit counts UTF-16 units, not bytes";
  EXPECT_EQ(DisplayText(cjk.substr(0, 260 * 3), 260)->size(), 260u);
  EXPECT_FALSE(DisplayText("\xC0\xAF", 260)) << "overlong form";
  EXPECT_FALSE(DisplayText("\xED\xA0\x80", 260)) << "encoded surrogate";
  EXPECT_FALSE(DisplayText("\xE4\xB8", 260)) << "truncated sequence";
  EXPECT_EQ(DisplayText("\xF0\x9F\x94\x91", 260)->size(), 2u) << "surrogate pair";
}

}  // namespace
}  // namespace VKey
