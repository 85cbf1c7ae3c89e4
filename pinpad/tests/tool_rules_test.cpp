#include "tool_rules.h"

#include <gtest/gtest.h>

namespace VKey {
namespace {

TEST(ToolRules, DeviceEntriesAndTheirSerials) {
  EXPECT_EQ(DeviceEntryText(u"USER0001", u"R&D & Co"), u"SN:USER0001   LABEL:R&&D && Co");
  EXPECT_EQ(SerialOfEntry(u"SN:USER0001   LABEL:A&&B"), u"USER0001");
  EXPECT_EQ(SerialOfEntry(u"SN:   LABEL:x"), u"");
  EXPECT_EQ(SerialOfEntry(u"LABEL:x"), u"");
  EXPECT_EQ(TrimTrailingSpaces(std::string("AB12    \0junk", 13)), "AB12");
  EXPECT_EQ(TrimTrailingSpaces("  lead"), "  lead");
}

TEST(ToolRules, SelectionSurvivesARefillOrFallsToTheFirst) {
  const std::vector<std::u16string> entries{u"SN:A   LABEL:a", u"SN:B   LABEL:b"};
  EXPECT_EQ(EntryToSelect(entries, u"SN:B   LABEL:b"), 1);
  EXPECT_EQ(EntryToSelect(entries, u"SN:C   LABEL:c"), 0);  // the selected key was removed
  EXPECT_EQ(EntryToSelect(entries, u""), 0);
  EXPECT_EQ(EntryToSelect({}, u"SN:A   LABEL:a"), -1);
}

TEST(ToolRules, HidSwitchOffer) {
  const struct {
    const char* identifier;
    uint32_t mode;
    bool offered;
  } cases[] = {{"KVN_3951_A", 0, true},     {"KVN_3951_A", 0x42, true}, {"KVN_3951_A", 0x43, true},
               {"KVN_3951_A", 0x80, false}, {"KVN_3950_A", 0, false},   {"", 0, false}};
  for (const auto& c : cases) {
    EXPECT_EQ(OffersHidSwitch(c.identifier, c.mode), c.offered) << c.identifier << " " << c.mode;
  }
}

TEST(ToolRules, ContainerNamesOfAListing) {
  using namespace std::string_literals;
  EXPECT_EQ(ContainerNames("c-sig\0c-enc\0\0ignored\0"s, 5),
            (std::vector<std::string>{"c-sig", "c-enc"}));
  EXPECT_EQ(ContainerNames("a\0b\0c\0"s, 2), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(ContainerNames("unterminated"s, 3), (std::vector<std::string>{"unterminated"}));
  EXPECT_TRUE(ContainerNames(""s, 3).empty());
}

TEST(ToolRules, CertificateTimes) {
  EXPECT_EQ(FormatCertTime({2026, 3, 9, 7, 5, 1}), u"2026-03-09 07:05:01");
}

}  // namespace
}  // namespace VKey
