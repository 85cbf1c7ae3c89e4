// The notice boxes every part of the library shows: the information box (one OK button) and
// the message box (OK, optionally Cancel).
#pragma once

#include <string>

#include "pad_dialog.h"

namespace VKey {

// Title and message shown as they stand; OK or Cancel (Escape) ends it with 1 or 2.
class CDlgDisplayInfo : public PadDialog {
 public:
  CDlgDisplayInfo(std::wstring title, std::wstring message);

 protected:
  BOOL OnInit() override;

 private:
  std::wstring title_;
  std::wstring message_;
};

// Whether the message box's title and message are ids of the text table or ready texts.
enum class MsgBoxText { kTextIds, kReady };

// A centred message with OK and, when asked for, Cancel; without Cancel the OK button moves to
// the horizontal centre. Ends with 1 (OK) or 2 (Cancel, Escape or the close box).
class CMsgBox : public PadDialog {
 public:
  CMsgBox(MsgBoxText kind, std::wstring title, std::wstring message, bool showCancel);

 protected:
  BOOL OnInit() override;

 private:
  MsgBoxText kind_;
  std::wstring title_;
  std::wstring message_;
  bool showCancel_;
};

}  // namespace VKey
