// The dialogs that wait for the user's answer on the key itself: the device confirmation
// (Pinpad_CreateKeyEx kind 999) and the signing display (kind 204). Both poll the device through
// the caller's callback from their timer until it answers, and end with its answer.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "device_poll.h"
#include "display_doc.h"
#include "gdi_handles.h"
#include "pad_dialog.h"
#include "pinpad_api.h"

namespace VKey {

constexpr UINT_PTR kDevicePollTimer = 1;

// The three pictures of a key being pressed, a borderless child placed at the top left of its
// dialog. The pictures come from the install folder's res\ folder; a missing one stays empty.
class CDlgVKeyAvi : public PadDialog {
 public:
  CDlgVKeyAvi(int originX, int originY);
  // Creates the child window over parent; false when it cannot be made.
  bool Create(HWND parent);

 protected:
  BOOL OnInit() override;

 private:
  int originX_;
  int originY_;
  std::vector<Bitmap> bitmaps_;
};

// The shared part of both dialogs: the poll timer and the call of the device.
class DevicePollDialog : public PadDialog {
 public:
  // The callback's final status once the dialog has ended.
  uint32_t status() const { return status_; }

 protected:
  DevicePollDialog(int templateId, uint32_t periodMs) : PadDialog(templateId), poll_(periodMs) {}
  void StartPolling();
  // Asks the device once; the callback's status.
  virtual uint32_t AskDevice(uint8_t* command) = 0;
  // Called when the device has answered, before the dialog ends.
  virtual void BeforeEnd() {}
  void Finish(uint32_t status);
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) override;

 private:
  DevicePoll poll_;
  uint32_t status_ = PINPAD_E_FAILED;
};

// "Confirm on your key": texts chosen by the device operation (4 log-in, 5 PIN change, 10 delete
// the private key, 11 initialise). Escape or the close box ends it with PINPAD_E_CANCELLED.
class CDlgCreatePadFun : public DevicePollDialog {
 public:
  CDlgCreatePadFun(void* context, PadDeviceConfirmCallback callback, uint32_t periodMs,
                   uint32_t operation);

 protected:
  BOOL OnInit() override;
  bool OnCommand(WORD id, WORD code, HWND control) override;
  uint32_t AskDevice(uint8_t* command) override;

 private:
  void* context_;
  PadDeviceConfirmCallback callback_;
  uint32_t operation_;
  CDlgVKeyAvi pictures_;
  Font titleFont_;
  Font promptFont_;
};

// The signing display: the prompt, then the transaction's fields as label and value rows,
// highlighted ones in bold. It ends only when the device answers; Cancel only tells the user so.
class CDlgKOBADisplay : public DevicePollDialog {
 public:
  CDlgKOBADisplay(void* context, PadDeviceDisplayCallback callback, PinpadParam* param);

  static constexpr int kMaxVisibleRows = 8;

 protected:
  BOOL OnInit() override;
  bool OnCommand(WORD id, WORD code, HWND control) override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) override;
  uint32_t AskDevice(uint8_t* command) override;
  void BeforeEnd() override;

 private:
  int PlacePrompt(int cjkHeight);
  void FillRows(int cjkHeight, int promptBottom);
  LRESULT DrawRow(NMLVCUSTOMDRAW* draw) const;
  std::wstring NoticeTitle() const;

  void* context_;
  PadDeviceDisplayCallback callback_;
  PinpadParam* param_;  // the caller's: the third display argument is passed by address
  CDlgVKeyAvi pictures_;
  Font promptFont_;
  Font normalFont_;
  Font boldFont_;
  DisplayRows rows_;
};

// Both dialogs as Pinpad_CreateKeyEx runs them: the callback's final status,
// PINPAD_E_CANCELLED, or PINPAD_E_FAILED when the dialog cannot start.
uint32_t RunDeviceDialog(void* context, void* callback, PinpadParam& param, uint32_t kind,
                         HWND owner);

}  // namespace VKey
