// The device confirmation and the signing display driven under Wine: the device is a callback
// of the test that answers "pending" until the driving thread lets it answer.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <string>
#include <vector>

#include "device_dialogs.h"
#include "dialog_driver.h"
#include "pad_module.h"
#include "pinpad_texts.h"
#include "resource.h"

namespace VKey {
namespace {

using testing::ItemText;
using testing::RunWithDriver;
using testing::WaitForDialog;
using testing::WaitUntil;
using testing::WindowText;

std::wstring TableText(const char* id) {
  const std::u16string text = PinpadTexts::Get().table().LoadText(id);
  return std::wstring(text.begin(), text.end());
}

// The test's device: pending until answer is set; records every call.
struct FakeDevice {
  std::atomic<uint32_t> answer{PAD_DEVICE_PENDING};
  std::atomic<int> calls{0};
  std::atomic<int> running{0};
  std::atomic<bool> overlapped{false};
  std::array<uint8_t, kPadCommandBytes> lastCommand{};
  uint32_t lastBytes = 0;
  std::vector<uint32_t> lastArgs;
};

uint32_t Enter(FakeDevice* device, const uint8_t* command, uint32_t bytes) {
  if (device->running++ != 0) {
    device->overlapped = true;
  }
  std::copy(command, command + kPadCommandBytes, device->lastCommand.begin());
  device->lastBytes = bytes;
  ++device->calls;
  // Pumping here as a real driver may: the dialog must not ask again meanwhile.
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    DispatchMessageW(&message);
  }
  --device->running;
  return device->answer;
}

uint32_t KOBA_PINPAD_CALL ConfirmCallback(void* context, uint8_t* command, uint32_t bytes,
                                          uint32_t operation) {
  auto* device = static_cast<FakeDevice*>(context);
  device->lastArgs = {operation};
  return Enter(device, command, bytes);
}

uint32_t KOBA_PINPAD_CALL DisplayCallback(void* context, uint8_t* command, uint32_t bytes,
                                          uint8_t arg1, uint32_t arg2, uint32_t arg4, uint8_t* arg3,
                                          uint32_t arg6, uint32_t arg5, uint32_t zero) {
  auto* device = static_cast<FakeDevice*>(context);
  device->lastArgs = {arg1, arg2, arg4, arg3[0], arg6, arg5, zero};
  return Enter(device, command, bytes);
}

// Lets the device answer when a driver gives up early, so that no dialog is left waiting.
struct ReleaseAtEnd {
  FakeDevice& device;
  ~ReleaseAtEnd() {
    uint32_t pending = PAD_DEVICE_PENDING;
    device.answer.compare_exchange_strong(pending, PINPAD_E_FAILED);
  }
};

PinpadParam Block(uint32_t operation) {
  PinpadParam p{};
  p.size = sizeof p;
  p.pollPeriodMs = 100;
  p.useType = operation;
  return p;
}

class DeviceDialogs : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    SetPadModule(GetModuleHandleW(nullptr));
    ASSERT_EQ(PinpadTexts::Get().Param(1033, 1), 0u) << "the installed English texts load";
  }
};

TEST_F(DeviceDialogs, ConfirmationShowsTheOperationsTextsAndEndsWithTheAnswer) {
  const struct {
    uint32_t operation;
    std::wstring title;
    std::wstring prompt;
    std::wstring second;
  } cases[] = {
      {4, TableText("PAD_DEV_LOGIN"), TableText("PAD_DEV_OK_CANCEL_VERIFY"),
       TableText("PAD_DEV_LOGIN")},
      {10, TableText("PAD_DEV_DEL_COS_PRIKEY"), TableText("PAD_DEV_DELPRIKEY_OK_CANCEL"), L""},
      {11, TableText("PAD_USE_TYPE_INITDEV"), TableText("PAD_DEV_OK_CANCEL"),
       TableText("PAD_USE_TYPE_INITDEV")},
      {77, L"", L"", L""},
  };
  ASSERT_FALSE(cases[0].title.empty());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.operation);
    FakeDevice device;
    PinpadParam param = Block(c.operation);
    const uint32_t result = RunWithDriver<uint32_t>(
        [&] {
          return RunDeviceDialog(&device, reinterpret_cast<void*>(&ConfirmCallback), param, 999,
                                 nullptr);
        },
        [&](DWORD thread) {
          const ReleaseAtEnd release{device};
          const HWND dialog = WaitForDialog(thread);
          ASSERT_NE(dialog, nullptr);
          EXPECT_EQ(WindowText(dialog), c.title);
          EXPECT_EQ(ItemText(dialog, IDC_CONFIRM_PROMPT), c.prompt);
          EXPECT_EQ(ItemText(dialog, IDC_CONFIRM_TITLE), c.second);
          // Enter does not end it; the device keeps being asked.
          PostMessageW(dialog, WM_COMMAND, IDOK, 0);
          ASSERT_TRUE(WaitUntil([&] { return device.calls >= 3; }));
          EXPECT_TRUE(IsWindow(dialog));
          device.answer = 0x12345678;
          EXPECT_TRUE(WaitUntil([&] { return !IsWindow(dialog); }));
        });
    EXPECT_EQ(result, 0x12345678u);
    EXPECT_FALSE(device.overlapped);
    EXPECT_EQ(device.lastBytes, kPadCommandBytes);
    std::array<uint8_t, kPadCommandBytes> expected{1, 0, 0, 0};
    EXPECT_EQ(device.lastCommand, expected);
    EXPECT_EQ(device.lastArgs, std::vector<uint32_t>{c.operation});
  }
}

TEST_F(DeviceDialogs, ConfirmationClosedByTheUserIsCancelled) {
  FakeDevice device;
  PinpadParam param = Block(5);
  const uint32_t result = RunWithDriver<uint32_t>(
      [&] {
        return RunDeviceDialog(&device, reinterpret_cast<void*>(&ConfirmCallback), param, 999,
                               nullptr);
      },
      [&](DWORD thread) {
        const ReleaseAtEnd release{device};
        const HWND dialog = WaitForDialog(thread);
        ASSERT_NE(dialog, nullptr);
        PostMessageW(dialog, WM_CLOSE, 0, 0);
      });
  EXPECT_EQ(result, PINPAD_E_CANCELLED);
}

std::string TransferDocument(int fields) {
  std::string body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Transfer>";
  for (int i = 1; i <= fields; ++i) {
    body += "<F name=\"Field " + std::to_string(i) + "\" value=\"R&amp;D " + std::to_string(i) +
            "\" DisplayOnScreen=\"" + (i % 2 ? "TRUE" : "true") + "\"/>";
  }
  body += "<F name=\"Hidden\" value=\"x\" DisplayOnScreen=\"false\"/></Transfer>";
  return body;
}

struct DisplayRun {
  std::string document;
  std::string highlights = "Field 2:\r\nField 3";
  PinpadDisplayRequest request{};
  PinpadParam param = Block(0);

  explicit DisplayRun(int fields) : document(TransferDocument(fields)) {
    request.utf8 = 1;
    request.prompt = L"Please check the transfer below and confirm it on your USB key.";
    request.documentLength = static_cast<uint32_t>(document.size());
    request.document = document.data();
    request.highlightLength = static_cast<uint32_t>(highlights.size());
    request.highlights = highlights.data();
    param.displayRequest = &request;
    param.displayArg1 = 7;
    param.displayArg2 = 8;
    param.displayArg3[0] = 9;
    param.displayArg4 = 10;
    param.displayArg5 = 11;
    param.displayArg6 = 12;
  }
};

TEST_F(DeviceDialogs, SigningDisplayListsTheFieldsAndScrollsPastEight) {
  for (const int fields : {8, 12}) {
    SCOPED_TRACE(fields);
    DisplayRun run(fields);
    FakeDevice device;
    const uint32_t result = RunWithDriver<uint32_t>(
        [&] {
          return RunDeviceDialog(&device, reinterpret_cast<void*>(&DisplayCallback), run.param, 204,
                                 nullptr);
        },
        [&](DWORD thread) {
          const ReleaseAtEnd release{device};
          const HWND dialog = WaitForDialog(thread);
          ASSERT_NE(dialog, nullptr);
          EXPECT_EQ(WindowText(dialog), TableText("PAD_DISPLAY_SIGN_CAPTION"));
          const HWND prompt = GetDlgItem(dialog, IDC_DISPLAY_PROMPT);
          EXPECT_EQ(testing::WindowText(prompt), std::wstring(run.request.prompt));
          // No other window changes the prompt.
          SendMessageW(prompt, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"forged"));
          SendMessageW(prompt, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L"forged"));
          EXPECT_EQ(testing::WindowText(prompt), std::wstring(run.request.prompt));
          const HWND list = GetDlgItem(dialog, IDC_DISPLAY_LIST);
          ASSERT_EQ(ListView_GetItemCount(list), fields);
          wchar_t text[64] = {};
          ListView_GetItemText(list, 0, 1, text, 64);
          EXPECT_STREQ(text, L"Field 1 :");
          ListView_GetItemText(list, 0, 2, text, 64);
          EXPECT_STREQ(text, L"R&&D 1");
          // Room for eight rows at most: twelve scroll.
          const int perPage = ListView_GetCountPerPage(list);
          EXPECT_GE(perPage, 8);
          EXPECT_LT(perPage, 12);
          RECT listRect{};
          RECT client{};
          GetWindowRect(list, &listRect);
          MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&listRect), 2);
          GetClientRect(dialog, &client);
          EXPECT_EQ(client.bottom - listRect.bottom, client.right - listRect.right);
          ASSERT_TRUE(WaitUntil([&] { return device.calls >= 2; }));
          device.answer = 0;
          EXPECT_TRUE(WaitUntil([&] { return !IsWindow(dialog); }));
        });
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(device.lastArgs, (std::vector<uint32_t>{7, 8, 10, 9, 12, 11, 0}));
    EXPECT_FALSE(device.overlapped);
  }
}

TEST_F(DeviceDialogs, SigningDisplayCancelShowsOneNoticeAndTheKeyDecides) {
  DisplayRun run(3);
  FakeDevice device;
  constexpr uint32_t kRefused = 0xE0110123;
  const uint32_t result = RunWithDriver<uint32_t>(
      [&] {
        return RunDeviceDialog(&device, reinterpret_cast<void*>(&DisplayCallback), run.param, 204,
                               nullptr);
      },
      [&](DWORD thread) {
        const ReleaseAtEnd release{device};
        const HWND dialog = WaitForDialog(thread);
        ASSERT_NE(dialog, nullptr);
        const std::wstring noticeTitle = WindowText(dialog) + L"  ";
        PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        const HWND notice =
            WaitForDialog(thread, [&](HWND h) { return WindowText(h) == noticeTitle; });
        ASSERT_NE(notice, nullptr);
        EXPECT_EQ(ItemText(notice, IDC_MSGBOX_TEXT), TableText("PAD_DEV_OK_CANCEL"));
        PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        PostMessageW(dialog, WM_CLOSE, 0, 0);
        const int before = device.calls;
        ASSERT_TRUE(WaitUntil([&] { return device.calls >= before + 3; }));
        std::pair<std::wstring, int> count(noticeTitle, 0);
        EnumThreadWindows(
            thread,
            [](HWND h, LPARAM p) -> BOOL {
              auto* s = reinterpret_cast<std::pair<std::wstring, int>*>(p);
              s->second += WindowText(h) == s->first ? 1 : 0;
              return TRUE;
            },
            reinterpret_cast<LPARAM>(&count));
        EXPECT_EQ(count.second, 1);
        EXPECT_TRUE(IsWindow(dialog)) << "only the key ends the signing display";
        device.answer = kRefused;
        EXPECT_TRUE(WaitUntil([&] { return !IsWindow(notice) && !IsWindow(dialog); }));
      });
  EXPECT_EQ(result, kRefused);
}

}  // namespace
}  // namespace VKey
