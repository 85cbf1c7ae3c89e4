// The selection lists: choosing a USB key or a certificate from a list view whose rows are
// numbered from 1.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "pad_dialog.h"

namespace VKey {

class SelectListDialog : public PadDialog {
 public:
  // The 0-based row selected when OK ended the dialog; nullopt without a row or after Cancel.
  std::optional<int> chosenRow() const { return chosenRow_; }

 protected:
  struct Column {
    const char* textId;
    int width;
  };
  SelectListDialog(const char* titleId, std::vector<Column> columns,
                   std::vector<std::vector<std::wstring>> rows);

  BOOL OnInit() override;
  bool OnCommand(WORD id, WORD code, HWND control) override;

 private:
  const char* titleId_;
  std::vector<Column> columns_;
  std::vector<std::vector<std::wstring>> rows_;  // the texts after the row number
  std::optional<int> chosenRow_;
};

class CDlgSelectDevice : public SelectListDialog {
 public:
  // (label, serial number) per key.
  explicit CDlgSelectDevice(const std::vector<std::pair<std::wstring, std::wstring>>& devices);
};

class CDlgSelectCert : public SelectListDialog {
 public:
  explicit CDlgSelectCert(const std::vector<std::wstring>& certificates);
};

}  // namespace VKey
