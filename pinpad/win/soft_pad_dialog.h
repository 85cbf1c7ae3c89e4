// CDlgSoftPadRand: the on-screen keyboard of a PIN dialog, a borderless child dialog whose push
// buttons (ids 4000 + key index) are made from the key table. The digits change places every
// time it is shown; a key press reaches the target PIN field only as an encoded entry.
#pragma once

#include <windows.h>

#include <vector>

#include "pin_edit.h"
#include "soft_pad.h"

namespace VKey {

class CDlgSoftPadRand {
 public:
  CDlgSoftPadRand() = default;
  ~CDlgSoftPadRand();
  CDlgSoftPadRand(const CDlgSoftPadRand&) = delete;
  CDlgSoftPadRand& operator=(const CDlgSoftPadRand&) = delete;

  // Makes the hidden keyboard inside the PIN dialog, with its digits shuffled once.
  bool Create(HWND dialog);
  // The field that receives the keys.
  void Attach(HWND field, const DeviceValue& deviceValue);
  // Shuffles the digits again (not on the first showing, which follows Create), relabels the
  // keys and shows the keyboard at (x, y) of the dialog's client area, below its other windows.
  void Show(int x, int y);
  void Hide();

  HWND hwnd() const { return hwnd_; }
  bool shown() const { return shown_; }
  int width() const { return keys_.width(); }
  int height() const { return keys_.height(); }

 private:
  static INT_PTR CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  void Relabel();
  void OnKey(int id);

  HWND hwnd_ = nullptr;
  HWND dialog_ = nullptr;
  HWND target_ = nullptr;
  DeviceValue deviceValue_{};
  SoftPadKeys keys_;
  std::vector<HWND> buttons_;
  bool shown_ = false;
  bool shownBefore_ = false;
};

}  // namespace VKey
