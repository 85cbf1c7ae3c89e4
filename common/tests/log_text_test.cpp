#include "log_text.h"

#include <gtest/gtest.h>

#include <string>

namespace koba::diaglog {
namespace {

std::string Request(int n) {
  return "{\"requestId\":\"" + std::to_string(n) + "\"}\r\n";
}

// A log of `records` request records, each followed by one "insert" line.
std::string LogWithRecords(int records) {
  std::string s = "\"insert\":\"2016-03-07T09:05:01.042\"\r\n";
  for (int i = 1; i <= records; ++i)
    s += Request(i) + "\"remove\":\"x\"\r\n";
  return s;
}

std::string Lf(std::string s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n'))
      out.push_back(s[i]);
  }
  return out;
}

TEST(LogTail, ReturnsTheLastRecordsAndWhatFollows) {
  const std::string log = LogWithRecords(50);
  auto from = [&](int first) { return Lf(log.substr(log.find(Request(first)))); };
  const struct {
    int count;
    int first_record;
  } cases[] = {{5, 46}, {1, 50}, {0, 31}, {-7, 31}, {100, 11}, {40, 11}, {41, 11}, {50, 11}};
  for (const auto& c : cases)
    EXPECT_EQ(TailText(log, c.count), from(c.first_record)) << c.count;
}

TEST(LogTail, FewerRecordsThanAskedStartsAtTheFirstRecord) {
  const std::string log = LogWithRecords(3);
  EXPECT_EQ(TailText(log, 20), Lf(log.substr(log.find(Request(1)))));
}

TEST(LogTail, AFileWithoutRecordsIsReturnedWhole) {
  const std::string log = "\"insert\":\"a\"\r\n\"remove\":\"b\"\r\nlast without newline";
  EXPECT_EQ(TailText(log, 5), "\"insert\":\"a\"\n\"remove\":\"b\"\nlast without newline");
  EXPECT_EQ(TailText("", 5), "");
}

TEST(LogTail, OnlyCrLfPairsBecomeLf) {
  EXPECT_EQ(TailText("a\r\nb\rc\n\r\r\n", 1), "a\nb\rc\n\r\n");
}

TEST(LogLines, LongLinesAreReadInPieces) {
  const std::string long_line(kMaxLinePiece * 2 + 10, 'x');
  const std::vector<Line> lines = SplitLines(long_line + "\r\nshort\n");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].end - lines[0].begin, kMaxLinePiece);
  EXPECT_EQ(lines[2].end - lines[2].begin, 12u);  // the last 10 characters and CR LF
  EXPECT_EQ(lines[3].begin, long_line.size() + 2);

  // A line of exactly the piece size: its line end is a line of its own.
  EXPECT_EQ(SplitLines(std::string(kMaxLinePiece, 'y') + "\r\n").size(), 2u);
  // A marker in a later piece starts a record there; one cut by a piece border is no marker.
  const std::string marked = std::string(kMaxLinePiece, 'z') + std::string(kRecordMarker) + "\n";
  const std::vector<Line> m = SplitLines(marked);
  ASSERT_EQ(m.size(), 2u);
  EXPECT_FALSE(m[0].starts_record);
  EXPECT_TRUE(m[1].starts_record);
  const std::string cut = std::string(kMaxLinePiece - 3, 'z') + std::string(kRecordMarker) + "\n";
  for (const Line& l : SplitLines(cut))
    EXPECT_FALSE(l.starts_record);
}

// A log of `lines` lines in total, `records` of them starting request records at the end.
std::string LogOfLines(size_t lines, size_t records) {
  std::string s;
  for (size_t i = 0; i < lines - records; ++i)
    s += "\"insert\":\"t\"\r\n";
  for (size_t i = 0; i < records; ++i)
    s += Request(static_cast<int>(i + 1));
  return s;
}

TEST(LogTrim, CutsToTheLastThirtyRecordsOnlyPastTheLineLimit) {
  const struct {
    size_t lines, records;
    int first_kept;  // 0: the file stays
  } cases[] = {
      {10001, 31, 2}, {10001, 30, 0}, {10000, 31, 0}, {10001, 0, 0}, {20000, 100, 71},
  };
  for (const auto& c : cases) {
    const std::string log = LogOfLines(c.lines, c.records);
    const size_t cut = TrimOffset(log);
    if (c.first_kept == 0) {
      EXPECT_EQ(cut, std::string::npos) << c.lines << " " << c.records;
    } else {
      EXPECT_EQ(cut, log.find(Request(c.first_kept))) << c.lines << " " << c.records;
    }
  }
}

TEST(LogTrim, LongLinesCountAsSeveral) {
  // 31 records and 4985 lines of two pieces each are 10001 lines (5016 whole lines).
  std::string log;
  for (int i = 0; i < 31; ++i)
    log += Request(i + 1);
  const std::string two_pieces(kMaxLinePiece + 1, 'p');
  for (int i = 0; i < 4985; ++i)
    log += two_pieces + "\n";
  EXPECT_EQ(TrimOffset(log), log.find(Request(2)));
}

TEST(LogRecordLine, FormatsNameAndTime) {
  const LocalTime t{2016, 3, 7, 9, 5, 1, 42};
  EXPECT_EQ(FormatRecordLine("insert", t), "\"insert\":\"2016-03-07T09:05:01.042\"\r\n");
  const std::string bad[] = {"", "a\"b", "a\r\nb", std::string("a\0b", 3), std::string(482, 'n')};
  for (const std::string& name : bad)
    EXPECT_EQ(FormatRecordLine(name, t), "") << name.size();
  EXPECT_NE(FormatRecordLine(std::string(481, 'n'), t), "");
}

TEST(LogMediaId, OnlyPlainFileNamesPass) {
  for (const char* ok : {"0123456789ABCDEF", "KVN-01_x.y", ".."})
    EXPECT_TRUE(IsValidMediaId(ok)) << ok;
  for (const char* bad : {"", "..\\..\\x", "a/b", "C:x", "a b", "a*", "a?", "a|b", "a\"", "<a>",
                          "\x7F", "\xE4\xB8\xAD"})
    EXPECT_FALSE(IsValidMediaId(bad)) << bad;
}

}  // namespace
}  // namespace koba::diaglog
