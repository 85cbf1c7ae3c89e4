// The tray monitor's rules that need no window: its command words, which device interfaces
// belong to the maker's keys, the scan code each notification posts, and what a scan does for
// each code. Windows-free.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace koba::traymon {

// Scan codes: the value the window hands to the worker, and on to the scan.
enum ScanCode : uint32_t {
  kScanNone = 0,
  kScanNodesChanged = 0x7,  // Windows 2000 before SP4: confirmed by the token library first
  kScanArrival = 0x8000,
  kScanRemoval = 0x8004,
  kScanStart = 0x10001,
  kScanRescan = 0x10002,
  kScanResume = 0x10003,
};

// What a scan does for its code. A code without a row does only the common work (removal of
// keys gone, registration of keys new).
struct ScanActions {
  uint32_t code;
  bool forget_all;       // free every record at once and start again (resume)
  bool refresh_present;  // re-register keys that stayed (their certificates may be new)
  bool usage_remove;     // "Remove" usage record and UI language values dropped
  bool diag_remove;      // diagnostic "remove" record and the removal registry value
  bool usage_insert;     // "Insert" usage record
  bool diag_insert;      // diagnostic "insert" record
  bool registry_insert;  // the arrival registry value
};

const ScanActions& ActionsFor(uint32_t code);

// The command words, found as case-sensitive substrings of the command line.
struct CommandWords {
  bool kill = false;
  bool install_root = false;
  bool skip_user_stores = false;  // "installRoot -s"
  bool install_tray_tip = false;
  // "removeRoot", for the uninstaller: the CA certificates "installRoot" added go again.
  bool remove_root = false;
};

CommandWords ParseCommandWords(std::u16string_view command_line);

// A device interface of one of the maker's keys: its name, lower-cased, holds "_3951" or
// "_korvanet". Only the first 265 characters count (the name is copied into a 266-character
// buffer).
bool IsKeyInterface(std::u16string_view interface_name);

// The text key of balloon n ("TrayTip01", "TrayTip02").
std::string BalloonTextKey(int n);

// A text cut to fit a field of `capacity` characters, terminator included. Surrogate pairs are
// not split.
std::u16string FitText(std::u16string_view text, size_t capacity);

}  // namespace koba::traymon
