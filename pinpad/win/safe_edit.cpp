#include "safe_edit.h"

#include <richedit.h>

namespace VKey {
namespace {

// The edit's own procedure, kept in a window property of the edit.
constexpr wchar_t kOriginalProperty[] = L"VKeySafeEditProc";

WNDPROC Original(HWND edit) {
  return reinterpret_cast<WNDPROC>(GetPropW(edit, kOriginalProperty));
}

}  // namespace

bool CSafeEdit::Attach(HWND edit) {
  return Attach(edit, &CSafeEdit::Procedure);
}

bool CSafeEdit::Attach(HWND edit, WNDPROC guard) {
  if (edit == nullptr || Original(edit) != nullptr) {
    return false;
  }
  const auto previous = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(edit, GWLP_WNDPROC));
  SetPropW(edit, kOriginalProperty, reinterpret_cast<HANDLE>(previous));
  SetWindowLongPtrW(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(guard));
  return true;
}

LRESULT CSafeEdit::CallOriginal(HWND edit, UINT message, WPARAM wParam, LPARAM lParam) {
  const WNDPROC original = Original(edit);
  return original != nullptr ? CallWindowProcW(original, edit, message, wParam, lParam)
                             : SendMessageW(edit, message, wParam, lParam);
}

LRESULT CSafeEdit::Forward(HWND edit, UINT message, WPARAM wParam, LPARAM lParam) {
  const WNDPROC original = Original(edit);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
    RemovePropW(edit, kOriginalProperty);
  }
  return CallWindowProcW(original, edit, message, wParam, lParam);
}

LRESULT CALLBACK CSafeEdit::Procedure(HWND edit, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SETTEXT:
    case EM_REPLACESEL:
    case WM_PASTE:
      return 0;
    default:
      return Forward(edit, message, wParam, lParam);
  }
}

bool CSafeRichEdit::Attach(HWND edit) {
  return CSafeEdit::Attach(edit, &CSafeRichEdit::Procedure);
}

LRESULT CALLBACK CSafeRichEdit::Procedure(HWND edit, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SETTEXT:
    case EM_REPLACESEL:
    case WM_PASTE:
    case EM_STREAMIN:
    case EM_STREAMOUT:
    case EM_SETTEXTEX:
      return 0;
    default:
      return Forward(edit, message, wParam, lParam);
  }
}

}  // namespace VKey
