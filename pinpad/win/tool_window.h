// The management tool: the window CDlgVexloTools with its device box, language box and the three
// pages on its tab control, run modally by ToolsShowInit.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "gdi_handles.h"
#include "pad_dialog.h"
#include "text_table.h"
#include "tool_devices.h"

namespace VKey {

class CDlgVexloTools;

// The key page: verify and change the PIN, rename the key, key information.
class CToolsPellor : public PadDialog {
 public:
  explicit CToolsPellor(CDlgVexloTools& tool);
  void ShowDevice(const ToolDevice* device);
  void ApplyTexts() const;

 protected:
  BOOL OnInit() override;
  bool OnCommand(WORD id, WORD code, HWND control) override;

 private:
  void VerifyPin();
  void ChangePin();
  void Rename();
  void KeyInformation();
  CDlgVexloTools& tool_;
  Bitmap logo_;
};

// The certificate page: the list of the key's certificates and what can be done with them.
class CToolsCertificate : public PadDialog {
 public:
  explicit CToolsCertificate(CDlgVexloTools& tool);
  void ShowDevice(const ToolDevice* device);
  void ApplyTexts() const;
  int selectedRow() const { return selectedRow_; }

 protected:
  BOOL OnInit() override;
  bool OnCommand(WORD id, WORD code, HWND control) override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) override;

 private:
  const ToolContainer* SelectedContainer() const;
  void SelectRow(int row);
  void View() const;
  void Register(bool add) const;
  void Delete();
  void ClearKey();
  CDlgVexloTools& tool_;
  std::vector<size_t> rowContainers_;  // container index of each row
  int selectedRow_ = -1;
};

class CToolsAbout : public PadDialog {
 public:
  CToolsAbout();
  void ApplyTexts() const;

 protected:
  BOOL OnInit() override;
};

class CDlgVexloTools : public PadDialog {
 public:
  CDlgVexloTools();
  ~CDlgVexloTools() override;

  // wParam of the WM_ACTIVATE that brings the tool to the front.
  static constexpr WPARAM kBringToFront = 0x80000004;
  static constexpr LPARAM kDeviceChangeCode = 537;  // WM_DEVICECHANGE
  static constexpr WPARAM kDeviceArrived = 0x8000;

  const ToolToken& token() const { return token_; }
  // The selected key's record; nullptr without one.
  ToolDevice* CurrentDevice();
  // Re-reads the keys and refills the device box, keeping the selected entry.
  void Refresh();
  // A message of the tool: its title, text as it stands, OK (and Cancel when asked); 1 for OK.
  INT_PTR Message(const std::wstring& text, bool withCancel = false) const;
  std::wstring Title() const;
  // The result message "<text of id> <succeeded or failed>".
  void ResultMessage(const char* id, bool ok) const;

 protected:
  BOOL OnInit() override;
  bool OnCommand(WORD id, WORD code, HWND control) override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) override;

 private:
  void Enumerate();
  void FillDeviceBox();
  void FillLanguageBox();
  void ApplyTexts();
  void ShowPage(int index) const;
  void OfferHidSwitch();

  CRITICAL_SECTION lock_;
  ToolToken token_;
  std::vector<ToolDevice> devices_;
  int current_ = -1;
  std::vector<LangListEntry> languages_;
  UINT deviceMessage_ = 0;
  CToolsPellor pellor_;
  CToolsCertificate certificate_;
  CToolsAbout about_;
};

// ToolsShowInit: runs the tool under owner; returns when it closes.
void RunManagementTool(HWND owner);

}  // namespace VKey
