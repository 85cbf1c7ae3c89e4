#include "usage_record.h"

#include <gtest/gtest.h>

#include "text_encoding.h"

namespace koba::traymon {
namespace {

const diaglog::LocalTime kMay3 = {2024, 5, 3, 14, 7, 9, 123};

TEST(UsageRecord, KnownRecordAndItsLine) {
  const std::string record =
      FormatUsageRecord(kMay3, "alice", "0123456789ABCDEF", UsageEvent::kInsert);
  EXPECT_EQ(record, "[2024.05.03-14:07:09.123][alice][0123456789ABCDEF][Insert]\r\n");
  EXPECT_EQ(record.size(), 60u);
  const std::string line = UsageLine(record);
  ASSERT_EQ(line.size(), 82u);
  EXPECT_EQ(line.substr(80), "\r\n");
  std::string decoded;
  ASSERT_TRUE(text::Base64Decode(line.substr(0, 80), &decoded));
  EXPECT_EQ(decoded, record);
}

TEST(UsageRecord, SerialIsCutAndTypesAreNamed) {
  EXPECT_EQ(FormatUsageRecord({2001, 12, 31, 0, 0, 0, 5}, "bob", "0123456789ABCDEFXYZ",
                              UsageEvent::kRemove),
            "[2001.12.31-00:00:00.005][bob][0123456789ABCDEF][Remove]\r\n");
  EXPECT_EQ(FormatUsageRecord(kMay3, "", "", UsageEvent::kInsert),
            "[2024.05.03-14:07:09.123][][][Insert]\r\n");
}

TEST(UsageRecord, OversizedRecordIsNotWritten) {
  const std::string user(2048, 'u');
  EXPECT_EQ(FormatUsageRecord(kMay3, user, "S1", UsageEvent::kInsert), "");
  const std::string fits(2048 - 60 + 5, 'u');  // the record with user "alice" is 60 bytes
  EXPECT_EQ(FormatUsageRecord(kMay3, fits, "0123456789ABCDEF", UsageEvent::kInsert).size(), 2048u);
}

TEST(UsageRecord, FileChoice) {
  const uint64_t full = kUsageFileLimit;
  struct Case {
    UsageFileState first, second;
    int index;
    bool empty_it;
  } cases[] = {
      {{false, 0, 0}, {false, 0, 0}, 0, false},         // fresh machine
      {{true, 100, 5}, {true, 100, 9}, 0, false},       // first not full
      {{true, full, 5}, {true, 10, 9}, 1, false},       // first full, second not
      {{true, full - 1, 5}, {true, 10, 9}, 0, false},   // one byte below the limit
      {{true, full, 9}, {false, 0, 0}, 1, false},       // second just created
      {{true, full, 5}, {true, full + 7, 9}, 0, true},  // both full, second newer
      {{true, full, 9}, {true, full, 5}, 1, true},      // both full, first newer
      {{true, full, 7}, {true, full, 7}, 0, true},      // equal times: the first
  };
  for (const Case& c : cases) {
    const UsageFileChoice choice = ChooseUsageFile(c.first, c.second);
    EXPECT_EQ(choice.index, c.index) << c.first.size << " " << c.second.size;
    EXPECT_EQ(choice.empty_it, c.empty_it) << c.first.size << " " << c.second.size;
  }
}

}  // namespace
}  // namespace koba::traymon
