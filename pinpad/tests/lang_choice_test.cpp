#include "lang_choice.h"

#include <gtest/gtest.h>

namespace VKey {
namespace {

TEST(LangChoice, IndexTableAndSupportedLanguages) {
  const uint32_t ids[] = {2052, 1033, 1028, 1049, 1036, 1057, 1041, 1031, 1025, 1042, 1087};
  const uint32_t bits[] = {0x100,  0x200,  0x400, 0x800, 0x1000, 0x2000,
                           0x4000, 0x8000, 0x1,   0x2,   0x4};
  for (uint32_t i = 0; i < 11; ++i) {
    EXPECT_EQ(LanguageOfIndex(i), ids[i]);
    EXPECT_EQ(SupportBitOfIndex(i), bits[i]);
    EXPECT_TRUE(IsSupportedLanguage(ids[i]));
  }
  EXPECT_FALSE(LanguageOfIndex(11));
  EXPECT_EQ(SupportBitOfIndex(11), 0u);
  for (uint32_t id : {1054u, 1045u, 1043u}) {
    EXPECT_TRUE(IsSupportedLanguage(id));
  }
  for (uint32_t id : {0u, 1034u, 2067u, 3076u}) {
    EXPECT_FALSE(IsSupportedLanguage(id));
  }
}

TEST(LangChoice, IndexResolvesAgainstUserSettings) {
  const struct {
    uint32_t value;
    UserLangSettings user;
    uint32_t expected;
    const char* why;
  } cases[] = {
      {1, {true, std::nullopt, 0x200}, 1033, "index enabled"},
      {1, {true, std::nullopt, 0x100}, 0, "index not enabled: machine language"},
      {1, {true, 1041, 0x200}, 1041, "UILang wins"},
      {0, {true, 1041, std::nullopt}, 1041, "UILang wins over every index"},
      {2, {true, std::nullopt, std::nullopt}, 1028, "no UISupport value: all enabled"},
      {2, {true, std::nullopt, 0}, 1028, "UISupport 0: all enabled"},
      {2, {false, std::nullopt, std::nullopt}, 0, "no key: nothing enabled"},
      {8, {true, std::nullopt, 0x1}, 1025, "low bits"},
      {10, {true, std::nullopt, 0x3}, 0, "1087 needs bit 4"},
      {1049, {true, std::nullopt, 0}, 1049, "a value outside the table stays as it is"},
      {1049, {true, std::nullopt, 0x200}, 0, "unless nothing enables it"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ResolveIndexLanguage(c.value, c.user), c.expected) << c.why;
  }
}

TEST(LangChoice, SystemLanguageMapping) {
  const std::pair<uint32_t, uint32_t> cases[] = {
      {2067, 1043}, {3076, 1028}, {4100, 1028}, {5124, 1028}, {2052, 2052}, {1033, 1033},
  };
  for (const auto& [system, expected] : cases) {
    EXPECT_EQ(MapSystemLanguage(system), expected) << system;
  }
}

}  // namespace
}  // namespace VKey
