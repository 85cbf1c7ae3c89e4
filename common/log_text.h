// The text rules of the per-key diagnostic log: how the file splits into lines, which lines
// start request records, what the reader returns and where the trimmer cuts. Windows-free; the
// file, the mutex and the temporary folder are in diag_log.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace koba::diaglog {

// A line is read in pieces of at most this many characters; a longer line counts as several.
constexpr size_t kMaxLinePiece = 4095;
// The file is trimmed once it has more lines than this ...
constexpr size_t kTrimAboveLines = 10000;
// ... to its last this many request records.
constexpr size_t kKeepRecords = 30;
// The reader's record count: the default for counts below 1, and the upper bound.
constexpr int kDefaultReadRecords = 20;
constexpr int kMaxReadRecords = 40;
// A line containing this text starts a request record.
constexpr std::string_view kRecordMarker = "\"requestId\":\"";

// One line (or piece of a long line) as byte offsets into the raw file; a CR LF pair counts as
// one character, as text-mode reading sees it.
struct Line {
  size_t begin;
  size_t end;
  bool starts_record;
};

std::vector<Line> SplitLines(std::string_view raw);

// The reader's record count for a requested count.
int ClampRecordCount(int count);

// The text the reader returns, with CR LF read as LF: from the first line of the count-th last
// request record (or the first line when there is none) to the end. Empty for an empty file.
std::string TailText(std::string_view raw, int count);

// The byte offset before which the trimmer drops everything, or npos when the file stays.
size_t TrimOffset(std::string_view raw);

struct LocalTime {
  int year, month, day, hour, minute, second, millisecond;
};

// One record line: "name":"2016-03-07T09:05:01.042" and CR LF. Empty when the name is empty,
// too long for the 512-byte line buffer or holds a quote or a control character (such a name
// would forge or break lines).
std::string FormatRecordLine(std::string_view name, const LocalTime& t);

// Media IDs name files: printable ASCII without the characters a Windows file name cannot
// hold, so that no ID reaches outside the temporary folder.
bool IsValidMediaId(std::string_view media_id);

}  // namespace koba::diaglog
