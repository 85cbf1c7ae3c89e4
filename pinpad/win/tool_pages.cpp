// The management tool's key page and certificate page.
#include <windows.h>
// After windows.h, which they need.
#include <commctrl.h>
#include <cryptuiapi.h>
#include <wincrypt.h>

#include <array>
#include <cstdio>
#include <memory>

#include "cert_store.h"
#include "csp_api.h"
#include "indicator_logic.h"
#include "info_dialogs.h"
#include "key_dialogs.h"
#include "pin_dialogs.h"
#include "pinpad_api.h"
#include "pinpad_texts.h"
#include "resource.h"
#include "tool_rules.h"
#include "tool_window.h"
#include "wide_text.h"
#include "win_handles.h"

namespace VKey {
namespace {

namespace tk = koba::token;
namespace cs = koba::csp;

std::wstring Doubled(const std::wstring& text) {
  return Wide(DoubleAmpersands(Utf16(text)));
}

uint32_t Handle(uint32_t slot) {
  return slot | tk::kTokenHandleFlag;
}

uint32_t ReadU32(const std::vector<uint8_t>& record, size_t offset) {
  uint32_t value = 0;
  std::memcpy(&value, record.data() + offset, sizeof value);
  return value;
}

std::wstring Formatted(const wchar_t* format, long long value) {
  wchar_t text[64];
  std::swprintf(text, 64, format, value);
  return text;
}

std::wstring CertTime(const BYTE* der, DWORD length, int selector) {
  FILETIME utc{};
  if (koba::certstore::CertificateFieldW(der, length, selector, reinterpret_cast<wchar_t*>(&utc),
                                         sizeof utc / sizeof(wchar_t)) != 0) {
    return {};
  }
  FILETIME local{};
  SYSTEMTIME t{};
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &t)) {
    return {};
  }
  return Wide(FormatCertTime({t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond}));
}

std::wstring CertName(const BYTE* der, DWORD length, int selector) {
  wchar_t name[257] = {};
  return koba::certstore::CertificateFieldW(der, length, selector, name, 257) == 0 ? name : L"";
}

// The PIN loop of the key page: the dialog, the token call, the tries-left notices.
template <typename Dialog, typename Call>
uint32_t RunPinLoop(HWND owner, const DeviceValue& deviceValue, const char* titleId, Call call) {
  PinDialogArgs args;
  args.deviceValue = deviceValue;
  args.minimum = 6;
  args.maximum = 30;
  args.flags = 1;
  while (true) {
    Dialog dialog(args);
    const INT_PTR end = dialog.RunModal(owner);
    if (end != 1) {
      return kPinpadUserCancel;
    }
    const uint32_t status = call(dialog.pins());
    const PinRetryStep step = NextPinStep(status);
    if (step.messageId != nullptr) {
      const TextTable& texts = PinpadTexts::Get().table();
      CDlgDisplayInfo notice(Wide(texts.LoadText(titleId)),
                             Wide(texts.FormatText(step.messageId, {step.triesLeft})));
      notice.RunModal(owner);
    }
    if (!step.retry) {
      return status;
    }
  }
}

}  // namespace

CToolsPellor::CToolsPellor(CDlgVexloTools& tool) : PadDialog(IDD_TOOLS_PELLOR), tool_(tool) {}

BOOL CToolsPellor::OnInit() {
  const std::wstring path = InstallFilePath(L"res\\ToolKOBALogo.bmp");
  logo_.reset(path.empty() ? nullptr
                           : static_cast<HBITMAP>(LoadImageW(nullptr, path.c_str(), IMAGE_BITMAP, 0,
                                                             0, LR_LOADFROMFILE)));
  if (logo_) {
    SendDlgItemMessageW(hwnd(), IDC_PELLOR_LOGO, STM_SETIMAGE, IMAGE_BITMAP,
                        reinterpret_cast<LPARAM>(logo_.get()));
  }
  return FALSE;
}

void CToolsPellor::ApplyTexts() const {
  ApplySection("IDD_DIALOG_PELLOR");
}

void CToolsPellor::ShowDevice(const ToolDevice* device) {
  for (const int id : {IDC_PELLOR_VERIFY, IDC_PELLOR_CHANGE, IDC_PELLOR_RENAME, IDC_PELLOR_INFO}) {
    EnableWindow(Item(id), device != nullptr);
  }
  std::array<std::wstring, 4> values;
  if (device != nullptr) {
    values[0] = Doubled(DisplayText(device->label));
    values[1] = DisplayText(device->serial);
    std::vector<uint8_t> info;
    if (ReadDeviceInfo(tool_.token(), device->slot, tk::devinfo::kFlagSizes, &info)) {
      values[2] =
          Formatted(L"%lld bytes", static_cast<long long>(ReadU32(info, tk::devinfo::kTotalSize)) +
                                       ReadU32(info, tk::devinfo::kFreeSize));
      values[3] = Formatted(L"%lld", ReadU32(info, tk::devinfo::kContainerCount));
    }
  }
  const int ids[] = {IDC_PELLOR_VALUE1, IDC_PELLOR_VALUE2, IDC_PELLOR_VALUE3, IDC_PELLOR_VALUE4};
  for (int i = 0; i < 4; ++i) {
    SetDlgItemTextW(hwnd(), ids[i], values[i].c_str());
  }
}

bool CToolsPellor::OnCommand(WORD id, WORD code, HWND) {
  if (code != BN_CLICKED) {
    return false;
  }
  switch (id) {
    case IDC_PELLOR_VERIFY:
      VerifyPin();
      return true;
    case IDC_PELLOR_CHANGE:
      ChangePin();
      return true;
    case IDC_PELLOR_RENAME:
      Rename();
      return true;
    case IDC_PELLOR_INFO:
      KeyInformation();
      return true;
    default:
      return id == IDOK || id == IDCANCEL;
  }
}

void CToolsPellor::VerifyPin() {
  const ToolDevice* device = tool_.CurrentDevice();
  const ToolToken& token = tool_.token();
  if (device == nullptr || !token.bound()) {
    return;
  }
  std::vector<uint8_t> info;
  if (!ReadDeviceInfo(token, device->slot, 0, &info)) {
    tool_.ResultMessage("STR_ID_VERIFYPIN", false);
    return;
  }
  if (info[tk::devinfo::kTriesLeft] == 0) {
    CDlgDisplayInfo blocked(Text("PAD_USE_TYPE_CHECKPIN"), Text("PinBlocked"));
    blocked.RunModal(tool_.hwnd());
    return;
  }
  DeviceValue value{};
  const uint32_t handle = Handle(device->slot);
  if (token.manTokenParam(handle, tk::kParamDeviceValue, value.data()) != 0) {
    tool_.ResultMessage("STR_ID_VERIFYPIN", false);
    return;
  }
  const uint32_t status = RunPinLoop<CDlgVerifyPin>(
      tool_.hwnd(), value, "PAD_USE_TYPE_CHECKPIN", [&](const std::vector<SecretBytes>& pins) {
        return token.login(handle, tk::kUserTypeUser, pins[0].data(),
                           static_cast<uint32_t>(pins[0].size()));
      });
  if (status != kPinpadUserCancel) {
    tool_.ResultMessage("STR_ID_VERIFYPIN", status == 0);
  }
}

void CToolsPellor::ChangePin() {
  const ToolDevice* device = tool_.CurrentDevice();
  const ToolToken& token = tool_.token();
  if (device == nullptr || !token.bound()) {
    return;
  }
  DeviceValue value{};
  const uint32_t handle = Handle(device->slot);
  if (token.manTokenParam(handle, tk::kParamDeviceValue, value.data()) != 0) {
    tool_.ResultMessage("STR_ID_CHANGEPIN", false);
    return;
  }
  const uint32_t status = RunPinLoop<CDlgChangePin>(
      tool_.hwnd(), value, "PAD_USE_TYPE_CHANGEPIN", [&](const std::vector<SecretBytes>& pins) {
        return token.changePin(handle, tk::kUserTypeUser, pins[0].data(),
                               static_cast<uint32_t>(pins[0].size()), pins[1].data(),
                               static_cast<uint32_t>(pins[1].size()));
      });
  if (status != kPinpadUserCancel) {
    tool_.ResultMessage("STR_ID_CHANGEPIN", status == 0);
  }
}

void CToolsPellor::Rename() {
  const ToolDevice* device = tool_.CurrentDevice();
  if (device == nullptr || !tool_.token().bound()) {
    return;
  }
  char label[CDlgChangeLabel::kLabelBufferSize] = {};
  device->label.copy(label, CDlgChangeLabel::kLabelBufferSize - 1);
  CDlgChangeLabel dialog(label);
  if (dialog.RunModal(tool_.hwnd()) != 1) {
    return;
  }
  const uint32_t status = tool_.token().manTokenParam(device->slot, tk::kParamLabel, label);
  tool_.ResultMessage("STR_ID_CHANGELABEL", status == 0);
  tool_.Refresh();
}

void CToolsPellor::KeyInformation() {
  const ToolDevice* device = tool_.CurrentDevice();
  std::vector<uint8_t> info;
  if (device == nullptr ||
      !ReadDeviceInfo(tool_.token(), device->slot, tk::devinfo::kFlagSizes, &info)) {
    tool_.Message(Text("STR_ID_FAIL"));
    return;
  }
  // The information dialog doubles the ampersands itself.
  CDlgUInfo dialog(
      {DisplayText(device->label), DisplayText(device->serial),
       Formatted(L"%lld bytes", static_cast<long long>(ReadU32(info, tk::devinfo::kTotalSize)) +
                                    ReadU32(info, tk::devinfo::kFreeSize)),
       Formatted(L"%lld", ReadU32(info, tk::devinfo::kContainerCount))});
  dialog.RunModal(tool_.hwnd());
}

CToolsCertificate::CToolsCertificate(CDlgVexloTools& tool)
    : PadDialog(IDD_TOOLS_CERTIFICATE), tool_(tool) {}

BOOL CToolsCertificate::OnInit() {
  const HWND list = Item(IDC_CERT_LIST);
  ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
  RECT client{};
  GetClientRect(list, &client);
  const int widths[] = {client.right * 28 / 100, client.right * 28 / 100, client.right * 22 / 100,
                        client.right * 22 / 100};
  for (int i = 0; i < 4; ++i) {
    LVCOLUMNW column{};
    column.mask = LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.cx = widths[i];
    column.pszText = const_cast<wchar_t*>(L"");
    column.iSubItem = i;
    ListView_InsertColumn(list, i, &column);
  }
  return FALSE;
}

void CToolsCertificate::ApplyTexts() const {
  ApplySection("IDD_DIALOG_CERTIFICATE");
  const char* ids[] = {"STR_ID_CLIST_OWNER", "STR_ID_CLIST_ISSUE", "STR_ID_CLIST_STARTTIME",
                       "STR_ID_CLIST_ENDTIME"};
  for (int i = 0; i < 4; ++i) {
    std::wstring text = Text(ids[i]);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT;
    column.pszText = text.data();
    ListView_SetColumn(Item(IDC_CERT_LIST), i, &column);
  }
}

void CToolsCertificate::ShowDevice(const ToolDevice* device) {
  const HWND list = Item(IDC_CERT_LIST);
  ListView_DeleteAllItems(list);
  rowContainers_.clear();
  for (const int id :
       {IDC_CERT_VIEW, IDC_CERT_REGISTER, IDC_CERT_UNREGISTER, IDC_CERT_DELETE, IDC_CERT_CLEAR}) {
    EnableWindow(Item(id), device != nullptr);
  }
  if (device != nullptr) {
    for (size_t i = 0; i < device->containers.size(); ++i) {
      const std::vector<uint8_t>& der = device->containers[i].certificate;
      if (der.empty()) {
        continue;
      }
      const DWORD length = static_cast<DWORD>(der.size());
      std::wstring texts[] = {CertName(der.data(), length, koba::certstore::kSubjectName),
                              CertName(der.data(), length, koba::certstore::kIssuerName),
                              CertTime(der.data(), length, koba::certstore::kNotBefore),
                              CertTime(der.data(), length, koba::certstore::kNotAfter)};
      LVITEMW item{};
      item.mask = LVIF_TEXT;
      item.iItem = static_cast<int>(rowContainers_.size());
      item.pszText = texts[0].data();
      const int row = ListView_InsertItem(list, &item);
      for (int column = 1; column < 4; ++column) {
        ListView_SetItemText(list, row, column, texts[column].data());
      }
      rowContainers_.push_back(i);
    }
  }
  SelectRow(rowContainers_.empty() ? -1 : 0);
}

void CToolsCertificate::SelectRow(int row) {
  selectedRow_ = row;
  const HWND list = Item(IDC_CERT_LIST);
  ListView_SetItemState(list, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
  if (row >= 0) {
    ListView_SetItemState(list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  }
}

const ToolContainer* CToolsCertificate::SelectedContainer() const {
  ToolDevice* device = tool_.CurrentDevice();
  if (device == nullptr || selectedRow_ < 0 ||
      static_cast<size_t>(selectedRow_) >= rowContainers_.size() ||
      rowContainers_[selectedRow_] >= device->containers.size()) {
    return nullptr;
  }
  return &device->containers[rowContainers_[selectedRow_]];
}

bool CToolsCertificate::OnMessage(UINT message, WPARAM, LPARAM lParam, INT_PTR* result) {
  if (message != WM_NOTIFY) {
    return false;
  }
  const auto* header = reinterpret_cast<const NMHDR*>(lParam);
  if (header->idFrom != IDC_CERT_LIST || header->code != LVN_ITEMCHANGED) {
    return false;
  }
  const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
  if ((change->uNewState & LVIS_SELECTED) != 0) {
    selectedRow_ = change->iItem;
  }
  *result = 0;
  return true;
}

bool CToolsCertificate::OnCommand(WORD id, WORD code, HWND) {
  if (code != BN_CLICKED) {
    return false;
  }
  switch (id) {
    case IDC_CERT_VIEW:
      View();
      return true;
    case IDC_CERT_REGISTER:
    case IDC_CERT_UNREGISTER:
      Register(id == IDC_CERT_REGISTER);
      return true;
    case IDC_CERT_DELETE:
      Delete();
      return true;
    case IDC_CERT_CLEAR:
      ClearKey();
      return true;
    default:
      return id == IDOK || id == IDCANCEL;
  }
}

void CToolsCertificate::View() const {
  const ToolContainer* container = SelectedContainer();
  if (container == nullptr) {
    return;
  }
  const Module cryptui(LoadLibraryW(L"cryptui.dll"));
  using ViewFn = BOOL(WINAPI*)(PCCRYPTUI_VIEWCERTIFICATE_STRUCTA, BOOL*);
  const auto view = cryptui ? reinterpret_cast<ViewFn>(reinterpret_cast<void*>(
                                  GetProcAddress(cryptui.get(), "CryptUIDlgViewCertificateA")))
                            : nullptr;
  const PCCERT_CONTEXT cert =
      CertCreateCertificateContext(koba::certstore::kEncoding, container->certificate.data(),
                                   static_cast<DWORD>(container->certificate.size()));
  if (view == nullptr || cert == nullptr) {
    if (cert != nullptr) {
      CertFreeCertificateContext(cert);
    }
    tool_.Message(Text("STR_ID_FAIL"));
    return;
  }
  CRYPTUI_VIEWCERTIFICATE_STRUCTA info{};
  info.dwSize = sizeof info;
  info.hwndParent = tool_.hwnd();
  info.pCertContext = cert;
  BOOL changed = FALSE;
  view(&info, &changed);
  CertFreeCertificateContext(cert);
}

void CToolsCertificate::Register(bool add) const {
  const ToolContainer* container = SelectedContainer();
  const ToolDevice* device = tool_.CurrentDevice();
  if (container == nullptr || device == nullptr) {
    return;
  }
  const std::string path = ContainerPath(device->slot, container->name);
  const BYTE* der = container->certificate.data();
  const DWORD length = static_cast<DWORD>(container->certificate.size());
  DWORD status = 0;
  if (add) {
    status = koba::certstore::RegisterCertificate(cs::kProviderName, path.c_str(),
                                                  container->keySpec, der, length);
    const PCCERT_CONTEXT cert =
        CertCreateCertificateContext(koba::certstore::kEncoding, der, length);
    if (cert != nullptr) {
      if (CertCompareCertificateName(koba::certstore::kEncoding, &cert->pCertInfo->Subject,
                                     &cert->pCertInfo->Issuer)) {
        status =
            koba::certstore::RegisterCertificate(cs::kProviderName, path.c_str(), 0, der, length);
      }
      CertFreeCertificateContext(cert);
    }
  } else {
    status = koba::certstore::DeleteStoredCertificates(cs::kProviderName, path.c_str(),
                                                       static_cast<int>(container->keySpec));
  }
  tool_.ResultMessage(add ? "STR_ID_C_REG" : "STR_ID_C_UNREG", status == 0);
}

void CToolsCertificate::Delete() {
  const ToolContainer* container = SelectedContainer();
  ToolDevice* device = tool_.CurrentDevice();
  if (container == nullptr || device == nullptr) {
    return;
  }
  const std::wstring warning =
      Text("STR_ID_C_DELCERT_WARNING_1") + L"\n" + Text("STR_ID_C_DELCERT_WARNING_2");
  if (MessageBoxW(tool_.hwnd(), warning.c_str(), Text("STR_ID_C_DELCERT").c_str(),
                  MB_OKCANCEL | MB_ICONWARNING) != IDOK) {
    return;
  }
  uint32_t language = PinpadTexts::Get().table().CurrentLanguage();
  PinpadTexts::Get().Param(language, 1);
  const uint32_t status = DeleteContainer(tool_.token(), *device, *container);
  if (status == cs::kErrorCancelled) {
    return;
  }
  if (status == 0) {
    device->containers.erase(device->containers.begin() +
                             static_cast<std::ptrdiff_t>(rowContainers_[selectedRow_]));
    ShowDevice(device);
  }
  tool_.ResultMessage("STR_ID_C_DELCERT", status == 0);
}

void CToolsCertificate::ClearKey() {
  ToolDevice* device = tool_.CurrentDevice();
  if (device == nullptr) {
    return;
  }
  uint32_t language = PinpadTexts::Get().table().CurrentLanguage();
  PinpadTexts::Get().Param(language, 1);
  uint32_t status = 0;
  // Last container first, so that a failure leaves the earlier ones in their order.
  while (!device->containers.empty()) {
    status = DeleteContainer(tool_.token(), *device, device->containers.back());
    if (status != 0) {
      break;
    }
    device->containers.pop_back();
  }
  ShowDevice(device);
  if (status != cs::kErrorCancelled) {
    tool_.ResultMessage("STR_ID_C_DEL_CORKEY", status == 0);
  }
}

}  // namespace VKey
