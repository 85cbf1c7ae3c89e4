#include "pad_dialog.h"

#include <cstdlib>

#include "pad_module.h"
#include "pinpad_texts.h"
#include "resource.h"
#include "text_encoding.h"
#include "wide_text.h"
#include "win_text_env.h"

namespace VKey {

std::wstring InstallFilePath(std::wstring_view relative) {
  const auto settings = WinTextEnv().ReadMachineSettings();
  std::u16string folder;
  if (!settings || !settings->installPath ||
      !koba::text::Utf8ToUtf16(*settings->installPath, &folder) || folder.empty()) {
    return {};
  }
  return Wide(folder) + L"\\" + std::wstring(relative);
}

INT_PTR PadDialog::RunModal(HWND owner) {
  const ActivationScope scope;
  return DialogBoxParamW(PadModule(), MAKEINTRESOURCEW(templateId_), owner, &PadDialog::Procedure,
                         reinterpret_cast<LPARAM>(this));
}

HWND PadDialog::CreateChild(HWND parent) {
  const ActivationScope scope;
  return CreateDialogParamW(PadModule(), MAKEINTRESOURCEW(templateId_), parent,
                            &PadDialog::Procedure, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK PadDialog::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  PadDialog* self = nullptr;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<PadDialog*>(lParam);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
    self->SetPadIcon();
    return self->OnInit();
  }
  self = reinterpret_cast<PadDialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  if (self == nullptr) {
    return FALSE;
  }
  if (message == WM_COMMAND) {
    const WORD id = LOWORD(wParam);
    if (self->OnCommand(id, HIWORD(wParam), reinterpret_cast<HWND>(lParam))) {
      return TRUE;
    }
    if (id == IDOK || id == IDCANCEL) {
      self->End(id == IDOK ? 1 : 2);
      return TRUE;
    }
    return FALSE;
  }
  INT_PTR result = FALSE;
  if (self->OnMessage(message, wParam, lParam, &result)) {
    SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
    return TRUE;
  }
  return FALSE;
}

std::wstring PadDialog::Text(std::string_view id) {
  return Wide(PinpadTexts::Get().table().LoadText(id));
}

void PadDialog::SetItemTextId(int control, std::string_view id) const {
  SetDlgItemTextW(hwnd_, control, Text(id).c_str());
}

void PadDialog::SetTitleId(std::string_view id) const {
  SetWindowTextW(hwnd_, Text(id).c_str());
}

void PadDialog::ApplySection(std::string_view section) const {
  std::vector<std::pair<std::string, std::u16string>> texts;
  if (!PinpadTexts::Get().table().SectionTexts(section, &texts)) {
    return;
  }
  for (const auto& [key, value] : texts) {
    const std::wstring text = Wide(value);
    if (_stricmp(key.c_str(), "Caption") == 0) {
      SetWindowTextW(hwnd_, text.c_str());
      continue;
    }
    char* end = nullptr;
    const long id = std::strtol(key.c_str(), &end, 10);
    if (end != key.c_str() && *end == '\0') {
      SetDlgItemTextW(hwnd_, static_cast<int>(id), text.c_str());
    }
  }
}

void PadDialog::SetPadIcon() const {
  const HMODULE module = PadModule();
  const auto load = [module](int metric) {
    const int size = GetSystemMetrics(metric);
    return static_cast<HICON>(
        LoadImageW(module, MAKEINTRESOURCEW(IDI_PINPAD), IMAGE_ICON, size, size, LR_SHARED));
  };
  SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(load(SM_CXICON)));
  SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(load(SM_CXSMICON)));
}

void PadDialog::CenterOnOwner() const {
  RECT area{};
  const HWND owner = GetWindow(hwnd_, GW_OWNER);
  if (owner == nullptr || !IsWindowVisible(owner) || IsIconic(owner) ||
      !GetWindowRect(owner, &area)) {
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  }
  RECT self{};
  GetWindowRect(hwnd_, &self);
  const int width = self.right - self.left;
  const int height = self.bottom - self.top;
  SetWindowPos(hwnd_, nullptr, area.left + (area.right - area.left - width) / 2,
               area.top + (area.bottom - area.top - height) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace VKey
