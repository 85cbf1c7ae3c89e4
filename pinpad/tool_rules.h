// The management tool's rules that need no window: the device box's entry texts and which
// entry stays selected, the USB-mode offer, and the certificate list's time format.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pin_rules.h"

namespace VKey {

// Trailing spaces (and NULs) removed.
std::string TrimTrailingSpaces(std::string_view text);

// "SN:<serial>   LABEL:<label>", the label's ampersands doubled.
std::u16string DeviceEntryText(std::u16string_view serial, std::u16string_view label);
// The serial that stands right after "SN:" up to the first space; empty when there is none.
std::u16string SerialOfEntry(std::u16string_view entry);
// The entry to select after a refill: the one whose text equals previous, else the first;
// -1 when there is none.
int EntryToSelect(const std::vector<std::u16string>& entries, std::u16string_view previous);

// The key offers the switch to HID mode: its identifier names "_3951" and it runs in one of the
// CD-ROM-class modes 0, 0x42 or 0x43.
bool OffersHidSwitch(std::string_view identifier, uint32_t usbMode);

// The container names of a listing: consecutive NUL-terminated strings, ended by an empty one
// or by the end of the bytes.
std::vector<std::string> ContainerNames(std::string_view list, size_t count);

struct LocalTime {
  int year, month, day, hour, minute, second;
};
// "%04d-%02d-%02d %02d:%02d:%02d".
std::u16string FormatCertTime(const LocalTime& time);

}  // namespace VKey
