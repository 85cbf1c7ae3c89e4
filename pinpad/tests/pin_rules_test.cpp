#include "pin_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace VKey {
namespace {

TEST(PinStrength, VerdictsFollowTheRulesInOrder) {
  const struct {
    std::string pin;
    int verdict;
    const char* why;
  } cases[] = {
      {"", 0, "empty"},
      {"1111111111a", 1, "eleven bytes: no rule applies"},
      {"aaaaaaaaaaaaaaaaaa", 1, "long runs are accepted once eleven bytes are reached"},
      {"a1b2c3!", 3, "seven mixed bytes"},
      {"12345678", 5, "ascending digits reach six on the sixth"},
      {"aaaaaa1b", 8, "six equal letters first"},
      {"ab567890", 5, "ends with 567890"},
      {"x!567890", 5, "567890 wins over everything before"},
      {"abcdefghij", 6, "ten ascending letters"},
      {"qwertyuiop", 4, "letters only, no run"},
      {"!!!!!!ab", 1, "six equal symbols stop on an other byte; mixed classes; length 8"},
      {"111111ab", 7, "six equal digits"},
      {"0123456a", 5, "ascending digits from 0"},
      {"9876543a", 1, "descending runs do not count"},
      {"98765432", 4, "digits only, no ascending run"},
      {"abcde1fg", 1, "a run of five is no run"},
      {"a1b2c3d4", 1, "eight mixed bytes"},
      {"a1b2c3", 3, "six mixed bytes"},
      {"!@#$%^&", 3, "only other bytes: rule 7 does not apply"},
      {"123abc", 3, "mixed, short"},
      {"Zabcdef1", 6, "ascending letters after a capital"},
      {"XYZ[\\]^_", 1, "the run climbs from letters into symbols and stops on an other byte"},
      {"12345", 4, "short digits: only one class"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PinStrength(c.pin), c.verdict) << c.pin << ": " << c.why;
  }
}

TEST(PinStrength, HighBytesAreOtherAndDoNotWrap) {
  const std::string wrap = {'\xfb', '\xfc', '\xfd', '\xfe', '\xff', '\x00', 'a', '1'};
  EXPECT_EQ(PinStrength(wrap), 1) << "0xFF followed by 0x00 is not ascending";
  const std::string same(6, '\xee');
  EXPECT_EQ(PinStrength(same + "a1"), 1);
}

TEST(PinStrength, EveryWarningHasItsText) {
  EXPECT_EQ(StrengthTextId(0), nullptr);
  EXPECT_EQ(StrengthTextId(1), nullptr);
  EXPECT_STREQ(StrengthTextId(3), "PAD_INPUT_PIN_LESS_8");
  EXPECT_STREQ(StrengthTextId(4), "PAD_INPUT_PIN_NOT_C_INT");
  EXPECT_STREQ(StrengthTextId(5), "PAD_INPUT_PIN_STEP_INT");
  EXPECT_STREQ(StrengthTextId(6), "PAD_INPUT_PIN_STEP_C");
  EXPECT_STREQ(StrengthTextId(7), "PAD_INPUT_PIN_SAME_INT");
  EXPECT_STREQ(StrengthTextId(8), "PAD_INPUT_PIN_SAME_C");
}

TEST(PinRules, LengthText) {
  EXPECT_EQ(LengthText(6, 30), "6-30");
  EXPECT_EQ(LengthText(6, 6), "6");
  EXPECT_EQ(LengthText(0, 4294967295u), "0-4294967295");
}

TEST(PinRules, OkEnabling) {
  EXPECT_FALSE(VerifyOkEnabled(5, 6));
  EXPECT_TRUE(VerifyOkEnabled(6, 6));
  const struct {
    size_t oldPin, newPin, repeat;
    bool enabled;
  } change[] = {
      {6, 6, 6, true}, {5, 6, 6, false}, {6, 5, 5, false}, {6, 6, 7, false}, {6, 8, 8, true},
  };
  for (const auto& c : change) {
    EXPECT_EQ(ChangeOkEnabled(c.oldPin, c.newPin, c.repeat, 6), c.enabled)
        << c.oldPin << " " << c.newPin << " " << c.repeat;
  }
  EXPECT_TRUE(InitOkEnabled(6, 6, 6));
  EXPECT_FALSE(InitOkEnabled(6, 7, 6));
  EXPECT_FALSE(InitOkEnabled(5, 5, 6));
}

TEST(PinRules, ChangePinChecksInOrder) {
  const struct {
    std::string oldPin, newPin, repeat;
    PinCheck check;
    int verdict;
  } cases[] = {
      {"12345", "a1b2c3d4", "a1b2c3d4", PinCheck::kBadLength, 0},
      {"123456", "a1b2c", "a1b2c", PinCheck::kBadNewLength, 0},
      {"123456", "a1b2c3d4", "a1b2", PinCheck::kBadRepeatLength, 0},
      {"123456", "a1b2c3d4", "a1b2c3d5", PinCheck::kMismatch, 0},
      {"123456", "a1b2c3d4", "a1b2c3d4e", PinCheck::kMismatch, 0},
      {"a1b2c3d4", "a1b2c3d4", "a1b2c3d4", PinCheck::kSameAsOld, 0},
      {"123456", "a1b2c3d4", "a1b2c3d4", PinCheck::kAccepted, 1},
      {"123456", "a1b2c3!", "a1b2c3!", PinCheck::kWeak, 3},
      {"123456", "12345678", "12345678", PinCheck::kWeak, 5},
      {"123456", std::string(31, 'a'), std::string(31, 'a'), PinCheck::kBadNewLength, 0},
  };
  for (const auto& c : cases) {
    const PinCheckResult r = CheckChangePin(c.oldPin, c.newPin, c.repeat, 6, 30);
    EXPECT_EQ(r.check, c.check) << c.oldPin << " / " << c.newPin << " / " << c.repeat;
    if (c.check == PinCheck::kWeak || c.check == PinCheck::kAccepted) {
      EXPECT_EQ(r.verdict, c.verdict) << c.newPin;
    }
  }
}

TEST(PinRules, VerifyAndInitChecks) {
  EXPECT_EQ(CheckVerifyPin("12345", 6, 30).check, PinCheck::kBadLength);
  EXPECT_EQ(CheckVerifyPin("123456", 6, 30).check, PinCheck::kAccepted);
  EXPECT_EQ(CheckVerifyPin(std::string(31, '1'), 6, 30).check, PinCheck::kBadLength);
  EXPECT_EQ(CheckInitPin("123456", "123456", 6, 30).check, PinCheck::kAccepted)
      << "no strength rules when initialising";
  EXPECT_EQ(CheckInitPin("12345", "12345", 6, 30).check, PinCheck::kBadNewLength);
  EXPECT_EQ(CheckInitPin("123456", "12345", 6, 30).check, PinCheck::kBadRepeatLength);
  EXPECT_EQ(CheckInitPin("123456", "654321", 6, 30).check, PinCheck::kMismatch);
  EXPECT_STREQ(CheckTextId(PinCheck::kMismatch), "DISP_INVALID_NEW_PIN_DIF_INPUT");
  EXPECT_STREQ(CheckTextId(PinCheck::kSameAsOld), "DISP_INVALID_OLD_NEW_PIN_SAME");
  EXPECT_STREQ(CheckTextId(PinCheck::kBadLength), "DISP_INVALID_PIN_INPUT");
  EXPECT_EQ(CheckTextId(PinCheck::kAccepted), nullptr);
}

TEST(PinRules, LabelsAreCutWholeCharactersToTheirBytes) {
  const struct {
    std::u16string label;
    std::string expected;
  } cases[] = {
      {u"中文标签中文标签中文标签中文标签", "中文标签中文标签中文"},
      {u"My key", "My key"},
      {u"abcdefghijklmnop", "abcdefghijklmnop"},
      {u"", ""},
      {u"aé中中中中中中中中中中", "aé中中中中中中中中中"},
      {u"abcdefghijklmnopqrstuvwxyz0123456789", "abcdefghijklmnopqrstuvwxyz012345"},
      {u"🔑🔑🔑🔑🔑🔑🔑🔑🔑", "🔑🔑🔑🔑🔑🔑🔑🔑"},
  };
  for (const auto& c : cases) {
    const auto cut = CutLabel(c.label);
    ASSERT_TRUE(cut.has_value());
    EXPECT_EQ(*cut, c.expected);
    EXPECT_LE(cut->size(), 32u);
  }
  EXPECT_EQ(CutLabel(u"中文标签中文标签中文标签中文标签")->size(), 30u);
  EXPECT_FALSE(CutLabel(std::u16string(1, char16_t{0xD800}) + u"a").has_value());
}

TEST(PinRules, AmpersandsAreDoubled) {
  EXPECT_EQ(DoubleAmpersands(u"A&B&&"), u"A&&B&&&&");
  EXPECT_EQ(DoubleAmpersands(u"plain"), u"plain");
}

}  // namespace
}  // namespace VKey
