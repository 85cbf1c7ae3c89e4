#include "log_text.h"

#include <algorithm>
#include <cstdio>

namespace koba::diaglog {

std::vector<Line> SplitLines(std::string_view raw) {
  std::vector<Line> lines;
  size_t pos = 0;
  while (pos < raw.size()) {
    const size_t begin = pos;
    size_t chars = 0;
    bool newline = false;
    while (pos < raw.size() && chars < kMaxLinePiece && !newline) {
      if (raw[pos] == '\n') {
        newline = true;
        ++pos;
      } else if (raw[pos] == '\r' && pos + 1 < raw.size() && raw[pos + 1] == '\n') {
        newline = true;
        pos += 2;
      } else {
        ++pos;
      }
      ++chars;
    }
    const bool marker =
        raw.substr(begin, pos - begin).find(kRecordMarker) != std::string_view::npos;
    lines.push_back({begin, pos, marker});
  }
  return lines;
}

int ClampRecordCount(int count) {
  if (count < 1)
    return kDefaultReadRecords;
  return std::min(count, kMaxReadRecords);
}

std::string TailText(std::string_view raw, int count) {
  const std::vector<Line> lines = SplitLines(raw);
  std::vector<size_t> records;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].starts_record)
      records.push_back(i);
  }
  const size_t n = std::min(static_cast<size_t>(ClampRecordCount(count)), records.size());
  const size_t first = n == 0 ? 0 : records[records.size() - n];
  std::string text;
  if (first >= lines.size())
    return text;
  const std::string_view tail = raw.substr(lines[first].begin);
  text.reserve(tail.size());
  for (size_t i = 0; i < tail.size(); ++i) {
    if (tail[i] == '\r' && i + 1 < tail.size() && tail[i + 1] == '\n')
      continue;
    text.push_back(tail[i]);
  }
  return text;
}

size_t TrimOffset(std::string_view raw) {
  // Every line holds at least one byte: a file this short cannot be over the limit.
  if (raw.size() <= kTrimAboveLines)
    return std::string_view::npos;
  const std::vector<Line> lines = SplitLines(raw);
  if (lines.size() <= kTrimAboveLines)
    return std::string_view::npos;
  std::vector<size_t> records;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].starts_record)
      records.push_back(i);
  }
  if (records.size() <= kKeepRecords)
    return std::string_view::npos;
  return lines[records[records.size() - kKeepRecords]].begin;
}

std::string FormatRecordLine(std::string_view name, const LocalTime& t) {
  if (name.empty())
    return {};
  for (const char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || c == '"')
      return {};
  }
  char stamp[32];
  const int stamp_len =
      std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", t.year, t.month,
                    t.day, t.hour, t.minute, t.second, t.millisecond);
  if (stamp_len < 0 || static_cast<size_t>(stamp_len) >= sizeof stamp)
    return {};
  std::string line = "\"";
  line.append(name);
  line.append("\":\"");
  line.append(stamp, static_cast<size_t>(stamp_len));
  line.append("\"\r\n");
  // The line and its terminating NUL fit the 512-byte line buffer.
  if (line.size() >= 512)
    return {};
  return line;
}

bool IsValidMediaId(std::string_view media_id) {
  if (media_id.empty())
    return false;
  constexpr std::string_view kForbidden = "\\/:*?\"<>|";
  return std::all_of(media_id.begin(), media_id.end(), [&](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u < 0x7F && kForbidden.find(c) == std::string_view::npos;
  });
}

}  // namespace koba::diaglog
