#include "select_dialogs.h"

#include <commctrl.h>

#include "resource.h"

namespace VKey {
namespace {

// Grid lines, full-row select, header drag-and-drop, flat scroll bars.
constexpr DWORD kListExStyle =
    LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_HEADERDRAGDROP | LVS_EX_FLATSB;
static_assert(kListExStyle == 0x131);

std::vector<std::vector<std::wstring>> DeviceRows(
    const std::vector<std::pair<std::wstring, std::wstring>>& devices) {
  std::vector<std::vector<std::wstring>> rows;
  for (const auto& [label, serial] : devices) {
    rows.push_back({label, serial});
  }
  return rows;
}

std::vector<std::vector<std::wstring>> CertRows(const std::vector<std::wstring>& certificates) {
  std::vector<std::vector<std::wstring>> rows;
  for (const auto& cert : certificates) {
    rows.push_back({cert});
  }
  return rows;
}

}  // namespace

SelectListDialog::SelectListDialog(const char* titleId, std::vector<Column> columns,
                                   std::vector<std::vector<std::wstring>> rows)
    : PadDialog(IDD_DIALOG_SELECT),
      titleId_(titleId),
      columns_(std::move(columns)),
      rows_(std::move(rows)) {}

BOOL SelectListDialog::OnInit() {
  SetTitleId(titleId_);
  SetItemTextId(IDOK, "OK");
  SetItemTextId(IDCANCEL, "Cancel");
  const HWND list = Item(IDC_SELECT_LIST);
  SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, kListExStyle, kListExStyle);
  for (size_t i = 0; i < columns_.size(); ++i) {
    std::wstring text = Text(columns_[i].textId);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.pszText = text.data();
    column.cx = columns_[i].width;
    column.iSubItem = static_cast<int>(i);
    SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
  }
  for (size_t row = 0; row < rows_.size(); ++row) {
    std::wstring number = std::to_wstring(row + 1);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(row);
    item.pszText = number.data();
    const auto at = SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    for (size_t sub = 0; sub < rows_[row].size() && sub + 1 < columns_.size(); ++sub) {
      LVITEMW cell{};
      cell.iSubItem = static_cast<int>(sub + 1);
      cell.pszText = rows_[row][sub].data();
      SendMessageW(list, LVM_SETITEMTEXTW, at, reinterpret_cast<LPARAM>(&cell));
    }
  }
  CenterOnOwner();
  return TRUE;
}

bool SelectListDialog::OnCommand(WORD id, WORD, HWND) {
  if (id != IDOK) {
    return false;
  }
  const auto row =
      SendMessageW(Item(IDC_SELECT_LIST), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED);
  if (row >= 0) {
    chosenRow_ = static_cast<int>(row);
  }
  End(1);
  return true;
}

CDlgSelectDevice::CDlgSelectDevice(
    const std::vector<std::pair<std::wstring, std::wstring>>& devices)
    : SelectListDialog("SelectDev", {{"ID", 75}, {"Label", 150}, {"SN", 150}},
                       DeviceRows(devices)) {}

CDlgSelectCert::CDlgSelectCert(const std::vector<std::wstring>& certificates)
    : SelectListDialog("SelectCert", {{"ID", 75}, {"Cert", 250}}, CertRows(certificates)) {}

}  // namespace VKey
