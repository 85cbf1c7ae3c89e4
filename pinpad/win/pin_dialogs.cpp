#include "pin_dialogs.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "info_dialogs.h"
#include "mouse_filter.h"
#include "pinpad_texts.h"
#include "resource.h"
#include "wide_text.h"

namespace VKey {
namespace {

constexpr UINT_PTR kAttentionTimer = 2;
constexpr UINT kAttentionDelayMs = 100;
constexpr UINT kCapsTipMs = 10000;

bool CapsLockOn() {
  return (GetKeyState(VK_CAPITAL) & 1) != 0;
}

RECT ChildRect(HWND dialog, HWND child) {
  RECT r{};
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

}  // namespace

CPinDialog::CPinDialog(int templateId, const PinDialogArgs& args, std::vector<Field> fields)
    : PadDialog(templateId), args_(args), fields_(std::move(fields)) {
  for (size_t i = 0; i < fields_.size(); ++i) {
    edits_.push_back(std::make_unique<CPinEdit>());
  }
  const std::string length = LengthText(args_.minimum, args_.maximum);
  lengthText_.assign(length.begin(), length.end());
}

CPinDialog::~CPinDialog() {
  RemoveMouseFilter();
}

BOOL CPinDialog::OnInit() {
  SetTexts();
  SetItemTextId(IDOK, "OK");
  SetItemTextId(IDCANCEL, "Cancel");
  for (size_t i = 0; i < fields_.size(); ++i) {
    edits_[i]->Attach(Item(fields_[i].id), args_.deviceValue, fields_[i].limit);
  }
  keyboardField_ = 0;
  SetKeyboardPicture();
  EnableWindow(Item(IDOK), FALSE);
  CenterOnOwner();
  if (args_.flags == 0 && CapsLockOn()) {
    ShowCapsTip(0);
  }
  SetActiveWindow(hwnd());
  SetTimer(hwnd(), kAttentionTimer, kAttentionDelayMs, nullptr);
  SetFocus(edits_[0]->hwnd());
  return FALSE;
}

void CPinDialog::SetKeyboardPicture() {
  const std::wstring path = InstallFilePath(L"res\\Keyboard_UP.bmp");
  keyboardPicture_.reset(
      static_cast<HBITMAP>(LoadImageW(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE)));
  if (keyboardPicture_) {
    SendMessageW(Item(IDC_KEYBOARD), BM_SETIMAGE, IMAGE_BITMAP,
                 reinterpret_cast<LPARAM>(keyboardPicture_.get()));
  }
  ShowWindow(Item(IDC_KEYBOARD), SW_SHOW);
}

void CPinDialog::ShowCapsTip(size_t field) {
  const RECT r = ChildRect(nullptr, edits_[field]->hwnd());
  const POINT anchor{r.left + 10, r.bottom - 5};
  const std::wstring title = L" " + Text("PAD_CAPS_LOCK_TIPS_1");
  const std::wstring body = Text("PAD_CAPS_LOCK_TIPS_2") + L"\n\n" + Text("PAD_CAPS_LOCK_TIPS_3");
  const auto icon =
      static_cast<HICON>(LoadImageW(nullptr, IDI_WARNING, IMAGE_ICON, 16, 16, LR_SHARED));
  capsTip_.Show(hwnd(), title, body, icon, anchor, kCapsTipMs);
}

void CPinDialog::FocusField(size_t field) {
  SendMessageW(hwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(edits_[field]->hwnd()), TRUE);
}

void CPinDialog::ShowCheckMessage(PinCheck check) {
  const char* id = CheckTextId(check);
  const std::u16string message =
      PinpadTexts::Get().table().FormatText(id != nullptr ? id : "", {lengthText_});
  wchar_t title[260] = {};
  GetWindowTextW(hwnd(), title, 260);
  CDlgDisplayInfo box(title, Wide(message));
  box.RunModal(hwnd());
}

void CPinDialog::Accept(std::vector<SecretBytes> pins) {
  pins_ = std::move(pins);
  End(1);
}

void CPinDialog::UpdateOk() {
  EnableWindow(Item(IDOK), OkEnabled());
}

void CPinDialog::ToggleKeyboard() {
  if (keyboard_.hwnd() == nullptr) {
    if (!keyboard_.Create(hwnd())) {
      return;
    }
    keyboard_.Attach(edits_[keyboardField_]->hwnd(), args_.deviceValue);
  } else if (keyboard_.shown()) {
    keyboard_.Hide();
    SetWindowPos(hwnd(), nullptr, 0, 0, sizeWithoutKeyboard_.cx, sizeWithoutKeyboard_.cy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(Item(IDOK), SW_SHOW);
    ShowWindow(Item(IDCANCEL), SW_SHOW);
    return;
  }
  RECT window{};
  GetWindowRect(hwnd(), &window);
  RECT client{};
  GetClientRect(hwnd(), &client);
  sizeWithoutKeyboard_ = {window.right - window.left, window.bottom - window.top};
  const int top = LowestControlBottom() + 16;
  keyboard_.Show(8, top);
  const int frame = (window.right - window.left) - (client.right - client.left);
  const PadDialogSize size = DialogSizeWithKeyboard(top, keyboard_.width(), keyboard_.height(),
                                                    frame, GetSystemMetrics(SM_CYCAPTION));
  SetWindowPos(hwnd(), nullptr, 0, 0, size.width, size.height,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  ShowWindow(Item(IDOK), SW_HIDE);
  ShowWindow(Item(IDCANCEL), SW_HIDE);
}

int CPinDialog::LowestControlBottom() const {
  int bottom = 0;
  for (HWND child = GetWindow(hwnd(), GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    const int id = GetDlgCtrlID(child);
    if (child != keyboard_.hwnd() && id != IDOK && id != IDCANCEL) {
      bottom = std::max<int>(bottom, ChildRect(hwnd(), child).bottom);
    }
  }
  return bottom;
}

void CPinDialog::ForegroundClick() {
  SetForegroundWindow(hwnd());
  POINT at{20, 20};
  if ((GetWindowLongW(hwnd(), GWL_STYLE) & WS_CAPTION) == WS_CAPTION) {
    at.y += GetSystemMetrics(SM_CYCAPTION);
  }
  ClientToScreen(hwnd(), &at);
  SetCursorPos(at.x, at.y);
  const ULONG_PTR own = ArmOwnClick();
  INPUT clicks[2] = {};
  for (INPUT& click : clicks) {
    click.type = INPUT_MOUSE;
    click.mi.dwExtraInfo = own;
  }
  clicks[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  clicks[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  SendInput(2, clicks, sizeof(INPUT));
}

bool CPinDialog::OnCommand(WORD id, WORD code, HWND) {
  if (id == IDC_KEYBOARD && code == BN_CLICKED) {
    ToggleKeyboard();
    return true;
  }
  if (id == IDOK) {
    OnOk();
    return true;
  }
  if (id == IDCANCEL) {
    End(2);
    return true;
  }
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (id != fields_[i].id) {
      continue;
    }
    if (code == EN_CHANGE) {
      UpdateOk();
    } else if (code == EN_SETFOCUS && i != keyboardField_) {
      keyboardField_ = i;
      keyboard_.Attach(edits_[i]->hwnd(), args_.deviceValue);
      if (args_.flags == 0 && CapsLockOn()) {
        ShowCapsTip(i);
      }
    }
    return true;
  }
  return false;
}

bool CPinDialog::OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR*) {
  switch (message) {
    case WM_TIMER:
      if (wParam == kAttentionTimer) {
        KillTimer(hwnd(), kAttentionTimer);
        ForegroundClick();
        return true;
      }
      return false;
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) {
        RemoveMouseFilter();
      } else {
        InstallMouseFilter();
      }
      return false;
    case WM_NCLBUTTONDOWN:
      if (wParam == HTCLOSE) {
        RemoveMouseFilter();
      }
      return false;
    case WM_DESTROY:
      KillTimer(hwnd(), kAttentionTimer);
      RemoveMouseFilter();
      capsTip_.Hide();
      return false;
    default:
      return false;
  }
}

CDlgVerifyPin::CDlgVerifyPin(const PinDialogArgs& args)
    : CPinDialog(IDD_DIALOG_VERIFY_PIN, args, {{IDC_VERIFY_PIN, args.maximum}}) {}

void CDlgVerifyPin::SetTexts() {
  SetTitleId("PAD_USE_TYPE_CHECKPIN");
  SetItemTextId(IDC_VERIFY_LABEL, "PAD_USE_TYPE_INPUTPIN");
}

bool CDlgVerifyPin::OkEnabled() const {
  return VerifyOkEnabled(Length(0), args().minimum);
}

bool CDlgVerifyPin::OnCommand(WORD id, WORD code, HWND control) {
  if (id == IDOK || id == IDCANCEL) {
    RemoveMouseFilter();
  }
  return CPinDialog::OnCommand(id, code, control);
}

void CDlgVerifyPin::OnOk() {
  SecretBytes pin = Pin(0);
  const PinCheckResult result =
      CheckVerifyPin(std::string_view(pin.data(), pin.size()), args().minimum, args().maximum);
  if (result.check != PinCheck::kAccepted) {
    ShowCheckMessage(result.check);
    FocusField(0);
    return;
  }
  std::vector<SecretBytes> pins;
  pins.push_back(std::move(pin));
  Accept(std::move(pins));
}

CDlgChangePin::CDlgChangePin(const PinDialogArgs& args)
    : CPinDialog(IDD_DIALOG_CHANGE_PIN, args,
                 {{IDC_CHANGE_OLD_PIN, args.maximum},
                  {IDC_CHANGE_NEW1_PIN, 30},
                  {IDC_CHANGE_NEW2_PIN, args.maximum}}) {}

void CDlgChangePin::SetTexts() {
  SetTitleId("PAD_USE_TYPE_CHANGEPIN");
  SetItemTextId(IDC_CHANGE_OLD_LABEL, "PAD_INPUT_OLD_PIN");
  SetItemTextId(IDC_CHANGE_NEW1_LABEL, "PAD_INPUT_NEW_PIN1");
  SetItemTextId(IDC_CHANGE_NEW2_LABEL, "PAD_INPUT_NEW_PIN2");
  SetItemTextId(IDC_CHANGE_TIPS, "PAD_INPUT_PIN_TIPS");
}

bool CDlgChangePin::OkEnabled() const {
  return ChangeOkEnabled(Length(0), Length(1), Length(2), args().minimum);
}

void CDlgChangePin::EmptyNewFields() {
  ClearField(1);
  ClearField(2);
  FocusField(1);
  EnableWindow(Item(IDOK), FALSE);
}

void CDlgChangePin::OnOk() {
  SecretBytes oldPin = Pin(0);
  SecretBytes newPin = Pin(1);
  const SecretBytes repeat = Pin(2);
  const PinCheckResult result = CheckChangePin(std::string_view(oldPin.data(), oldPin.size()),
                                               std::string_view(newPin.data(), newPin.size()),
                                               std::string_view(repeat.data(), repeat.size()),
                                               args().minimum, args().maximum);
  switch (result.check) {
    case PinCheck::kAccepted:
      break;
    case PinCheck::kBadLength:
    case PinCheck::kBadNewLength:
    case PinCheck::kBadRepeatLength:
      ShowCheckMessage(result.check);
      FocusField(result.check == PinCheck::kBadLength      ? 0
                 : result.check == PinCheck::kBadNewLength ? 1
                                                           : 2);
      return;
    case PinCheck::kMismatch:
    case PinCheck::kSameAsOld:
      ShowCheckMessage(result.check);
      EmptyNewFields();
      return;
    case PinCheck::kWeak: {
      wchar_t title[260] = {};
      GetWindowTextW(hwnd(), title, 260);
      CMsgBox ask(MsgBoxText::kReady, title, Text(StrengthTextId(result.verdict)), true);
      if (ask.RunModal(hwnd()) != 1) {
        EmptyNewFields();
        return;
      }
      break;
    }
  }
  std::vector<SecretBytes> pins;
  pins.push_back(std::move(oldPin));
  pins.push_back(std::move(newPin));
  Accept(std::move(pins));
}

CDlgInitPin::CDlgInitPin(const PinDialogArgs& args)
    : CPinDialog(IDD_DIALOG_INIT_PIN, args,
                 {{IDC_INIT_NEW1_PIN, args.maximum}, {IDC_INIT_NEW2_PIN, args.maximum}}) {}

void CDlgInitPin::SetTexts() {
  SetTitleId("PAD_USE_TYPE_INITDEV");
  SetItemTextId(IDC_INIT_NEW1_LABEL, "PAD_INPUT_NEW_PIN1");
  SetItemTextId(IDC_INIT_NEW2_LABEL, "PAD_INPUT_NEW_PIN2");
}

bool CDlgInitPin::OkEnabled() const {
  return InitOkEnabled(Length(0), Length(1), args().minimum);
}

void CDlgInitPin::OnOk() {
  SecretBytes newPin = Pin(0);
  const SecretBytes repeat = Pin(1);
  const PinCheckResult result =
      CheckInitPin(std::string_view(newPin.data(), newPin.size()),
                   std::string_view(repeat.data(), repeat.size()), args().minimum, args().maximum);
  switch (result.check) {
    case PinCheck::kAccepted: {
      std::vector<SecretBytes> pins;
      pins.push_back(std::move(newPin));
      Accept(std::move(pins));
      return;
    }
    case PinCheck::kBadNewLength:
      ShowCheckMessage(result.check);
      FocusField(0);
      return;
    default:
      ShowCheckMessage(result.check);
      FocusField(1);
      return;
  }
}

}  // namespace VKey
