#include "language_tables.h"

#include <gtest/gtest.h>

namespace koba::core {
namespace {

TEST(LanguageTables, Lists) {
  EXPECT_EQ(LanguageList(0x300), "zh_CN||en_US");
  EXPECT_EQ(LanguageList(0), "");
  EXPECT_EQ(LanguageList(0xFFFF),
            "zh_CN||en_US||zh_TW||ru_RU||fr_FR||id_ID||ja_JP||de_DE||ar_SA||ko_KR||kk_KZ");
  EXPECT_EQ(LanguageList(0x8005), "de_DE||ar_SA||kk_KZ");
  EXPECT_EQ(CharsetList(0x300), "GBK||UTF-8");
  EXPECT_EQ(CharsetList(0x200), "UTF-8");
  EXPECT_EQ(CharsetList(0), "");
}

TEST(LanguageTables, Charsets) {
  const struct {
    const char* name;
    bool ok;
    uint8_t value;
  } cases[] = {{"GBK", true, 0},   {"gbk", true, 0},   {"UTF-8", true, 1},
               {"utf-8", true, 1}, {"UTF8", false, 0}, {"", false, 0}};
  for (const auto& c : cases) {
    uint8_t value = 0xFF;
    EXPECT_EQ(CharsetValue(c.name, &value), c.ok) << c.name;
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.name;
    }
  }
}

TEST(LanguageTables, Choices) {
  const struct {
    const char* name;
    bool ok;
    uint16_t index;
    uint32_t ui_lang;
  } cases[] = {
      {"zh_CN", true, 0, 0},    {"de_DE", true, 7, 0},    {"kk_KZ", true, 10, 0},
      {"pl_PL", true, 1, 1045}, {"th_TH", true, 1, 1054}, {"nl_NL", true, 1, 1043},
      {"de_de", false, 0, 0},   {"xx_XX", false, 0, 0},   {"", false, 0, 0},
  };
  for (const auto& c : cases) {
    LanguageChoice choice;
    ASSERT_EQ(ChooseLanguage(c.name, &choice), c.ok) << c.name;
    if (!c.ok)
      continue;
    EXPECT_EQ(choice.index, c.index) << c.name;
    EXPECT_TRUE(choice.write_ui_lang) << c.name;
    EXPECT_EQ(choice.ui_lang, c.ui_lang) << c.name;
  }
}

}  // namespace
}  // namespace koba::core
