#include "key_dialogs.h"

#include <cstring>

#include "pin_rules.h"
#include "text_encoding.h"
#include "wide_text.h"

namespace VKey {
namespace {

std::wstring ItemText(HWND item) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(item)) + 1, L'\0');
  text.resize(
      static_cast<size_t>(GetWindowTextW(item, text.data(), static_cast<int>(text.size()))));
  return text;
}

}  // namespace

BOOL CDlgChangeLabel::OnInit() {
  ApplySection("IDD_DIALOG_CHANGE_LABEL");
  const HWND edit = Item(IDC_LABEL_EDIT);
  SendMessageW(edit, EM_LIMITTEXT, kMaxChars, 0);
  // The current label; a label that is no valid UTF-8 starts the edit empty.
  std::u16string current;
  if (!koba::text::Utf8ToUtf16(std::string_view(label_, strnlen(label_, kLabelBufferSize - 1)),
                               &current)) {
    current.clear();
  }
  SetWindowTextW(edit, Wide(current).c_str());
  SetFocus(edit);
  const auto end = static_cast<LPARAM>(current.size());
  SendMessageW(edit, EM_SETSEL, static_cast<WPARAM>(end), end);
  CenterOnOwner();
  return FALSE;
}

bool CDlgChangeLabel::OnCommand(WORD id, WORD, HWND) {
  if (id != IDOK) {
    return false;
  }
  const std::wstring text = ItemText(Item(IDC_LABEL_EDIT));
  if (text.empty()) {
    return true;
  }
  const std::optional<std::string> cut = CutLabel(Utf16(text), kLabelBufferSize - 1);
  if (!cut) {
    return true;
  }
  std::memcpy(label_, cut->c_str(), cut->size() + 1);
  End(1);
  return true;
}

BOOL CDlgUInfo::OnInit() {
  ApplySection("IDD_DIALOG_U");
  const int labels[] = {IDC_UINFO_VALUE1, IDC_UINFO_VALUE2, IDC_UINFO_VALUE3, IDC_UINFO_VALUE4};
  for (size_t i = 0; i < values_.size(); ++i) {
    const std::u16string shown =
        DoubleAmpersands(std::u16string(values_[i].begin(), values_[i].end()));
    SetDlgItemTextW(hwnd(), labels[i], Wide(shown).c_str());
  }
  CenterOnOwner();
  return TRUE;
}

BOOL CDlgBOTHID::OnInit() {
  ApplySection("IDD_DIALOG_BOT_HID");
  uint32_t mode = kModeCdrom;
  if (mode_(context_, kReadMode, &mode) != 0) {
    mode = kModeCdrom;
  }
  CheckRadioButton(hwnd(), IDC_MODE_CDROM, IDC_MODE_HID,
                   mode == kModeCdrom ? IDC_MODE_CDROM : IDC_MODE_HID);
  CenterOnOwner();
  return TRUE;
}

bool CDlgBOTHID::OnCommand(WORD id, WORD, HWND) {
  if (id != IDOK) {
    return false;
  }
  uint32_t mode = IsDlgButtonChecked(hwnd(), IDC_MODE_HID) == BST_CHECKED ? kModeHid : kModeCdrom;
  writeStatus_ = mode_(context_, kWriteMode, &mode);
  End(1);
  return true;
}

}  // namespace VKey
