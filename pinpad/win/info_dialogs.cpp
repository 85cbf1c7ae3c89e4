#include "info_dialogs.h"

#include <utility>

#include "resource.h"

namespace VKey {
namespace {

// A text id given as UTF-16: ids are ASCII, anything else names no text.
std::string IdFromWide(const std::wstring& id) {
  std::string narrow;
  narrow.reserve(id.size());
  for (wchar_t c : id) {
    if (c == 0 || c > 0x7F) {
      return {};
    }
    narrow.push_back(static_cast<char>(c));
  }
  return narrow;
}

}  // namespace

CDlgDisplayInfo::CDlgDisplayInfo(std::wstring title, std::wstring message)
    : PadDialog(IDD_DIALOG_INFO), title_(std::move(title)), message_(std::move(message)) {}

BOOL CDlgDisplayInfo::OnInit() {
  SetWindowTextW(hwnd(), title_.c_str());
  SetDlgItemTextW(hwnd(), IDC_INFO_TEXT, message_.c_str());
  SetItemTextId(IDOK, "OK");
  CenterOnOwner();
  return TRUE;
}

CMsgBox::CMsgBox(MsgBoxText kind, std::wstring title, std::wstring message, bool showCancel)
    : PadDialog(IDD_DIALOG_MSGBOX),
      kind_(kind),
      title_(std::move(title)),
      message_(std::move(message)),
      showCancel_(showCancel) {}

BOOL CMsgBox::OnInit() {
  if (kind_ == MsgBoxText::kTextIds) {
    SetWindowTextW(hwnd(), Text(IdFromWide(title_)).c_str());
    SetDlgItemTextW(hwnd(), IDC_MSGBOX_TEXT, Text(IdFromWide(message_)).c_str());
  } else {
    SetWindowTextW(hwnd(), title_.c_str());
    SetDlgItemTextW(hwnd(), IDC_MSGBOX_TEXT, message_.c_str());
  }
  SetItemTextId(IDOK, "OK");
  if (showCancel_) {
    SetItemTextId(IDCANCEL, "Cancel");
  } else {
    ShowWindow(Item(IDCANCEL), SW_HIDE);
    RECT client{};
    GetClientRect(hwnd(), &client);
    RECT ok{};
    GetWindowRect(Item(IDOK), &ok);
    MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&ok), 2);
    const int width = ok.right - ok.left;
    SetWindowPos(Item(IDOK), nullptr, (client.right - width) / 2, ok.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  CenterOnOwner();
  return TRUE;
}

}  // namespace VKey
