// The base of the library's modal dialogs: made from a template of the library, run under an
// owner with the library's activation context, with the library icon and texts from the text
// table.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace VKey {

// A file of the install folder (the machine settings' InstallPath) named by a path relative to
// it, such as L"res\\Q2I_KOBA.bmp"; empty when the install folder is not set.
std::wstring InstallFilePath(std::wstring_view relative);

class PadDialog {
 public:
  explicit PadDialog(int templateId) : templateId_(templateId) {}
  virtual ~PadDialog() = default;
  PadDialog(const PadDialog&) = delete;
  PadDialog& operator=(const PadDialog&) = delete;

  // Runs the dialog modally; the end code, or -1 when the dialog could not be created.
  INT_PTR RunModal(HWND owner);

  // Creates the dialog as a modeless child of parent; nullptr when it could not be made.
  HWND CreateChild(HWND parent);

  HWND hwnd() const { return hwnd_; }

 protected:
  // WM_INITDIALOG; the return value is the message's.
  virtual BOOL OnInit() { return TRUE; }
  // WM_COMMAND; true when handled. Unhandled IDOK and IDCANCEL end the dialog with 1 and 2.
  virtual bool OnCommand(WORD /*id*/, WORD /*code*/, HWND /*control*/) { return false; }
  // Every other message; true when handled, with *result the dialog procedure's result.
  virtual bool OnMessage(UINT /*message*/, WPARAM, LPARAM, INT_PTR* /*result*/) { return false; }

  void End(INT_PTR code) { EndDialog(hwnd_, code); }
  HWND Item(int id) const { return GetDlgItem(hwnd_, id); }

  // The text of an id of the text table; empty when the id is missing.
  static std::wstring Text(std::string_view id);
  void SetItemTextId(int control, std::string_view id) const;
  void SetTitleId(std::string_view id) const;
  // Title and control texts from a dialog section of the language file.
  void ApplySection(std::string_view section) const;
  // The library icon as the window's big and small icon.
  void SetPadIcon() const;
  // Centres the window on its owner, or on the work area without one.
  void CenterOnOwner() const;

 private:
  static INT_PTR CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  int templateId_;
  HWND hwnd_ = nullptr;
};

}  // namespace VKey
