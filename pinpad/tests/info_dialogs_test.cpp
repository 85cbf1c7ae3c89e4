// The information box, the message box and the balloon, driven under Wine with the installed
// language files.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>

#include "balloon.h"
#include "dialog_driver.h"
#include "info_dialogs.h"
#include "pad_module.h"
#include "pinpad_texts.h"
#include "resource.h"

namespace VKey {
namespace {

using testing::ItemText;
using testing::Press;
using testing::RunWithDriver;
using testing::WaitForDialog;
using testing::WindowText;

std::wstring TableText(const char* id) {
  const std::u16string text = PinpadTexts::Get().table().LoadText(id);
  return std::wstring(text.begin(), text.end());
}

class InfoDialogs : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    SetPadModule(GetModuleHandleW(nullptr));
    ASSERT_EQ(PinpadTexts::Get().Param(1033, 1), 0u) << "the installed English texts load";
  }
};

TEST_F(InfoDialogs, MessageBoxShowsItsTextsAndButtons) {
  ASSERT_FALSE(TableText("OK").empty());
  ASSERT_FALSE(TableText("PinBlocked").empty());
  const struct {
    const char* what;
    MsgBoxText kind;
    std::wstring title;
    std::wstring message;
    bool showCancel;
    int press;
    INT_PTR result;
    std::wstring wantTitle;
    std::wstring wantMessage;
  } cases[] = {
      {"ids, OK only", MsgBoxText::kTextIds, L"PAD_USE_TYPE_CHECKPIN", L"PinBlocked", false, IDOK,
       1, TableText("PAD_USE_TYPE_CHECKPIN"), TableText("PinBlocked")},
      {"ids, Cancel", MsgBoxText::kTextIds, L"PAD_USE_TYPE_CHANGEPIN", L"PAD_INPUT_PIN_LESS_8",
       true, IDCANCEL, 2, TableText("PAD_USE_TYPE_CHANGEPIN"), TableText("PAD_INPUT_PIN_LESS_8")},
      {"unknown and non-ASCII ids", MsgBoxText::kTextIds, L"NO_SUCH_ID", L"PinBlocked\u00e9", true,
       IDOK, 1, L"", L""},
      {"ready texts", MsgBoxText::kReady, L"PinBlocked", L"Zeile eins\r\nZeile zwei \u00fc", true,
       IDOK, 1, L"PinBlocked", L"Zeile eins\r\nZeile zwei \u00fc"},
      {"Escape without Cancel", MsgBoxText::kReady, L"T", L"M", false, IDCANCEL, 2, L"T", L"M"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CMsgBox box(c.kind, c.title, c.message, c.showCancel);
    const INT_PTR result = RunWithDriver<INT_PTR>(
        [&] { return box.RunModal(nullptr); },
        [&](DWORD thread) {
          const HWND dialog = WaitForDialog(thread);
          ASSERT_NE(dialog, nullptr);
          EXPECT_EQ(WindowText(dialog), c.wantTitle);
          EXPECT_EQ(ItemText(dialog, IDC_MSGBOX_TEXT), c.wantMessage);
          EXPECT_EQ(ItemText(dialog, IDOK), TableText("OK"));
          const HWND ok = GetDlgItem(dialog, IDOK);
          const HWND cancel = GetDlgItem(dialog, IDCANCEL);
          EXPECT_EQ(IsWindowVisible(cancel) != FALSE, c.showCancel);
          if (c.showCancel) {
            EXPECT_EQ(ItemText(dialog, IDCANCEL), TableText("Cancel"));
          } else {
            RECT client{};
            GetClientRect(dialog, &client);
            RECT button{};
            GetWindowRect(ok, &button);
            MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&button), 2);
            EXPECT_LE(std::abs((button.left + button.right) - client.right), 1)
                << "the single OK button is centred";
          }
          Press(dialog, c.press);
        });
    EXPECT_EQ(result, c.result);
  }
}

TEST_F(InfoDialogs, InformationBoxShowsTextsUnchanged) {
  for (const int press : {IDOK, IDCANCEL}) {
    CDlgDisplayInfo box(L"PAD_USE_TYPE_CHECKPIN", L"50% & more: %s %d");
    const INT_PTR result = RunWithDriver<INT_PTR>(
        [&] { return box.RunModal(nullptr); },
        [&](DWORD thread) {
          const HWND dialog = WaitForDialog(thread);
          ASSERT_NE(dialog, nullptr);
          EXPECT_EQ(WindowText(dialog), L"PAD_USE_TYPE_CHECKPIN");
          EXPECT_EQ(ItemText(dialog, IDC_INFO_TEXT), L"50% & more: %s %d");
          EXPECT_EQ(ItemText(dialog, IDOK), TableText("OK"));
          EXPECT_NE(SendMessageW(dialog, WM_GETICON, ICON_SMALL, 0), 0) << "library icon";
          Press(dialog, press);
        });
    EXPECT_EQ(result, press == IDOK ? 1 : 2);
  }
}

// Pumps the thread's messages until condition holds or the deadline passes.
bool PumpUntil(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + testing::kDialogDeadline;
  while (std::chrono::steady_clock::now() < deadline) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      DispatchMessageW(&msg);
    }
    if (condition()) {
      return true;
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
  return false;
}

TEST_F(InfoDialogs, BalloonPointsAtItsAnchorMovesAndClosesByItself) {
  CBalloonHelp balloon;
  const HICON icon = LoadIconW(nullptr, IDI_WARNING);
  const POINT anchor{200, 150};
  ASSERT_TRUE(balloon.Show(nullptr, L" Caps Lock", L"first line\n\nthird line", icon, anchor, 0));
  const HWND hwnd = balloon.hwnd();
  ASSERT_NE(hwnd, nullptr);
  wchar_t cls[64] = {};
  GetClassNameW(hwnd, cls, 64);
  EXPECT_STREQ(cls, L"BalloonHelpClass");
  EXPECT_TRUE(balloon.visible());
  EXPECT_EQ(WindowText(hwnd), L" Caps Lock");
  RECT at{};
  GetWindowRect(hwnd, &at);
  EXPECT_EQ(at.top, anchor.y) << "the balloon hangs below its anchor";
  EXPECT_LE(at.left, anchor.x);
  EXPECT_GT(at.right, anchor.x);
  EXPECT_GT(at.bottom - at.top, 40) << "room for the title and three lines";
  RECT shape{};
  EXPECT_NE(GetWindowRgnBox(hwnd, &shape), ERROR) << "shaped as a balloon";

  balloon.MoveTo({260, 180});
  RECT moved{};
  GetWindowRect(hwnd, &moved);
  EXPECT_EQ(moved.top, 180);
  EXPECT_EQ(moved.left - at.left, 60);

  balloon.Hide();
  EXPECT_FALSE(balloon.visible());

  ASSERT_TRUE(balloon.Show(nullptr, L"t", L"x", icon, anchor, 150));
  EXPECT_EQ(balloon.hwnd(), hwnd) << "the same window is shown again";
  EXPECT_TRUE(balloon.visible());
  EXPECT_TRUE(PumpUntil([&] { return !balloon.visible(); })) << "closes after its time-out";
}

}  // namespace
}  // namespace VKey
