#include "usage_record.h"

#include <cstdio>

#include "text_encoding.h"

namespace koba::traymon {

std::string FormatUsageRecord(const diaglog::LocalTime& t, std::string_view user,
                              std::string_view serial, UsageEvent event) {
  const std::string_view type = event == UsageEvent::kInsert ? "Insert" : "Remove";
  if (serial.size() > kUsageSerialChars)
    serial = serial.substr(0, kUsageSerialChars);
  char stamp[64];
  const int n = std::snprintf(stamp, sizeof stamp, "[%02d.%02d.%02d-%02d:%02d:%02d.%03d]", t.year,
                              t.month, t.day, t.hour, t.minute, t.second, t.millisecond);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof stamp)
    return {};
  std::string record(stamp, static_cast<size_t>(n));
  const size_t total = record.size() + user.size() + serial.size() + type.size() + 6 + 2;
  if (total > kMaxUsageRecordBytes)
    return {};
  record.reserve(total);
  for (std::string_view field : {user, serial, type}) {
    record += '[';
    record += field;
    record += ']';
  }
  record += "\r\n";
  return record;
}

std::string UsageLine(std::string_view record) {
  std::string line = text::Base64Encode(record);
  line += "\r\n";
  return line;
}

UsageFileChoice ChooseUsageFile(const UsageFileState& first, const UsageFileState& second) {
  const bool first_full = first.size >= kUsageFileLimit;
  const bool second_full = second.size >= kUsageFileLimit;
  if ((!first.existed && !second.existed) || !first_full)
    return {0, false};
  if (!second_full)
    return {1, false};
  return {second.last_write < first.last_write ? 1 : 0, true};
}

}  // namespace koba::traymon
