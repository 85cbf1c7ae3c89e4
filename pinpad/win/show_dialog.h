// Pinpad_ShowDialog: the records its callers pass for each dialog type, and the dialogs behind
// them.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "key_dialogs.h"
#include "pinpad_api.h"

namespace VKey {

// Type 1: count (label, serial number) pairs of UTF-16 strings. OK with a row stores its
// 0-based index in chosenRow; OK without a row and Cancel leave it alone.
struct SelectDeviceRecord {
  uint32_t chosenRow;
  uint32_t count;
  const wchar_t* const* pairs;
};

// Type 2: count UTF-16 certificate names. chosenRow as for type 1.
struct SelectCertRecord {
  uint32_t reserved;
  uint32_t chosenRow;
  uint32_t count;
  const wchar_t* const* names;
};

// Type 7: label, serial number, storage and key containers, shown in that order.
struct KeyInfoRecord {
  const wchar_t* values[4];
};

// Type 8: a message box whose title and message are ids of the text table (UTF-16); a non-zero
// showCancel adds the Cancel button.
struct MessageBoxRecord {
  const wchar_t* titleId;
  const wchar_t* messageId;
  uint32_t showCancel;
};

// Type 9: the key's context and its mode function.
struct UsbModeRecord {
  void* context;
  ModeFunction mode;
};

#if !defined(_WIN64)
static_assert(offsetof(SelectDeviceRecord, count) == 4 && offsetof(SelectDeviceRecord, pairs) == 8);
static_assert(offsetof(SelectCertRecord, chosenRow) == 4 &&
              offsetof(SelectCertRecord, count) == 8 && offsetof(SelectCertRecord, names) == 12);
static_assert(offsetof(MessageBoxRecord, messageId) == 4 &&
              offsetof(MessageBoxRecord, showCancel) == 8);
static_assert(offsetof(UsbModeRecord, mode) == 4);
#endif

// The dialog types; every other type fails.
uint32_t ShowSelectDevice(SelectDeviceRecord* record);
uint32_t ShowSelectCert(SelectCertRecord* record);
// Opens the waiting window on a thread of its own (magic absent), or closes it (magic present).
uint32_t ToggleWaitWindow(GenKeyWaitHandle* handle);
uint32_t ShowChangeLabel(char* label);
uint32_t ShowKeyInfo(const KeyInfoRecord* record);
uint32_t ShowMessageBox(const MessageBoxRecord* record);
uint32_t ShowUsbMode(const UsbModeRecord* record);

// A dialog's end code as Pinpad_ShowDialog returns it: 1 → 0, 2 → cancelled, else failed.
uint32_t DialogStatus(INT_PTR endCode);

}  // namespace VKey
