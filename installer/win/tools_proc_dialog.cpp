#include "tools_proc_dialog.h"

#include <commctrl.h>

#include "resource.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace koba::installer {

CToolsProc::CToolsProc(const std::wstring (&texts)[kTextCount],
                       const std::vector<OwnerProcess>* owners)
    : owners_(owners) {
  for (int i = 0; i < kTextCount; ++i)
    texts_[i] = texts[i].substr(0, kTextCapacity);
}

INT_PTR CToolsProc::Show(HWND owner) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&controls);
  return DialogBoxParamW(reinterpret_cast<HINSTANCE>(&__ImageBase), MAKEINTRESOURCEW(IDD_TOOLSPROC),
                         owner, DialogProc, reinterpret_cast<LPARAM>(this));
}

void CToolsProc::Init(HWND dialog) {
  SetWindowTextW(dialog, texts_[kTitle].c_str());
  SetDlgItemTextW(dialog, IDC_PROC_MESSAGE, texts_[kMessage].c_str());
  SetDlgItemTextW(dialog, IDOK, texts_[kAccept].c_str());
  SetDlgItemTextW(dialog, IDCANCEL, texts_[kRefuse].c_str());

  const HWND list = GetDlgItem(dialog, IDC_PROC_LIST);
  ListView_SetExtendedListViewStyle(list, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
  RECT area{};
  GetClientRect(list, &area);
  const int half = (area.right - area.left) / 2;
  for (int column = 0; column < 2; ++column) {
    LVCOLUMNW header{};
    header.mask = LVCF_TEXT | LVCF_WIDTH;
    header.cx = half;
    header.pszText = const_cast<wchar_t*>(texts_[kFirstColumn + column].c_str());
    ListView_InsertColumn(list, column, &header);
  }
  int row = 0;
  for (const OwnerProcess& owner : *owners_) {
    std::wstring id = std::to_wstring(owner.id);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = &id[0];
    ListView_InsertItem(list, &item);
    ListView_SetItemText(list, row, 1, const_cast<wchar_t*>(owner.file.c_str()));
    ++row;
  }
}

INT_PTR CALLBACK CToolsProc::DialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      reinterpret_cast<CToolsProc*>(lparam)->Init(dialog);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
        EndDialog(dialog, LOWORD(wparam) == IDOK ? 1 : 2);
        return TRUE;
      }
      break;
    case WM_CLOSE:
      EndDialog(dialog, 2);
      return TRUE;
    default:
      break;
  }
  return FALSE;
}

}  // namespace koba::installer
