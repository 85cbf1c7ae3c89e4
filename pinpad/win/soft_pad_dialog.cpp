#include "soft_pad_dialog.h"

#include <string>

#include "pad_module.h"
#include "pinpad_texts.h"
#include "resource.h"
#include "wide_text.h"

namespace VKey {
namespace {

uint32_t TickCount() {
  return GetTickCount();
}

std::wstring LabelText(const KeyLabel& label) {
  if (label.textId != nullptr) {
    return Wide(PinpadTexts::Get().table().LoadText(label.textId));
  }
  return std::wstring(label.text.begin(), label.text.end());
}

}  // namespace

CDlgSoftPadRand::~CDlgSoftPadRand() {
  if (hwnd_ != nullptr) {
    DestroyWindow(hwnd_);
  }
}

bool CDlgSoftPadRand::Create(HWND dialog) {
  if (hwnd_ != nullptr) {
    return true;
  }
  const ActivationScope scope;
  dialog_ = dialog;
  hwnd_ = CreateDialogParamW(PadModule(), MAKEINTRESOURCEW(IDD_DIALOG_SOFTPAD), dialog,
                             &CDlgSoftPadRand::Procedure, reinterpret_cast<LPARAM>(this));
  if (hwnd_ == nullptr) {
    return false;
  }
  keys_.Shuffle(ProcessPadRandom(&TickCount));
  const auto font = static_cast<WPARAM>(SendMessageW(hwnd_, WM_GETFONT, 0, 0));
  for (size_t i = 0; i < keys_.keys().size(); ++i) {
    const KeyRect r = KeyGeometry(keys_.keys()[i]);
    const HWND button = CreateWindowExW(
        0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, r.x, r.y, r.width, r.height,
        hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstKeyId + i)), PadModule(),
        nullptr);
    SendMessageW(button, WM_SETFONT, font, FALSE);
    buttons_.push_back(button);
  }
  if ((GetKeyState(VK_CAPITAL) & 1) != 0) {
    keys_.ToggleCaps();
  }
  Relabel();
  SetWindowPos(hwnd_, nullptr, 0, 0, width(), height(), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  return true;
}

void CDlgSoftPadRand::Attach(HWND field, const DeviceValue& deviceValue) {
  target_ = field;
  deviceValue_ = deviceValue;
}

void CDlgSoftPadRand::Show(int x, int y) {
  if (hwnd_ == nullptr) {
    return;
  }
  if (shownBefore_) {
    keys_.Shuffle(ProcessPadRandom(&TickCount));
    Relabel();
  }
  shownBefore_ = true;
  SetWindowPos(hwnd_, HWND_BOTTOM, x, y, width(), height(), SWP_NOACTIVATE | SWP_SHOWWINDOW);
  shown_ = true;
}

void CDlgSoftPadRand::Hide() {
  if (hwnd_ != nullptr) {
    ShowWindow(hwnd_, SW_HIDE);
  }
  shown_ = false;
}

void CDlgSoftPadRand::Relabel() {
  for (size_t i = 0; i < buttons_.size(); ++i) {
    SetWindowTextW(buttons_[i], LabelText(keys_.Label(i)).c_str());
  }
}

void CDlgSoftPadRand::OnKey(int id) {
  const KeyPress press = keys_.Press(id);
  // The field keeps the focus, so that the physical keyboard goes on typing into it and Enter
  // means OK rather than the key last clicked.
  if (target_ != nullptr && press.kind != KeyPress::kEnter && press.kind != KeyPress::kCancel) {
    SetFocus(target_);
  }
  switch (press.kind) {
    case KeyPress::kNone:
      return;
    case KeyPress::kInsert: {
      if (target_ == nullptr) {
        return;
      }
      SendMessageW(target_, kPinEditMessage, kPinInsert,
                   static_cast<LPARAM>(EncodePinCharacter(deviceValue_, press.character)));
      return;
    }
    case KeyPress::kBack:
      SendMessageW(target_, kPinEditMessage, kPinBack, 0);
      return;
    case KeyPress::kClear:
      SendMessageW(target_, kPinEditMessage, kPinClear, 0);
      return;
    case KeyPress::kEnter:
      SendMessageW(dialog_, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
      return;
    case KeyPress::kCancel:
      SendMessageW(dialog_, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      return;
    case KeyPress::kCaps:
      keys_.ToggleCaps();
      Relabel();
      return;
  }
}

INT_PTR CALLBACK CDlgSoftPadRand::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
    return FALSE;
  }
  auto* self = reinterpret_cast<CDlgSoftPadRand*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  if (self == nullptr) {
    return FALSE;
  }
  if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
    self->OnKey(LOWORD(wParam));
    return TRUE;
  }
  if (message == WM_NCDESTROY) {
    self->hwnd_ = nullptr;
    self->buttons_.clear();
  }
  return FALSE;
}

}  // namespace VKey
