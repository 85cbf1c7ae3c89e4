#include "device_dialogs.h"

#include <commctrl.h>
#include <richedit.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "info_dialogs.h"
#include "resource.h"
#include "safe_edit.h"
#include "wide_text.h"

namespace VKey {
namespace {

// The dialog's font at another point size on the screen's vertical resolution.
Font DialogFontAt(HWND dialog, int points, int weight = FW_DONTCARE) {
  LOGFONTW font{};
  const HFONT current = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
  if (current == nullptr || GetObjectW(current, sizeof font, &font) == 0) {
    GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
  }
  const WindowDc screen(nullptr);
  font.lfHeight = -MulDiv(points, GetDeviceCaps(screen.get(), LOGPIXELSY), 72);
  font.lfWidth = 0;
  if (weight != FW_DONTCARE) {
    font.lfWeight = weight;
  }
  return Font(CreateFontIndirectW(&font));
}

RECT ChildRect(HWND dialog, HWND child) {
  RECT rect{};
  GetWindowRect(child, &rect);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

// Resizes a window so that its client area has the given size.
void SetClientSize(HWND hwnd, int width, int height) {
  RECT outer{};
  RECT client{};
  GetWindowRect(hwnd, &outer);
  GetClientRect(hwnd, &client);
  SetWindowPos(hwnd, nullptr, 0, 0, width + (outer.right - outer.left) - client.right,
               height + (outer.bottom - outer.top) - client.bottom,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

struct ConfirmTexts {
  uint32_t operation;
  const char* title;  // also label 3043, unless promptEmpty
  const char* prompt;
  int promptPoints;
  bool secondLabelEmpty;
};

constexpr ConfirmTexts kConfirmTexts[] = {
    {4, "PAD_DEV_LOGIN", "PAD_DEV_OK_CANCEL_VERIFY", 12, false},
    {5, "PAD_DEV_CHANGE_OLD", "PAD_DEV_OK_CANCEL", 12, false},
    {10, "PAD_DEV_DEL_COS_PRIKEY", "PAD_DEV_DELPRIKEY_OK_CANCEL", 16, true},
    {11, "PAD_USE_TYPE_INITDEV", "PAD_DEV_OK_CANCEL", 12, false},
};

}  // namespace

CDlgVKeyAvi::CDlgVKeyAvi(int originX, int originY)
    : PadDialog(IDD_DIALOG_VKEY_AVI), originX_(originX), originY_(originY) {}

bool CDlgVKeyAvi::Create(HWND parent) {
  return CreateChild(parent) != nullptr;
}

BOOL CDlgVKeyAvi::OnInit() {
  struct Picture {
    const wchar_t* file;
    int dx;
    int dy;
  };
  static constexpr Picture kPictures[] = {
      {L"res\\Q2I_KOBA.bmp", 0, 5}, {L"res\\Q2K_KOBA.bmp", 132, 5}, {L"res\\Q2J_KOBA.bmp", 220, 3}};
  int right = 0;
  int bottom = 0;
  for (const Picture& picture : kPictures) {
    const std::wstring path = InstallFilePath(picture.file);
    Bitmap bitmap(path.empty() ? nullptr
                               : static_cast<HBITMAP>(LoadImageW(
                                     nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE)));
    BITMAP info{};
    if (bitmap && GetObjectW(bitmap.get(), sizeof info, &info) == 0) {
      info = BITMAP{};
    }
    const int x = originX_ + picture.dx;
    const int y = originY_ + picture.dy;
    const HWND control =
        CreateWindowExW(0, L"STATIC", nullptr, WS_CHILD | WS_VISIBLE | SS_BITMAP, x, y,
                        info.bmWidth, info.bmHeight, hwnd(), nullptr, nullptr, nullptr);
    if (control != nullptr && bitmap) {
      SendMessageW(control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap.get()));
    }
    right = std::max(right, x + static_cast<int>(info.bmWidth));
    bottom = std::max(bottom, y + static_cast<int>(info.bmHeight));
    bitmaps_.push_back(std::move(bitmap));
  }
  SetWindowPos(hwnd(), nullptr, 0, 0, right, bottom, SWP_NOZORDER | SWP_NOACTIVATE);
  return FALSE;
}

void DevicePollDialog::StartPolling() {
  SetTimer(hwnd(), kDevicePollTimer, poll_.periodMs(), nullptr);
}

void DevicePollDialog::Finish(uint32_t status) {
  KillTimer(hwnd(), kDevicePollTimer);
  status_ = status;
  BeforeEnd();
  End(1);
}

bool DevicePollDialog::OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR* result) {
  if (message != WM_TIMER || wParam != kDevicePollTimer) {
    return false;
  }
  *result = 0;
  if (!poll_.Tick()) {
    return true;
  }
  std::array<uint8_t, kPadCommandBytes> command{1, 0, 0, 0};
  const uint32_t status = AskDevice(command.data());
  poll_.Answered();
  if (status != PAD_DEVICE_PENDING) {
    Finish(status);
  }
  return true;
}

CDlgCreatePadFun::CDlgCreatePadFun(void* context, PadDeviceConfirmCallback callback,
                                   uint32_t periodMs, uint32_t operation)
    : DevicePollDialog(IDD_DIALOG_DEVICE_CONFIRM, periodMs),
      context_(context),
      callback_(callback),
      operation_(operation),
      pictures_(54, 20) {}

BOOL CDlgCreatePadFun::OnInit() {
  StartPolling();
  if (pictures_.Create(hwnd())) {
    SetWindowPos(pictures_.hwnd(), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
    ShowWindow(pictures_.hwnd(), SW_SHOWNA);
  }
  const ConfirmTexts* texts = nullptr;
  for (const ConfirmTexts& row : kConfirmTexts) {
    if (row.operation == operation_) {
      texts = &row;
    }
  }
  titleFont_ = DialogFontAt(hwnd(), 16);
  promptFont_ = DialogFontAt(hwnd(), texts != nullptr ? texts->promptPoints : 12);
  SendDlgItemMessageW(hwnd(), IDC_CONFIRM_TITLE, WM_SETFONT,
                      reinterpret_cast<WPARAM>(titleFont_.get()), FALSE);
  SendDlgItemMessageW(hwnd(), IDC_CONFIRM_PROMPT, WM_SETFONT,
                      reinterpret_cast<WPARAM>(promptFont_.get()), FALSE);
  if (texts != nullptr) {
    SetTitleId(texts->title);
    SetItemTextId(IDC_CONFIRM_PROMPT, texts->prompt);
    if (!texts->secondLabelEmpty) {
      SetItemTextId(IDC_CONFIRM_TITLE, texts->title);
    }
  }
  CenterOnOwner();
  return TRUE;
}

bool CDlgCreatePadFun::OnCommand(WORD id, WORD, HWND) {
  if (id == IDCANCEL) {
    KillTimer(hwnd(), kDevicePollTimer);
    End(2);
  }
  // Enter has no button to press here.
  return id == IDOK || id == IDCANCEL;
}

uint32_t CDlgCreatePadFun::AskDevice(uint8_t* command) {
  return callback_(context_, command, kPadCommandBytes, operation_);
}

CDlgKOBADisplay::CDlgKOBADisplay(void* context, PadDeviceDisplayCallback callback,
                                 PinpadParam* param)
    : DevicePollDialog(IDD_DIALOG_SIGN_DISPLAY, param->pollPeriodMs),
      context_(context),
      callback_(callback),
      param_(param),
      pictures_(20, 15) {}

BOOL CDlgKOBADisplay::OnInit() {
  StartPolling();
  SetTitleId("PAD_DISPLAY_SIGN_CAPTION");
  if (pictures_.Create(hwnd())) {
    ShowWindow(pictures_.hwnd(), SW_SHOWNA);
  }
  // The height of one CJK character in the window's own device context, before any font.
  int cjkHeight = 0;
  {
    const WindowDc dc(hwnd());
    SIZE size{};
    GetTextExtentPoint32W(dc.get(), L"\x4E2D", 1, &size);
    cjkHeight = size.cy;
  }
  CSafeEdit::Attach(Item(IDC_DISPLAY_PROMPT));
  CSafeRichEdit::Attach(Item(IDC_DISPLAY_RICH));
  const int promptBottom = PlacePrompt(cjkHeight);
  FillRows(cjkHeight, promptBottom);
  CenterOnOwner();
  // The focus rests on the pictures, so that the prompt is never shown selected.
  if (pictures_.hwnd() != nullptr) {
    SetFocus(pictures_.hwnd());
  }
  return FALSE;
}

int CDlgKOBADisplay::PlacePrompt(int cjkHeight) {
  const HWND edit = Item(IDC_DISPLAY_PROMPT);
  promptFont_ = DialogFontAt(hwnd(), 10);
  SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(promptFont_.get()), FALSE);
  RECT client{};
  GetClientRect(hwnd(), &client);
  constexpr int kTop = 100;
  constexpr int kInset = 20;
  const int width = client.right - 2 * kInset;
  SetWindowPos(edit, nullptr, kInset, kTop, width, cjkHeight + 2, SWP_NOZORDER | SWP_NOACTIVATE);
  const wchar_t* prompt =
      param_->displayRequest != nullptr ? param_->displayRequest->prompt : nullptr;
  CSafeEdit::SetText(edit, prompt != nullptr ? prompt : L"");
  CSafeEdit::CallOriginal(edit, EM_SETSEL, 0, 0);
  const int lines = std::max<int>(1, static_cast<int>(SendMessageW(edit, EM_GETLINECOUNT, 0, 0)));
  const int height = lines * cjkHeight + 2;
  SetWindowPos(edit, nullptr, kInset, kTop, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  return kTop + height;
}

void CDlgKOBADisplay::FillRows(int cjkHeight, int promptBottom) {
  normalFont_ = DialogFontAt(hwnd(), 12);
  boldFont_ = DialogFontAt(hwnd(), 12, FW_BOLD);
  const WindowDc normalDc(hwnd());
  const WindowDc boldDc(hwnd());
  const SelectScope normalSelect(normalDc.get(), normalFont_.get());
  const SelectScope boldSelect(boldDc.get(), boldFont_.get());
  const MeasureText measure = [&](std::u16string_view text, bool bold) {
    SIZE size{};
    const std::wstring wide = Wide(text);
    GetTextExtentPoint32W(bold ? boldDc.get() : normalDc.get(), wide.c_str(),
                          static_cast<int>(wide.size()), &size);
    return static_cast<int>(size.cx);
  };
  const PinpadDisplayRequest* request = param_->displayRequest;
  if (request != nullptr && request->document != nullptr) {
    const std::string_view document(request->document, request->documentLength);
    const std::string_view highlights =
        request->highlights != nullptr
            ? std::string_view(request->highlights, request->highlightLength)
            : std::string_view();
    ReadDisplayDocument(request->utf8 != 0, document, highlights, &measure, &rows_);
  }

  const HWND list = Item(IDC_DISPLAY_LIST);
  for (const HWND window : {list, ListView_GetHeader(list)}) {
    if (window == nullptr) {
      continue;
    }
    SetWindowLongPtrW(window, GWL_STYLE, GetWindowLongPtrW(window, GWL_STYLE) & ~WS_BORDER);
    SetWindowLongPtrW(window, GWL_EXSTYLE,
                      GetWindowLongPtrW(window, GWL_EXSTYLE) & ~WS_EX_CLIENTEDGE);
  }
  TEXTMETRICW bold{};
  GetTextMetricsW(boldDc.get(), &bold);
  // The row height follows the small image list's height.
  const HIMAGELIST images = ImageList_Create(1, bold.tmHeight, ILC_COLOR, 1, 0);
  ListView_SetImageList(list, images, LVSIL_SMALL);
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  ListView_SetBkColor(list, face);
  ListView_SetTextBkColor(list, face);
  ListView_SetTextColor(list, GetSysColor(COLOR_WINDOWTEXT));
  SendMessageW(list, WM_SETFONT, reinterpret_cast<WPARAM>(normalFont_.get()), FALSE);

  struct Column {
    int format;
    int width;
  };
  const Column columns[] = {{LVCFMT_LEFT, 0},
                            {LVCFMT_RIGHT, rows_.largestLabelWidth},
                            {LVCFMT_LEFT, rows_.largestValueWidth}};
  for (int i = 0; i < 3; ++i) {
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_SUBITEM;
    column.fmt = columns[i].format;
    column.cx = columns[i].width;
    column.iSubItem = i;
    ListView_InsertColumn(list, i, &column);
  }
  for (size_t i = 0; i < rows_.rows.size(); ++i) {
    LVITEMW item{};
    item.mask = LVIF_PARAM | LVIF_TEXT;
    item.iItem = static_cast<int>(i);
    item.pszText = const_cast<wchar_t*>(L"");
    item.lParam = static_cast<LPARAM>(i);
    const int index = ListView_InsertItem(list, &item);
    std::wstring label = Wide(rows_.rows[i].label);
    std::wstring value = Wide(rows_.rows[i].value);
    ListView_SetItemText(list, index, 1, label.data());
    ListView_SetItemText(list, index, 2, value.data());
  }

  const int f = cjkHeight + 2;
  const int shown = std::min<int>(static_cast<int>(rows_.rows.size()), kMaxVisibleRows);
  const RECT placed = ChildRect(hwnd(), list);
  const int top = promptBottom + f;
  const int height = f * (shown + 2);
  SetWindowPos(list, nullptr, placed.left, top, placed.right - placed.left, height,
               SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  SetClientSize(hwnd(), placed.right + f, top + height + f);
}

LRESULT CDlgKOBADisplay::DrawRow(NMLVCUSTOMDRAW* draw) const {
  switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
      return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT:
      return CDRF_NOTIFYSUBITEMDRAW;
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
      const size_t index = static_cast<size_t>(draw->nmcd.lItemlParam);
      if (draw->iSubItem == 0 || index >= rows_.rows.size()) {
        return CDRF_SKIPDEFAULT;
      }
      const DisplayRow& row = rows_.rows[index];
      // One line per row: a value's line breaks are drawn as spaces. The texts keep '&' doubled,
      // which the drawing turns back into one.
      std::wstring text = Wide(draw->iSubItem == 1 ? row.label : row.value);
      std::replace_if(
          text.begin(), text.end(), [](wchar_t c) { return c == L'\r' || c == L'\n'; }, L' ');
      RECT cell{};
      ListView_GetSubItemRect(draw->nmcd.hdr.hwndFrom, static_cast<int>(draw->nmcd.dwItemSpec),
                              draw->iSubItem, LVIR_BOUNDS, &cell);
      // The measured widths carry one CJK character of room: half of it on each side.
      const int pad = std::max(2, static_cast<int>(cell.bottom - cell.top) / 4);
      InflateRect(&cell, -pad, 0);
      const HDC dc = draw->nmcd.hdc;
      const SelectScope font(dc, row.highlighted ? boldFont_.get() : normalFont_.get());
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
      const UINT align = draw->iSubItem == 1 ? DT_RIGHT : DT_LEFT;
      DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &cell,
                align | DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
      return CDRF_SKIPDEFAULT;
    }
    default:
      return CDRF_DODEFAULT;
  }
}

bool CDlgKOBADisplay::OnCommand(WORD id, WORD code, HWND) {
  if (id == IDC_DISPLAY_RICH && code == EN_SETFOCUS) {
    CSafeEdit::CallOriginal(Item(IDC_DISPLAY_RICH), EM_SETSEL, static_cast<WPARAM>(-1), 0);
    return true;
  }
  if (id == IDOK) {
    return true;
  }
  if (id != IDCANCEL) {
    return false;
  }
  // The answer belongs to the key: the user is only told so, once.
  const std::wstring title = NoticeTitle();
  if (const HWND open = FindWindowW(nullptr, title.c_str()); open != nullptr) {
    SetForegroundWindow(open);
    return true;
  }
  CMsgBox notice(MsgBoxText::kReady, title, Text("PAD_DEV_OK_CANCEL"), false);
  notice.RunModal(hwnd());
  return true;
}

bool CDlgKOBADisplay::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) {
  if (message == WM_NOTIFY) {
    auto* header = reinterpret_cast<NMHDR*>(lParam);
    if (header->idFrom == IDC_DISPLAY_LIST && header->code == NM_CUSTOMDRAW) {
      *result = DrawRow(reinterpret_cast<NMLVCUSTOMDRAW*>(lParam));
      return true;
    }
    return false;
  }
  if (message == WM_ACTIVATE && LOWORD(wParam) != WA_INACTIVE && pictures_.hwnd() != nullptr) {
    SetFocus(pictures_.hwnd());
    *result = 0;
    return true;
  }
  return DevicePollDialog::OnMessage(message, wParam, lParam, result);
}

uint32_t CDlgKOBADisplay::AskDevice(uint8_t* command) {
  return callback_(context_, command, kPadCommandBytes, param_->displayArg1, param_->displayArg2,
                   param_->displayArg4, param_->displayArg3, param_->displayArg6,
                   param_->displayArg5, 0);
}

void CDlgKOBADisplay::BeforeEnd() {
  const std::wstring title = NoticeTitle();
  if (const HWND open = FindWindowW(nullptr, title.c_str()); open != nullptr) {
    SendMessageW(open, WM_COMMAND, IDOK, 0);
  }
}

std::wstring CDlgKOBADisplay::NoticeTitle() const {
  wchar_t title[256] = {};
  GetWindowTextW(hwnd(), title, 256);
  return std::wstring(title) + L"  ";
}

uint32_t RunDeviceDialog(void* context, void* callback, PinpadParam& param, uint32_t kind,
                         HWND owner) {
  if (kind == kCreateKindDeviceConfirm) {
    CDlgCreatePadFun dialog(context, reinterpret_cast<PadDeviceConfirmCallback>(callback),
                            param.pollPeriodMs, param.useType);
    const INT_PTR end = dialog.RunModal(owner);
    return end == 1 ? dialog.status() : end == 2 ? PINPAD_E_CANCELLED : PINPAD_E_FAILED;
  }
  if (kind == kCreateKindSignDisplay) {
    // The hidden rich edit of the template needs its class. Loaded once for the process: a
    // reference taken at every load of this library would never be given back.
    HMODULE richEdit = GetModuleHandleW(L"riched20.dll");
    if (richEdit == nullptr) {
      richEdit = LoadLibraryW(L"riched20.dll");
    }
    if (richEdit == nullptr) {
      return PINPAD_E_FAILED;
    }
    CDlgKOBADisplay dialog(context, reinterpret_cast<PadDeviceDisplayCallback>(callback), &param);
    return dialog.RunModal(owner) == 1 ? dialog.status() : PINPAD_E_FAILED;
  }
  return PINPAD_E_FAILED;
}

}  // namespace VKey
