// The machine Run value through which Windows starts the tray monitor at every user logon.
#pragma once

namespace koba::service {

inline constexpr wchar_t kTrayMonitorFile[] = L"Q2Svr_KOBA.exe";
inline constexpr wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

// Makes sure the value named `file_name` under the machine Run key names that file: a value
// whose data already contains the name (in whatever folder) is left alone; otherwise it is
// written as the install folder of the settings key, "\" and the name.
void EnsureRunValue(const wchar_t* file_name);

}  // namespace koba::service
