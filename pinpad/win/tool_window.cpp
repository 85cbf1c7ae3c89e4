#include "tool_window.h"

#include <commctrl.h>

#include "info_dialogs.h"
#include "pinpad_texts.h"
#include "resource.h"
#include "tool_rules.h"
#include "wide_text.h"
#include "win_handles.h"

namespace VKey {
namespace {

namespace tk = koba::token;

constexpr wchar_t kDeviceChangeMessage[] = L"{059D1DCF-7032-4eb5-A58B-33E72F639DC2}_KOBA";

class CriticalSectionScope {
 public:
  explicit CriticalSectionScope(CRITICAL_SECTION* section) : section_(section) {
    EnterCriticalSection(section_);
  }
  ~CriticalSectionScope() { LeaveCriticalSection(section_); }
  CriticalSectionScope(const CriticalSectionScope&) = delete;
  CriticalSectionScope& operator=(const CriticalSectionScope&) = delete;

 private:
  CRITICAL_SECTION* section_;
};

std::wstring ReadVersion() {
  HKEY raw = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Korvanet\\507Q2_KOBA", 0, KEY_QUERY_VALUE,
                    &raw) != ERROR_SUCCESS) {
    return {};
  }
  const RegKey key(raw);
  wchar_t value[128] = {};
  DWORD bytes = sizeof value - sizeof(wchar_t);
  DWORD type = 0;
  if (RegQueryValueExW(key.get(), L"version", nullptr, &type, reinterpret_cast<BYTE*>(value),
                       &bytes) != ERROR_SUCCESS ||
      type != REG_SZ) {
    return {};
  }
  return value;
}

}  // namespace

CToolsAbout::CToolsAbout() : PadDialog(IDD_TOOLS_ABOUT) {}

BOOL CToolsAbout::OnInit() {
  ApplyTexts();
  return FALSE;
}

void CToolsAbout::ApplyTexts() const {
  SetItemTextId(IDC_ABOUT_TITLE, "STR_ID_USER_TOOL_DESC");
  SetDlgItemTextW(hwnd(), IDC_ABOUT_VERSION,
                  (Text("STR_ID_A_VERSION") + L" " + ReadVersion()).c_str());
  SetItemTextId(IDC_ABOUT_CORP, "STR_ID_A_CORP");
  SetItemTextId(IDC_ABOUT_COPYRIGHT, "STR_ID_A_COPYRITHT");
}

CDlgVexloTools::CDlgVexloTools() : PadDialog(IDD_VEXLOTOOLS), pellor_(*this), certificate_(*this) {
  InitializeCriticalSection(&lock_);
}

CDlgVexloTools::~CDlgVexloTools() {
  DeleteCriticalSection(&lock_);
}

BOOL CDlgVexloTools::OnInit() {
  deviceMessage_ = RegisterWindowMessageW(kDeviceChangeMessage);
  PinpadTexts::Get().Param(0, 0);
  Enumerate();
  if (token_.bound()) {
    token_.manTokenParam(0, tk::kParamToolStart, nullptr);
  }
  FillLanguageBox();

  const HWND tab = Item(IDC_TOOLS_TAB);
  for (int i = 0; i < 3; ++i) {
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<wchar_t*>(L"");
    TabCtrl_InsertItem(tab, i, &item);
  }
  RECT area{};
  GetClientRect(tab, &area);
  TabCtrl_AdjustRect(tab, FALSE, &area);
  GetClientRect(tab, &area);
  area.left += 4;
  area.right -= 4;
  area.bottom -= 4;
  area.top += 22;
  PadDialog* pages[] = {&pellor_, &certificate_, &about_};
  for (PadDialog* page : pages) {
    if (page->CreateChild(tab) != nullptr) {
      SetWindowPos(page->hwnd(), HWND_TOP, area.left, area.top, area.right - area.left,
                   area.bottom - area.top, SWP_NOACTIVATE);
    }
  }
  ApplyTexts();
  ShowPage(0);
  FillDeviceBox();
  CenterOnOwner();
  SetForegroundWindow(hwnd());
  OfferHidSwitch();
  return TRUE;
}

void CDlgVexloTools::Enumerate() {
  const CriticalSectionScope scope(&lock_);
  EnumerateDevices(token_, &devices_);
}

ToolDevice* CDlgVexloTools::CurrentDevice() {
  return current_ >= 0 && static_cast<size_t>(current_) < devices_.size() ? &devices_[current_]
                                                                          : nullptr;
}

void CDlgVexloTools::FillDeviceBox() {
  const HWND box = Item(IDC_TOOLS_DEVICE);
  std::wstring previous;
  const int selected = static_cast<int>(SendMessageW(box, CB_GETCURSEL, 0, 0));
  if (selected >= 0) {
    const int length = static_cast<int>(SendMessageW(box, CB_GETLBTEXTLEN, selected, 0));
    previous.assign(length > 0 ? length : 0, L'\0');
    SendMessageW(box, CB_GETLBTEXT, selected, reinterpret_cast<LPARAM>(previous.data()));
  }
  SendMessageW(box, CB_RESETCONTENT, 0, 0);
  std::vector<std::u16string> entries;
  for (const ToolDevice& device : devices_) {
    entries.push_back(
        DeviceEntryText(Utf16(DisplayText(device.serial)), Utf16(DisplayText(device.label))));
    SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(entries.back()).c_str()));
  }
  const int choose = EntryToSelect(entries, Utf16(previous));
  SendMessageW(box, CB_SETCURSEL, choose, 0);
  current_ = -1;
  if (choose >= 0) {
    const std::u16string serial = SerialOfEntry(entries[choose]);
    for (size_t i = 0; i < devices_.size(); ++i) {
      if (Utf16(DisplayText(devices_[i].serial)) == serial) {
        current_ = static_cast<int>(i);
      }
    }
  }
  pellor_.ShowDevice(CurrentDevice());
  certificate_.ShowDevice(CurrentDevice());
}

void CDlgVexloTools::Refresh() {
  Enumerate();
  FillDeviceBox();
}

void CDlgVexloTools::FillLanguageBox() {
  uint32_t machine = 0;
  languages_ = PinpadTexts::Get().ToolLanguages(&machine);
  const HWND box = Item(IDC_TOOLS_LANGUAGE);
  SendMessageW(box, CB_RESETCONTENT, 0, 0);
  int selected = -1;
  for (size_t i = 0; i < languages_.size(); ++i) {
    SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(languages_[i].name).c_str()));
    if (languages_[i].langId == machine) {
      selected = static_cast<int>(i);
    }
  }
  if (selected >= 0) {
    SendMessageW(box, CB_SETCURSEL, selected, 0);
    PinpadTexts::Get().Param(machine, 1);
  }
}

void CDlgVexloTools::ApplyTexts() {
  ApplySection("IDD_VEXLOTOOLS_DIALOG");
  const HWND tab = Item(IDC_TOOLS_TAB);
  const char* tabs[] = {"STR_ID_PELLOR", "STR_ID_CERTIFICATE", "STR_ID_ABOUT"};
  for (int i = 0; i < 3; ++i) {
    std::wstring text = Text(tabs[i]);
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = text.data();
    TabCtrl_SetItem(tab, i, &item);
  }
  pellor_.ApplyTexts();
  certificate_.ApplyTexts();
  about_.ApplyTexts();
}

void CDlgVexloTools::ShowPage(int index) const {
  const PadDialog* pages[] = {&pellor_, &certificate_, &about_};
  for (int i = 0; i < 3; ++i) {
    ShowWindow(pages[i]->hwnd(), i == index ? SW_SHOW : SW_HIDE);
  }
}

std::wstring CDlgVexloTools::Title() const {
  wchar_t title[261] = {};
  GetWindowTextW(hwnd(), title, 261);
  return title;
}

INT_PTR CDlgVexloTools::Message(const std::wstring& text, bool withCancel) const {
  CMsgBox box(MsgBoxText::kReady, Title(), text, withCancel);
  return box.RunModal(hwnd());
}

void CDlgVexloTools::ResultMessage(const char* id, bool ok) const {
  Message(Text(id) + L" " + Text(ok ? "STR_ID_SUCCESS" : "STR_ID_FAIL"));
}

void CDlgVexloTools::OfferHidSwitch() {
  std::vector<uint32_t> offered;
  {
    const CriticalSectionScope scope(&lock_);
    for (const ToolDevice& device : devices_) {
      if (OffersHidSwitch(device.identifier, device.usbMode)) {
        offered.push_back(device.slot);
      }
    }
  }
  for (const uint32_t slot : offered) {
    if (Message(Text("STR_ID_BOT_HID_SWITCH"), true) == 1 && token_.bound()) {
      uint8_t mode[4] = {0x80, 0, 0, 0};
      token_.manTokenParam(slot | tk::kTokenHandleFlag, tk::kParamUsbModeWrite, mode);
    }
  }
}

bool CDlgVexloTools::OnCommand(WORD id, WORD code, HWND) {
  if (id == IDC_TOOLS_DEVICE && code == CBN_SELCHANGE) {
    FillDeviceBox();  // keeps the entry just chosen and makes its key the current one
    return true;
  }
  if (id == IDC_TOOLS_LANGUAGE && code == CBN_SELCHANGE) {
    const int selected = static_cast<int>(SendMessageW(Item(id), CB_GETCURSEL, 0, 0));
    if (selected >= 0 && static_cast<size_t>(selected) < languages_.size()) {
      PinpadTexts::Get().SelectToolLanguage(languages_[selected].langId);
      ApplyTexts();
      FillDeviceBox();
    }
    return true;
  }
  return id == IDOK;  // Enter does not close the tool
}

bool CDlgVexloTools::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) {
  if (message == deviceMessage_ && deviceMessage_ != 0) {
    if (lParam == kDeviceChangeCode) {
      Enumerate();
      if (token_.bound()) {
        token_.manTokenParam(0, tk::kParamToolStart, nullptr);
      }
      FillDeviceBox();
      if (wParam == kDeviceArrived) {
        OfferHidSwitch();
      }
    }
    *result = 0;
    return true;
  }
  if (message == WM_ACTIVATE && wParam == kBringToFront) {
    if (IsIconic(hwnd())) {
      ShowWindow(hwnd(), SW_RESTORE);
    }
    SetForegroundWindow(hwnd());
    BringWindowToTop(hwnd());
    *result = 0;
    return true;
  }
  if (message == WM_NOTIFY) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header->idFrom == IDC_TOOLS_TAB && header->code == TCN_SELCHANGE) {
      ShowPage(TabCtrl_GetCurSel(header->hwndFrom));
      *result = 0;
      return true;
    }
  }
  return false;
}

void RunManagementTool(HWND owner) {
  if (IsDebuggerPresent()) {
    return;
  }
  CDlgVexloTools tool;
  tool.RunModal(owner);
}

}  // namespace VKey
