// The usage log files: "koba_kvnkey_1.uklog" and "koba_kvnkey_2.uklog" in the hidden folder
// "KOBAUkeyLog" of the common application data folder, open to every user, one Base64 line
// per key insertion or removal (usage_record.h has the line and the choice of the file).
#pragma once

#include <string>

#include "usage_record.h"

namespace koba::traymon {

// The log folder under `common_app_data` and the two files in it.
std::wstring UsageLogFolder(const std::wstring& common_app_data);

// Makes sure the folder and both files exist (hidden) and returns the file the next line goes
// to, emptied when both were full. False when the folder or a file cannot be made.
bool ChooseUsageLogFile(std::wstring* path);

// Appends one record for the key's serial number (cut to 16 characters) with the current
// local time and user. A null serial number, or a folder or file that cannot be written,
// writes nothing.
void WriteUsageRecord(UsageEvent event, const char* serial);

}  // namespace koba::traymon
