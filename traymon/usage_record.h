// The usage log's text rules: the record of one key insertion or removal, its Base64 line, and
// which of the two log files the next line goes to. Windows-free; the folder, the files and
// their attributes are in win/usage_log.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "log_text.h"

namespace koba::traymon {

enum class UsageEvent : int { kInsert = 0, kRemove = 1 };

// Serial numbers longer than this are cut.
constexpr size_t kUsageSerialChars = 16;
// A record never exceeds this many bytes; a longer one is not written.
constexpr size_t kMaxUsageRecordBytes = 2048;
// A log file of this many bytes or more is full.
constexpr uint64_t kUsageFileLimit = 614400;

// "[2024.05.03-14:07:09.123][alice][0123456789ABCDEF][Insert]" and CR LF. Empty when the
// record would exceed kMaxUsageRecordBytes.
std::string FormatUsageRecord(const diaglog::LocalTime& t, std::string_view user,
                              std::string_view serial, UsageEvent event);

// The line stored in the file: the record's Base64 text and CR LF.
std::string UsageLine(std::string_view record);

// What the file chooser saw of one log file before choosing.
struct UsageFileState {
  bool existed = false;     // false: it was just created, empty
  uint64_t size = 0;        // bytes
  uint64_t last_write = 0;  // FILETIME as one number; larger is newer
};

struct UsageFileChoice {
  int index = 0;          // 0 the first file, 1 the second
  bool empty_it = false;  // both are full: the chosen (older) one starts again empty
};

// The first file unless it is full (or when both were missing); else the second unless it is
// full; else the one written longer ago, emptied (the first on a tie).
UsageFileChoice ChooseUsageFile(const UsageFileState& first, const UsageFileState& second);

}  // namespace koba::traymon
