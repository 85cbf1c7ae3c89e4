// The PIN dialogs: CDlgVerifyPin (603), CDlgChangePin (604) and CDlgInitPin (614). Each has
// CPinEdit fields, the on-screen keyboard behind button 3006, the length and strength checks
// on OK, the caps-lock tip and the mouse filter. After OK (result 1) the caller takes the PINs
// out; they are wiped when the dialog object goes away.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "balloon.h"
#include "gdi_handles.h"
#include "pad_dialog.h"
#include "pin_edit.h"
#include "pin_rules.h"
#include "secret_memory.h"
#include "soft_pad_dialog.h"

namespace VKey {

// The construction arguments shared by the three dialogs. flags non-zero suppresses the
// caps-lock tip.
struct PinDialogArgs {
  DeviceValue deviceValue{};
  uint32_t minimum = 6;
  uint32_t maximum = 30;
  uint32_t flags = 0;
};

class CPinDialog : public PadDialog {
 public:
  ~CPinDialog() override;
  // The PINs entered, in field order (verify: the PIN; change: old and new; initialise: new);
  // filled when the dialog ends with OK.
  const std::vector<SecretBytes>& pins() const { return pins_; }

 protected:
  struct Field {
    int id;
    size_t limit;
  };
  CPinDialog(int templateId, const PinDialogArgs& args, std::vector<Field> fields);

  BOOL OnInit() override;
  bool OnCommand(WORD id, WORD code, HWND control) override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) override;

  // Title and labels.
  virtual void SetTexts() = 0;
  // Whether OK is enabled for the current lengths.
  virtual bool OkEnabled() const = 0;
  // The checks of OK; ends the dialog or stays with the focus where the user must act.
  virtual void OnOk() = 0;

  size_t Length(size_t field) const { return edits_[field]->length(); }
  SecretBytes Pin(size_t field) const { return edits_[field]->TakePin(); }
  void ClearField(size_t field) { edits_[field]->Clear(); }
  void FocusField(size_t field);
  // The information box over this dialog with the dialog's title and the check's message.
  void ShowCheckMessage(PinCheck check);
  // Ends with OK, keeping the PINs for the caller.
  void Accept(std::vector<SecretBytes> pins);
  void UpdateOk();
  const PinDialogArgs& args() const { return args_; }

 private:
  void ToggleKeyboard();
  // The bottom edge of the lowest field or label: the keyboard opens below it, so that it
  // covers none of them.
  int LowestControlBottom() const;
  void SetKeyboardPicture();
  void ShowCapsTip(size_t field);
  void ForegroundClick();

  PinDialogArgs args_;
  std::vector<Field> fields_;
  std::vector<std::unique_ptr<CPinEdit>> edits_;
  std::u16string lengthText_;
  CDlgSoftPadRand keyboard_;
  size_t keyboardField_ = 0;
  SIZE sizeWithoutKeyboard_{};
  Bitmap keyboardPicture_;
  CBalloonHelp capsTip_;
  std::vector<SecretBytes> pins_;
};

class CDlgVerifyPin : public CPinDialog {
 public:
  explicit CDlgVerifyPin(const PinDialogArgs& args);

 protected:
  void SetTexts() override;
  bool OkEnabled() const override;
  void OnOk() override;
  bool OnCommand(WORD id, WORD code, HWND control) override;
};

class CDlgChangePin : public CPinDialog {
 public:
  explicit CDlgChangePin(const PinDialogArgs& args);

 protected:
  void SetTexts() override;
  bool OkEnabled() const override;
  void OnOk() override;

 private:
  void EmptyNewFields();
};

class CDlgInitPin : public CPinDialog {
 public:
  explicit CDlgInitPin(const PinDialogArgs& args);

 protected:
  void SetTexts() override;
  bool OkEnabled() const override;
  void OnOk() override;
};

}  // namespace VKey
