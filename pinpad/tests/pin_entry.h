// Enters a PIN into a PIN dialog of the library as a user does: on its on-screen keyboard.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "dialog_driver.h"
#include "resource.h"
#include "soft_pad.h"

namespace VKey::testing {

// Types a PIN with the dialog's on-screen keyboard and presses its Enter key.
inline void EnterPin(HWND dialog, int field, const std::string& pin) {
  SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, field)), TRUE);
  HWND keyboard = FindWindowExW(dialog, nullptr, L"#32770", nullptr);
  if (keyboard == nullptr || !IsWindowVisible(keyboard)) {
    SendMessageW(GetDlgItem(dialog, IDC_KEYBOARD), BM_CLICK, 0, 0);
    keyboard = FindWindowExW(dialog, nullptr, L"#32770", nullptr);
  }
  ASSERT_NE(keyboard, nullptr);
  for (const char c : pin) {
    HWND key = nullptr;
    for (int id = kFirstKeyId; id < kFirstKeyId + 73 && key == nullptr; ++id) {
      if (ItemText(keyboard, id) == std::wstring(1, static_cast<wchar_t>(c))) {
        key = GetDlgItem(keyboard, id);
      }
    }
    ASSERT_NE(key, nullptr) << c;
    SendMessageW(key, BM_CLICK, 0, 0);
  }
}

inline void PressOk(HWND dialog) {
  Press(dialog, IDOK);
}

}  // namespace VKey::testing
