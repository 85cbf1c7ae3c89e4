// The dialogs about one USB key: its label, its information and its USB mode.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "pad_dialog.h"
#include "resource.h"

namespace VKey {

// Edits the key label held in a caller's buffer of at least kLabelBufferSize bytes (UTF-8,
// NUL-terminated). OK stores the new label, cut to 32 bytes, and ends with 1; OK with an empty
// edit does nothing.
class CDlgChangeLabel : public PadDialog {
 public:
  static constexpr size_t kLabelBufferSize = 33;
  static constexpr int kMaxChars = 16;
  explicit CDlgChangeLabel(char* label) : PadDialog(IDD_DIALOG_CHANGE_LABEL), label_(label) {}

 protected:
  BOOL OnInit() override;
  bool OnCommand(WORD id, WORD code, HWND control) override;

 private:
  char* label_;
};

// Shows four values of a key (label, serial number, storage, key containers) under the names
// of the language file.
class CDlgUInfo : public PadDialog {
 public:
  explicit CDlgUInfo(std::array<std::wstring, 4> values)
      : PadDialog(IDD_DIALOG_U), values_(std::move(values)) {}

 protected:
  BOOL OnInit() override;

 private:
  std::array<std::wstring, 4> values_;
};

// The key's mode function: (context, command, value) → status, 0 on success.
using ModeFunction = uint32_t(__stdcall*)(void* context, uint32_t command, uint32_t* value);

// Switches the key between a CD-ROM-class device and a HID device through the key's mode
// function: command 303 reads the mode, 302 writes it after OK.
class CDlgBOTHID : public PadDialog {
 public:
  static constexpr uint32_t kReadMode = 303;
  static constexpr uint32_t kWriteMode = 302;
  static constexpr uint32_t kModeCdrom = 0;
  static constexpr uint32_t kModeHid = 128;
  CDlgBOTHID(void* context, ModeFunction mode)
      : PadDialog(IDD_DIALOG_BOT_HID), context_(context), mode_(mode) {}

  // The status of the write after OK; nullopt when nothing was written.
  std::optional<uint32_t> writeStatus() const { return writeStatus_; }

 protected:
  BOOL OnInit() override;
  bool OnCommand(WORD id, WORD code, HWND control) override;

 private:
  void* context_;
  ModeFunction mode_;
  std::optional<uint32_t> writeStatus_;
};

}  // namespace VKey
