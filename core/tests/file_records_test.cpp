// The file-signing records, names, pieces and the chosen-file table.
#include "file_records.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <set>

namespace koba::core {
namespace {

TEST(FileRecordsTest, RecordTexts) {
  EXPECT_EQ(FileRecordText("AB", "C:\\a b\\\xE5\xBC\xA0.txt", 12),
            "TOKEN=AB||FILEPATH=C:\\a b\\\xE5\xBC\xA0.txt||FILESIZE=12");
  EXPECT_EQ(SignedFileRecordText("CD", "Li.202403050907.123456.sig", 4096),
            "TOKEN=CD||FILENAME=Li.202403050907.123456.sig||FILESIZE=4096");
}

TEST(FileRecordsTest, SignatureFileNames) {
  std::mt19937 generator(7);
  const std::string digits = SixDigits(generator);
  ASSERT_EQ(digits.size(), 6u);
  EXPECT_EQ(digits.find_first_not_of("123456789"), std::string::npos);
  std::set<std::string> seen;
  for (int i = 0; i < 50; ++i)
    seen.insert(SixDigits(generator));
  EXPECT_GT(seen.size(), 45u);
  EXPECT_EQ(SignatureFileName("Li", {2024, 3, 5, 9, 7}, "123456"), "Li.202403050907.123456.sig");

  const struct {
    const char* cn;
    const char* subject;
    const char* name;
  } cases[] = {
      {"Li", "CN=Zhang San, O=Bank", "Li"},
      {"", "O=Bank, CN=Zhang San", "Zhang San"},
      {"", "O=Bank", ""},
      {"..\\..\\Windows\\x", "", ".._.._Windows_x"},
      {"", "CN=a/b:c*d?e\"f<g>h|i\tj", "a_b_c_d_e_f_g_h_i_j"},
      {"\xE5\xBC\xA0\xE4\xB8\x89", "", "\xE5\xBC\xA0\xE4\xB8\x89"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(SignerName(c.cn, c.subject), c.name) << c.cn << " / " << c.subject;
}

TEST(FileRecordsTest, PiecesStayInsideTheFile) {
  constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
  const struct {
    uint64_t size;
    int64_t offset, max_length;
    int code;
    uint64_t start;
    size_t length;
    int mark;
  } cases[] = {
      {100, 0, 1000, 0, 0, 100, kMarkLast},  // one piece: mark 2 overrides 0
      {100, 0, 100, 0, 0, 100, kMarkLast},   // 0 + 100 + 1 > 100
      {100, 0, 99, 0, 0, 99, kMarkFirst},    // 0 + 99 + 1 = 100: more to follow
      {100, 10, 50, 0, 10, 50, kMarkMiddle},
      {100, 50, 50, 0, 50, 50, kMarkLast},
      {100, 99, kMax, 0, 99, 1, kMarkLast},  // huge length: only what the file holds
      {100, 100, 10, -302, 0, 0, 0},         // at the end
      {100, kMax, 10, -302, 0, 0, 0},
      {100, -1, 10, -106, 0, 0, 0},
      {100, 0, 0, -106, 0, 0, 0},
      {100, 0, -5, -106, 0, 0, 0},
      {0, 0, 10, -302, 0, 0, 0},
  };
  for (const auto& c : cases) {
    Piece piece;
    EXPECT_EQ(PlanPiece(c.size, c.offset, c.max_length, &piece), c.code)
        << c.size << " " << c.offset << " " << c.max_length;
    if (c.code == 0) {
      EXPECT_EQ(piece.offset, c.start);
      EXPECT_EQ(piece.length, c.length);
      EXPECT_EQ(piece.mark, c.mark) << c.offset << " " << c.max_length;
    }
  }
  EXPECT_EQ(LineLength("abc\ndef"), 4u);
  EXPECT_EQ(LineLength("abcdef"), 6u);
  EXPECT_EQ(MarkOf(100, 10, 4), kMarkMiddle);
}

TEST(FileRecordsTest, ChosenFilesKeepTheirFirstRecord) {
  ChosenFileTable table;
  ChosenFile first{"C:\\\\a.txt", {}, "T1"};
  first.random[0] = 1;
  EXPECT_TRUE(table.Add(first));
  ChosenFile again{"C:\\\\b.txt", {}, "T1"};
  EXPECT_FALSE(table.Add(again));
  ASSERT_NE(table.Find("T1"), nullptr);
  EXPECT_EQ(table.Find("T1")->path, "C:\\\\a.txt");
  EXPECT_EQ(table.Find("T"), nullptr);
  EXPECT_EQ(table.Find("T1 "), nullptr);
  EXPECT_EQ(table.Find(""), nullptr);
  EXPECT_TRUE(TokensEqual("ABC", "ABC"));
  EXPECT_FALSE(TokensEqual("ABC", "ABD"));
  EXPECT_FALSE(TokensEqual("ABC", "ABCD"));
}

TEST(FileRecordsTest, ProbeCounterIsNotResetBySuccess) {
  ProbeCounter counter;
  for (int i = 0; i < ProbeCounter::kProbeLimit; ++i)
    counter.Failed();
  EXPECT_FALSE(counter.ShutOff());
  counter.Failed();
  EXPECT_TRUE(counter.ShutOff());
  for (int i = 0; i < 100; ++i)
    counter.Failed();
  EXPECT_TRUE(counter.ShutOff());
}

}  // namespace
}  // namespace koba::core
