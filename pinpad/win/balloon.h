// A balloon tip: a top-level popup of class "BalloonHelpClass" shaped as a rounded box with a
// pointer to an anchor point, showing an icon, a bold title and a text. It never takes the
// focus, closes by itself when its time-out elapses and can be hidden and moved by its owner.
#pragma once

#include <windows.h>

#include <string>

#include "gdi_handles.h"

namespace VKey {

constexpr wchar_t kBalloonClassName[] = L"BalloonHelpClass";

// The class is registered by the first balloon and stays until the library is unloaded, which
// takes it away: a class left behind would point at the unloaded library's code.
void UnregisterBalloonClass();

class CBalloonHelp {
 public:
  CBalloonHelp() = default;
  ~CBalloonHelp();
  CBalloonHelp(const CBalloonHelp&) = delete;
  CBalloonHelp& operator=(const CBalloonHelp&) = delete;

  // Shows the balloon with its pointer at anchor (screen coordinates), replacing what it showed
  // before. icon is drawn at 16x16 and not owned; timeoutMs 0 keeps the balloon until hidden.
  bool Show(HWND owner, const std::wstring& title, const std::wstring& text, HICON icon,
            POINT anchor, UINT timeoutMs);
  // Moves the shown balloon's pointer to a new anchor.
  void MoveTo(POINT anchor);
  void Hide();
  bool visible() const { return hwnd_ != nullptr && IsWindowVisible(hwnd_); }
  HWND hwnd() const { return hwnd_; }

 private:
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  void Layout();
  void Paint(HDC dc) const;

  HWND hwnd_ = nullptr;
  std::wstring title_;
  std::wstring text_;
  HICON icon_ = nullptr;
  POINT anchor_{};
  Font titleFont_;
  Font textFont_;
  // Filled by Layout: the window size, whether the pointer is on the top edge, and the
  // rectangles of the title and text inside the window.
  SIZE size_{};
  bool pointerUp_ = true;
  RECT titleRect_{};
  RECT textRect_{};
};

}  // namespace VKey
