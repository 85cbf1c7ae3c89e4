// The waiting windows shown while a key generates a key pair. They run on a thread of their
// own and are closed from outside: WM_CLOSE, then WM_QUIT to their thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "pad_dialog.h"

namespace VKey {

// The waiting window with the key picture and a progress strip, for the languages whose texts
// fit it (1028, 1033, 2052).
class CDlgDisplayProc : public PadDialog {
 public:
  // picturePath: the PNG drawn at the top left; a missing or unreadable file draws nothing.
  explicit CDlgDisplayProc(std::wstring picturePath);
  ~CDlgDisplayProc() override;

  static constexpr UINT_PTR kStripTimer = 100;

 protected:
  BOOL OnInit() override;
  bool OnCommand(WORD id, WORD code, HWND control) override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) override;

 private:
  struct Picture;
  void Paint(HDC dc) const;
  void InvalidateStrip() const;

  std::wstring picturePath_;
  std::unique_ptr<Picture> picture_;
  uint32_t position_ = 0;
  int dpi_ = 96;
};

// The plain waiting window of the other languages: the text followed by dots that come and go
// every second.
class CDlgDisplayProc_Old : public PadDialog {
 public:
  CDlgDisplayProc_Old();

  static constexpr UINT_PTR kDotsTimer = 101;

 protected:
  BOOL OnInit() override;
  bool OnCommand(WORD id, WORD code, HWND control) override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) override;

 private:
  void ShowStep() const;
  std::wstring text_;
  int step_ = 0;
};

// True when the current language uses CDlgDisplayProc.
bool UsesPictureWaitWindow(uint32_t language);

}  // namespace VKey
