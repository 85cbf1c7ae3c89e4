// Edits whose text no other window can change: CSafeEdit swallows WM_SETTEXT, EM_REPLACESEL and
// WM_PASTE, CSafeRichEdit also EM_STREAMIN, EM_STREAMOUT and EM_SETTEXTEX. Their owner reaches
// the edit through the window procedure it had before.
#pragma once

#include <windows.h>

namespace VKey {

class CSafeEdit {
 public:
  // Subclasses the edit; false when it is no window.
  static bool Attach(HWND edit);
  // A message handled by the edit's own procedure, past the guard.
  static LRESULT CallOriginal(HWND edit, UINT message, WPARAM wParam, LPARAM lParam);
  static void SetText(HWND edit, const wchar_t* text) {
    CallOriginal(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
  }

 protected:
  static bool Attach(HWND edit, WNDPROC guard);
  static LRESULT Forward(HWND edit, UINT message, WPARAM wParam, LPARAM lParam);

 private:
  static LRESULT CALLBACK Procedure(HWND edit, UINT message, WPARAM wParam, LPARAM lParam);
};

class CSafeRichEdit : public CSafeEdit {
 public:
  static bool Attach(HWND edit);

 private:
  static LRESULT CALLBACK Procedure(HWND edit, UINT message, WPARAM wParam, LPARAM lParam);
};

}  // namespace VKey
