// The PIN fields, the on-screen keyboard and the PIN dialogs, driven under Wine from a second
// thread with the installed language files.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "dialog_driver.h"
#include "mouse_filter.h"
#include "pad_module.h"
#include "pin_dialogs.h"
#include "pin_rules.h"
#include "pinpad_texts.h"
#include "resource.h"
#include "soft_pad.h"
#include "win_handles.h"

namespace VKey {
namespace {

using testing::ItemText;
using testing::Press;
using testing::RunWithDriver;
using testing::WaitClosed;
using testing::WaitForDialog;
using testing::WaitForDialogOtherThan;
using testing::WaitUntil;
using testing::WindowText;

const DeviceValue kDevice = {'K', 'O', 'B', 'A', '0', '0', '0', '1'};

std::wstring TableText(const char* id) {
  const std::u16string text = PinpadTexts::Get().table().LoadText(id);
  return std::wstring(text.begin(), text.end());
}

std::string Taken(const SecretBytes& pin) {
  return std::string(pin.begin(), pin.end());
}

HWND KeyboardOf(HWND dialog) {
  return FindWindowExW(dialog, nullptr, L"#32770", nullptr);
}

HWND KeyButton(HWND keyboard, const std::wstring& label) {
  for (int id = kFirstKeyId; id < kFirstKeyId + 73; ++id) {
    const HWND button = GetDlgItem(keyboard, id);
    if (button != nullptr && WindowText(button) == label) {
      return button;
    }
  }
  return nullptr;
}

int KeyIdOfCode(uint8_t code) {
  for (int i = 0; kPadKeyTable[i].column != 0; ++i) {
    if (kPadKeyTable[i].character == code) {
      return kFirstKeyId + i;
    }
  }
  return -1;
}

// Clicks the keyboard keys that type text, as their labels show them.
void TypeOnKeyboard(HWND dialog, const std::string& text) {
  const HWND keyboard = KeyboardOf(dialog);
  ASSERT_NE(keyboard, nullptr);
  for (const char c : text) {
    const std::wstring label = c == '&' ? L"&&" : std::wstring(1, static_cast<wchar_t>(c));
    const HWND button = KeyButton(keyboard, label);
    ASSERT_NE(button, nullptr) << "no key labelled " << c;
    SendMessageW(button, BM_CLICK, 0, 0);
  }
}

// Puts characters into a field the way the keyboard filter does.
void TypeCommands(HWND field, const std::string& text) {
  for (const char c : text) {
    SendMessageW(field, kPinEditMessage, kPinInsert,
                 static_cast<LPARAM>(EncodePinCharacter(kDevice, c)));
  }
}

void Focus(HWND dialog, int id) {
  SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, id)), TRUE);
}

HWND FocusOf(DWORD thread) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  GetGUIThreadInfo(thread, &info);
  return info.hwndFocus;
}

std::wstring Masked(size_t n) {
  return std::wstring(n, L'*');
}

// Where a PIN dialog's own attention click lands: it moves the cursor there first.
POINT AttentionPoint(HWND dialog) {
  POINT at{20, 20};
  if ((GetWindowLongW(dialog, GWL_STYLE) & WS_CAPTION) == WS_CAPTION)
    at.y += GetSystemMetrics(SM_CYCAPTION);
  ClientToScreen(dialog, &at);
  return at;
}

// Waits until the dialog has made its attention click, which comes a moment after it opens
// (later on a busy machine): input injected before it could be overtaken by it.
bool WaitForAttentionClick(HWND dialog) {
  const POINT at = AttentionPoint(dialog);
  return WaitUntil([&] {
    POINT now{};
    return GetCursorPos(&now) && now.x == at.x && now.y == at.y;
  });
}

class PinDialogs : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    SetPadModule(GetModuleHandleW(nullptr));
    ASSERT_EQ(PinpadTexts::Get().Param(1033, 1), 0u) << "the installed English texts load";
  }
  // Every dialog is centred alike, so the last one's attention click left the cursor where
  // the next one's goes: start away from it.
  void SetUp() override { SetCursorPos(0, 0); }
};

TEST_F(PinDialogs, FieldChangesOnlyThroughItsCommandsAndHoldsNoPlainCharacters) {
  enum Op { kType, kCaret, kSelect, kBack, kDelete, kClear, kForeign };
  struct Step {
    Op op;
    std::string text;
    int a = 0;
    int b = 0;
  };
  const struct {
    const char* what;
    std::vector<Step> steps;
    std::string want;
  } cases[] = {
      {"insert at the caret", {{kType, "1234"}, {kCaret, "", 1}, {kType, "x"}}, "1x234"},
      {"back before the caret", {{kType, "1234"}, {kCaret, "", 2}, {kBack, ""}}, "134"},
      {"back at the start does nothing", {{kType, "12"}, {kCaret, "", 0}, {kBack, ""}}, "12"},
      {"delete at the caret", {{kType, "1234"}, {kCaret, "", 1}, {kDelete, ""}}, "134"},
      {"delete at the end does nothing", {{kType, "1234"}, {kDelete, ""}}, "1234"},
      {"insert replaces a selection",
       {{kType, "123456"}, {kSelect, "", 1, 4}, {kType, "z"}},
       "1z56"},
      {"clear then type", {{kType, "123456"}, {kClear, ""}, {kType, "ab"}}, "ab"},
      {"the limit of 8 holds", {{kType, "123456789"}}, "12345678"},
      {"keys, characters, paste and text setting do nothing",
       {{kType, "abc"}, {kForeign, ""}},
       "abc"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PinDialogArgs args;
    args.deviceValue = kDevice;
    args.minimum = 1;
    args.maximum = 8;
    args.flags = 1;
    CDlgVerifyPin dialog(args);
    const INT_PTR result = RunWithDriver<INT_PTR>(
        [&] { return dialog.RunModal(nullptr); },
        [&](DWORD thread) {
          const HWND d = WaitForDialog(thread);
          ASSERT_NE(d, nullptr);
          const HWND field = GetDlgItem(d, IDC_VERIFY_PIN);
          for (const Step& s : c.steps) {
            switch (s.op) {
              case kType:
                TypeCommands(field, s.text);
                break;
              case kCaret:
                SendMessageW(field, EM_SETSEL, s.a, s.a);
                break;
              case kSelect:
                SendMessageW(field, EM_SETSEL, s.a, s.b);
                break;
              case kBack:
                SendMessageW(field, kPinEditMessage, kPinBack, 0);
                break;
              case kDelete:
                SendMessageW(field, kPinEditMessage, kPinDelete, 0);
                break;
              case kClear:
                SendMessageW(field, kPinEditMessage, kPinClear, 0);
                break;
              case kForeign:
                SendMessageW(field, WM_CHAR, 'q', 0);
                SendMessageW(field, WM_KEYDOWN, 'Q', 0);
                SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"qqq"));
                SendMessageW(field, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L"q"));
                SendMessageW(field, WM_PASTE, 0, 0);
                SendMessageW(field, WM_CLEAR, 0, 0);
                break;
            }
          }
          EXPECT_EQ(WindowText(field), Masked(c.want.size())) << "masking characters only";
          EXPECT_EQ(IsWindowEnabled(GetDlgItem(d, IDOK)) != FALSE, !c.want.empty());
          Press(d, IDOK);
        });
    EXPECT_EQ(result, 1);
    ASSERT_EQ(dialog.pins().size(), 1u);
    EXPECT_EQ(Taken(dialog.pins()[0]), c.want);
  }
}

TEST_F(PinDialogs, VerifyWithTheKeyboard) {
  PinDialogArgs args;
  args.deviceValue = kDevice;
  args.flags = 1;
  CDlgVerifyPin dialog(args);
  const INT_PTR result = RunWithDriver<INT_PTR>(
      [&] { return dialog.RunModal(nullptr); },
      [&](DWORD thread) {
        const HWND d = WaitForDialog(thread);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(WindowText(d), TableText("PAD_USE_TYPE_CHECKPIN"));
        EXPECT_EQ(ItemText(d, IDC_VERIFY_LABEL), TableText("PAD_USE_TYPE_INPUTPIN"));
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(d, IDOK)));
        const HWND button = GetDlgItem(d, IDC_KEYBOARD);
        EXPECT_TRUE(IsWindowVisible(button));
        EXPECT_NE(SendMessageW(button, BM_GETIMAGE, IMAGE_BITMAP, 0), 0) << "installed picture";

        RECT before{};
        GetWindowRect(d, &before);
        SendMessageW(button, BM_CLICK, 0, 0);
        const HWND keyboard = KeyboardOf(d);
        ASSERT_NE(keyboard, nullptr);
        EXPECT_TRUE(IsWindowVisible(keyboard));
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(d, IDOK)));
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(d, IDCANCEL)));
        RECT grown{};
        GetWindowRect(d, &grown);
        EXPECT_GT(grown.bottom - grown.top, before.bottom - before.top);
        std::set<std::wstring> digits;
        for (int id = kFirstKeyId; id < kFirstKeyId + 73; ++id) {
          const std::wstring label = ItemText(keyboard, id);
          if (label.size() == 1 && label[0] >= L'0' && label[0] <= L'9') {
            digits.insert(label);
          }
        }
        EXPECT_EQ(digits.size(), 10u) << "every digit on one key";
        EXPECT_EQ(ItemText(keyboard, KeyIdOfCode(kCodeEnter)), TableText("PAD_ENTER"));
        EXPECT_EQ(ItemText(keyboard, KeyIdOfCode(kCodeCaps)), TableText("PAD_CAPS"));

        // Hidden and shown again: the dialog's size comes back, then the keys still type.
        SendMessageW(button, BM_CLICK, 0, 0);
        RECT restored{};
        GetWindowRect(d, &restored);
        EXPECT_EQ(restored.bottom - restored.top, before.bottom - before.top);
        EXPECT_TRUE(IsWindowVisible(GetDlgItem(d, IDOK)));
        SendMessageW(button, BM_CLICK, 0, 0);

        TypeOnKeyboard(d, "a1");
        EXPECT_EQ(FocusOf(thread), GetDlgItem(d, IDC_VERIFY_PIN)) << "the field keeps the focus";
        SendMessageW(GetDlgItem(keyboard, KeyIdOfCode(kCodeCaps)), BM_CLICK, 0, 0);
        EXPECT_EQ(ItemText(keyboard, KeyIdOfCode(kCodeCaps)), TableText("PAD_LOWERCASE"));
        EXPECT_EQ(KeyButton(keyboard, L"q"), nullptr) << "letters relabelled in upper case";
        TypeOnKeyboard(d, "B&");
        SendMessageW(GetDlgItem(keyboard, KeyIdOfCode(kCodeBack)), BM_CLICK, 0, 0);
        TypeOnKeyboard(d, "C9?");
        EXPECT_EQ(ItemText(d, IDC_VERIFY_PIN), Masked(6));
        PostMessageW(GetDlgItem(keyboard, KeyIdOfCode(kCodeEnter)), BM_CLICK, 0, 0);
      });
  EXPECT_EQ(result, 1);
  ASSERT_EQ(dialog.pins().size(), 1u);
  EXPECT_EQ(Taken(dialog.pins()[0]), "a1BC9?");
}

// A language file altered on disk fails its digest: every text is empty, yet the dialog opens,
// its keyboard types and Enter ends it.
TEST_F(PinDialogs, AlteredLanguageFileBlanksTheTextsButNotTheDialog) {
  const std::string file = PinpadTexts::Get().table().CurrentFile();
  ASSERT_FALSE(file.empty());
  std::string original;
  {
    std::ifstream in(file, std::ios::binary);
    original.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  ASSERT_GT(original.size(), 16u);
  const auto write = [&file](const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return out.good();
  };
  struct Restore {
    std::function<void()> undo;
    ~Restore() { undo(); }
  } restore{[&] {
    write(original);
    PinpadTexts::Get().Param(1033, 1);
  }};
  std::string altered = original;
  altered[altered.size() / 2] = static_cast<char>(altered[altered.size() / 2] ^ 0x20);
  ASSERT_TRUE(write(altered));
  EXPECT_NE(PinpadTexts::Get().Param(1033, 1), 0u);
  EXPECT_EQ(TableText("PAD_USE_TYPE_CHECKPIN"), L"");

  PinDialogArgs args;
  args.deviceValue = kDevice;
  args.flags = 1;
  CDlgVerifyPin dialog(args);
  const INT_PTR result = RunWithDriver<INT_PTR>(
      [&] { return dialog.RunModal(nullptr); },
      [&](DWORD thread) {
        const HWND d = WaitForDialog(thread);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(WindowText(d), L"");
        EXPECT_EQ(ItemText(d, IDC_VERIFY_LABEL), L"");
        SendMessageW(GetDlgItem(d, IDC_KEYBOARD), BM_CLICK, 0, 0);
        const HWND keyboard = KeyboardOf(d);
        ASSERT_NE(keyboard, nullptr);
        EXPECT_EQ(ItemText(keyboard, KeyIdOfCode(kCodeEnter)), L"");
        TypeOnKeyboard(d, "k1k2k3");
        EXPECT_EQ(ItemText(d, IDC_VERIFY_PIN), Masked(6));
        PostMessageW(GetDlgItem(keyboard, KeyIdOfCode(kCodeEnter)), BM_CLICK, 0, 0);
      });
  EXPECT_EQ(result, 1);
  ASSERT_EQ(dialog.pins().size(), 1u);
  EXPECT_EQ(Taken(dialog.pins()[0]), "k1k2k3");
}

TEST_F(PinDialogs, ChangePinChecks) {
  enum Answer { kNone, kAcceptWeak, kRefuseWeak };
  const struct {
    const char* what;
    std::string oldPin, newPin, repeat;
    const char* message;  // the notice expected, nullptr for none
    Answer answer;
    INT_PTR result;
  } cases[] = {
      {"mismatch empties both new fields", "123456", "abc123xy", "abc123xz",
       "DISP_INVALID_NEW_PIN_DIF_INPUT", kNone, 0},
      {"new equal to old", "a1b2c3d4", "a1b2c3d4", "a1b2c3d4", "DISP_INVALID_OLD_NEW_PIN_SAME",
       kNone, 0},
      {"weak PIN refused keeps the old field", "123456", "ab1!xyz", "ab1!xyz",
       "PAD_INPUT_PIN_LESS_8", kRefuseWeak, 0},
      {"weak PIN accepted", "123456", "12345678", "12345678", "PAD_INPUT_PIN_STEP_INT", kAcceptWeak,
       1},
      {"strong PIN", "123456", "a1b2c3d4e5", "a1b2c3d4e5", nullptr, kNone, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PinDialogArgs args;
    args.deviceValue = kDevice;
    args.flags = 1;
    CDlgChangePin dialog(args);
    const INT_PTR result = RunWithDriver<INT_PTR>(
        [&] { return dialog.RunModal(nullptr); },
        [&](DWORD thread) {
          const HWND d = WaitForDialog(thread);
          ASSERT_NE(d, nullptr);
          const std::wstring title = WindowText(d);
          EXPECT_EQ(title, TableText("PAD_USE_TYPE_CHANGEPIN"));
          SendMessageW(GetDlgItem(d, IDC_KEYBOARD), BM_CLICK, 0, 0);
          const int ids[] = {IDC_CHANGE_OLD_PIN, IDC_CHANGE_NEW1_PIN, IDC_CHANGE_NEW2_PIN};
          RECT pad{};
          GetWindowRect(KeyboardOf(d), &pad);
          RECT client{};
          GetClientRect(d, &client);
          MapWindowPoints(d, nullptr, reinterpret_cast<POINT*>(&client), 2);
          EXPECT_LE(pad.right, client.right) << "the dialog grows to hold the keyboard";
          EXPECT_LE(pad.bottom, client.bottom);
          for (const int id :
               {IDC_CHANGE_OLD_PIN, IDC_CHANGE_NEW1_PIN, IDC_CHANGE_NEW2_PIN, IDC_CHANGE_TIPS}) {
            RECT control{};
            GetWindowRect(GetDlgItem(d, id), &control);
            EXPECT_LE(control.bottom, pad.top) << "the keyboard covers no field, id " << id;
          }
          const std::string* pins[] = {&c.oldPin, &c.newPin, &c.repeat};
          for (int i = 0; i < 3; ++i) {
            Focus(d, ids[i]);
            TypeOnKeyboard(d, *pins[i]);
            EXPECT_EQ(ItemText(d, ids[i]), Masked(pins[i]->size())) << "the keyboard follows";
          }
          EXPECT_TRUE(IsWindowEnabled(GetDlgItem(d, IDOK)));
          Press(d, IDOK);
          if (c.message == nullptr) {
            return;
          }
          const HWND box = WaitForDialogOtherThan(thread, d);
          ASSERT_NE(box, nullptr);
          EXPECT_EQ(WindowText(box), title);
          const int text = c.answer == kNone ? IDC_INFO_TEXT : IDC_MSGBOX_TEXT;
          EXPECT_EQ(ItemText(box, text), TableText(c.message));
          EXPECT_EQ(IsWindowVisible(GetDlgItem(box, IDCANCEL)) != FALSE, c.answer != kNone);
          Press(box, c.answer == kRefuseWeak ? IDCANCEL : IDOK);
          if (c.answer == kAcceptWeak) {
            return;
          }
          ASSERT_TRUE(WaitClosed(box, d));
          EXPECT_EQ(ItemText(d, IDC_CHANGE_OLD_PIN), Masked(c.oldPin.size()));
          EXPECT_EQ(ItemText(d, IDC_CHANGE_NEW1_PIN), L"");
          EXPECT_EQ(ItemText(d, IDC_CHANGE_NEW2_PIN), L"");
          EXPECT_FALSE(IsWindowEnabled(GetDlgItem(d, IDOK)));
          EXPECT_EQ(FocusOf(thread), GetDlgItem(d, IDC_CHANGE_NEW1_PIN));
          Press(d, IDCANCEL);
        });
    EXPECT_EQ(result, c.result == 0 ? 2 : 1);
    if (c.result == 1) {
      ASSERT_EQ(dialog.pins().size(), 2u);
      EXPECT_EQ(Taken(dialog.pins()[0]), c.oldPin);
      EXPECT_EQ(Taken(dialog.pins()[1]), c.newPin);
    } else {
      EXPECT_TRUE(dialog.pins().empty());
    }
  }
}

TEST_F(PinDialogs, InitMismatchKeepsBothFields) {
  PinDialogArgs args;
  args.deviceValue = kDevice;
  args.flags = 1;
  CDlgInitPin dialog(args);
  const INT_PTR result = RunWithDriver<INT_PTR>(
      [&] { return dialog.RunModal(nullptr); },
      [&](DWORD thread) {
        const HWND d = WaitForDialog(thread);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(WindowText(d), TableText("PAD_USE_TYPE_INITDEV"));
        TypeCommands(GetDlgItem(d, IDC_INIT_NEW1_PIN), "abcdef12");
        TypeCommands(GetDlgItem(d, IDC_INIT_NEW2_PIN), "abcdef13");
        Press(d, IDOK);
        const HWND box = WaitForDialogOtherThan(thread, d);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(ItemText(box, IDC_INFO_TEXT), TableText("DISP_INVALID_NEW_PIN_DIF_INPUT"));
        Press(box, IDOK);
        ASSERT_TRUE(WaitClosed(box, d));
        EXPECT_EQ(ItemText(d, IDC_INIT_NEW1_PIN), Masked(8));
        EXPECT_EQ(ItemText(d, IDC_INIT_NEW2_PIN), Masked(8));
        EXPECT_EQ(FocusOf(thread), GetDlgItem(d, IDC_INIT_NEW2_PIN));
        // Focusing selects the whole field; the caret goes to the end before Back.
        SendMessageW(GetDlgItem(d, IDC_INIT_NEW2_PIN), EM_SETSEL, 8, 8);
        SendMessageW(GetDlgItem(d, IDC_INIT_NEW2_PIN), kPinEditMessage, kPinBack, 0);
        TypeCommands(GetDlgItem(d, IDC_INIT_NEW2_PIN), "2");
        Press(d, IDOK);
      });
  EXPECT_EQ(result, 1);
  ASSERT_EQ(dialog.pins().size(), 1u);
  EXPECT_EQ(Taken(dialog.pins()[0]), "abcdef12");
}

INPUT KeyInput(WORD vk, bool up) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = vk;
  input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  return input;
}

// A button event at a screen point, which each event carries itself so that no other cursor
// movement can send it elsewhere.
INPUT ClickInput(DWORD flags, POINT at, ULONG_PTR extraInfo) {
  INPUT input{};
  input.type = INPUT_MOUSE;
  input.mi.dx = MulDiv(at.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
  input.mi.dy = MulDiv(at.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
  input.mi.dwFlags = flags | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  input.mi.dwExtraInfo = extraInfo;
  return input;
}

TEST_F(PinDialogs, PhysicalKeysReachTheFocusedFieldOnlyAsCommands) {
  PinDialogArgs args;
  args.deviceValue = kDevice;
  args.minimum = 1;
  args.flags = 1;
  CDlgVerifyPin dialog(args);
  const INT_PTR result = RunWithDriver<INT_PTR>(
      [&] { return dialog.RunModal(nullptr); },
      [&](DWORD thread) {
        const HWND d = WaitForDialog(thread);
        ASSERT_NE(d, nullptr);
        const HWND field = GetDlgItem(d, IDC_VERIFY_PIN);
        ASSERT_TRUE(WaitForAttentionClick(d));
        ASSERT_TRUE(WaitUntil([&] { return FocusOf(thread) == field; }));
        std::vector<INPUT> keys;
        for (const WORD vk : {WORD{'A'}, WORD{'1'}}) {
          keys.push_back(KeyInput(vk, false));
          keys.push_back(KeyInput(vk, true));
        }
        keys.push_back(KeyInput(VK_SHIFT, false));
        keys.push_back(KeyInput('B', false));
        keys.push_back(KeyInput('B', true));
        keys.push_back(KeyInput(VK_SHIFT, true));
        // Ctrl+V pastes nothing; the number pad types digits; Backspace removes the last one.
        keys.push_back(KeyInput(VK_CONTROL, false));
        keys.push_back(KeyInput('V', false));
        keys.push_back(KeyInput('V', true));
        keys.push_back(KeyInput(VK_CONTROL, true));
        for (const WORD vk : {WORD{VK_NUMPAD7}, WORD{VK_NUMPAD8}, WORD{VK_BACK}}) {
          keys.push_back(KeyInput(vk, false));
          keys.push_back(KeyInput(vk, true));
        }
        ASSERT_EQ(SendInput(static_cast<UINT>(keys.size()), keys.data(), sizeof(INPUT)),
                  keys.size());
        EXPECT_TRUE(WaitUntil([&] { return WindowText(field) == Masked(4); }))
            << "got " << WindowText(field).size() << " characters";
        Press(d, IDOK);
      });
  EXPECT_EQ(result, 1);
  ASSERT_EQ(dialog.pins().size(), 1u);
  EXPECT_EQ(Taken(dialog.pins()[0]), "a1B7");
}

TEST_F(PinDialogs, InjectedClicksOnTheKeyboardAreSwallowedUnlessFromPenOrTouch) {
  PinDialogArgs args;
  args.deviceValue = kDevice;
  args.minimum = 1;
  args.flags = 1;
  CDlgVerifyPin dialog(args);
  const INT_PTR result = RunWithDriver<INT_PTR>(
      [&] { return dialog.RunModal(nullptr); },
      [&](DWORD thread) {
        const HWND d = WaitForDialog(thread);
        ASSERT_NE(d, nullptr);
        ASSERT_TRUE(WaitUntil([&] { return GetForegroundWindow() == d; }));
        ASSERT_TRUE(WaitForAttentionClick(d));
        SendMessageW(GetDlgItem(d, IDC_KEYBOARD), BM_CLICK, 0, 0);
        const HWND keyboard = KeyboardOf(d);
        ASSERT_NE(keyboard, nullptr);
        const HWND key = KeyButton(keyboard, L"q");
        ASSERT_NE(key, nullptr);
        RECT r{};
        GetWindowRect(key, &r);
        const POINT at{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
        const HWND field = GetDlgItem(d, IDC_VERIFY_PIN);
        const struct {
          ULONG_PTR extraInfo;
          size_t length;
        } clicks[] = {{0, 0}, {0xFF515780, 1}, {0x12345678, 0}, {0x4B4F4241, 0}, {0xFF5157FF, 2}};
        for (const auto& click : clicks) {
          INPUT input[2] = {ClickInput(MOUSEEVENTF_LEFTDOWN, at, click.extraInfo),
                            ClickInput(MOUSEEVENTF_LEFTUP, at, click.extraInfo)};
          ASSERT_EQ(SendInput(2, input, sizeof(INPUT)), 2u);
          // A swallowed click shows as nothing; a later click that passes proves the order.
          if (click.length > 0) {
            EXPECT_TRUE(WaitUntil([&] { return WindowText(field) == Masked(click.length); }))
                << std::hex << click.extraInfo;
          }
        }
        Press(d, IDOK);
      });
  EXPECT_EQ(result, 1);
  ASSERT_EQ(dialog.pins().size(), 1u);
  EXPECT_EQ(Taken(dialog.pins()[0]), "qq") << "exactly the pen and touch clicks typed";
}

// Sets the Caps Lock toggle of the calling thread's keyboard state for the life of the scope.
class CapsLockScope {
 public:
  explicit CapsLockScope(bool on) {
    GetKeyboardState(saved_);
    BYTE state[256];
    GetKeyboardState(state);
    state[VK_CAPITAL] = on ? 1 : 0;
    SetKeyboardState(state);
  }
  ~CapsLockScope() { SetKeyboardState(saved_); }
  CapsLockScope(const CapsLockScope&) = delete;
  CapsLockScope& operator=(const CapsLockScope&) = delete;

 private:
  BYTE saved_[256] = {};
};

TEST_F(PinDialogs, CapsLockTipAndUpperCaseKeyboard) {
  const struct {
    bool capsLock;
    uint32_t flags;
    bool tip;
  } cases[] = {{true, 0, true}, {true, 1, false}, {false, 0, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "caps " << c.capsLock << " flags " << c.flags);
    PinDialogArgs args;
    args.deviceValue = kDevice;
    args.flags = c.flags;
    CDlgChangePin dialog(args);
    const CapsLockScope caps(c.capsLock);
    const INT_PTR result = RunWithDriver<INT_PTR>(
        [&] { return dialog.RunModal(nullptr); },
        [&](DWORD thread) {
          const HWND d = WaitForDialog(thread);
          ASSERT_NE(d, nullptr);
          const HWND balloon = FindWindowW(L"BalloonHelpClass", nullptr);
          EXPECT_EQ(balloon != nullptr && IsWindowVisible(balloon), c.tip);
          if (c.tip) {
            EXPECT_EQ(WindowText(balloon), L" " + TableText("PAD_CAPS_LOCK_TIPS_1"));
            RECT first{};
            GetWindowRect(balloon, &first);
            RECT field{};
            GetWindowRect(GetDlgItem(d, IDC_CHANGE_OLD_PIN), &field);
            EXPECT_EQ(first.top, field.bottom - 5) << "pointing into the focused field";
            Focus(d, IDC_CHANGE_NEW2_PIN);
            RECT moved{};
            GetWindowRect(balloon, &moved);
            GetWindowRect(GetDlgItem(d, IDC_CHANGE_NEW2_PIN), &field);
            EXPECT_EQ(moved.top, field.bottom - 5) << "follows the focus";
          }
          SendMessageW(GetDlgItem(d, IDC_KEYBOARD), BM_CLICK, 0, 0);
          const HWND keyboard = KeyboardOf(d);
          ASSERT_NE(keyboard, nullptr);
          EXPECT_EQ(ItemText(keyboard, KeyIdOfCode(kCodeCaps)),
                    TableText(c.capsLock ? "PAD_LOWERCASE" : "PAD_CAPS"));
          EXPECT_EQ(KeyButton(keyboard, c.capsLock ? L"Q" : L"q") != nullptr, true);
          Press(d, IDCANCEL);
        });
    EXPECT_EQ(result, 2);
    EXPECT_EQ(FindWindowW(L"BalloonHelpClass", nullptr), nullptr) << "gone with its dialog";
  }
}

TEST_F(PinDialogs, LengthMessageCarriesTheAllowedLengthsAndKeepsTheFields) {
  PinDialogArgs args;
  args.deviceValue = kDevice;
  args.maximum = 8;
  args.flags = 1;
  CDlgChangePin dialog(args);
  const INT_PTR result = RunWithDriver<INT_PTR>(
      [&] { return dialog.RunModal(nullptr); },
      [&](DWORD thread) {
        const HWND d = WaitForDialog(thread);
        ASSERT_NE(d, nullptr);
        TypeCommands(GetDlgItem(d, IDC_CHANGE_OLD_PIN), "123456");
        TypeCommands(GetDlgItem(d, IDC_CHANGE_NEW1_PIN), "a1b2c3d4e");
        TypeCommands(GetDlgItem(d, IDC_CHANGE_NEW2_PIN), "a1b2c3d4e");
        EXPECT_EQ(ItemText(d, IDC_CHANGE_NEW1_PIN), Masked(9)) << "the new field takes 30";
        EXPECT_EQ(ItemText(d, IDC_CHANGE_NEW2_PIN), Masked(8)) << "the repetition takes 8";
        Press(d, IDOK);
        const HWND box = WaitForDialogOtherThan(thread, d);
        ASSERT_NE(box, nullptr);
        const std::wstring message = ItemText(box, IDC_INFO_TEXT);
        const std::u16string want =
            PinpadTexts::Get().table().FormatText("DISP_INVALID_NEW_PIN1_INPUT", {u"6-8"});
        EXPECT_EQ(message, std::wstring(want.begin(), want.end()));
        EXPECT_NE(message.find(L"6-8"), std::wstring::npos);
        Press(box, IDOK);
        ASSERT_TRUE(WaitClosed(box, d));
        EXPECT_EQ(FocusOf(thread), GetDlgItem(d, IDC_CHANGE_NEW1_PIN));
        EXPECT_EQ(ItemText(d, IDC_CHANGE_NEW1_PIN), Masked(9));
        Press(d, IDCANCEL);
      });
  EXPECT_EQ(result, 2);
}

uint32_t AnyTick() {
  return 12345;
}

// The digit of every digit key in key order, as the keyboard shows it and as a shuffle of the
// key table makes it.
std::wstring ShownDigits(HWND keyboard, const SoftPadKeys& keys) {
  std::wstring digits;
  for (const size_t i : keys.digitKeys()) {
    digits += ItemText(keyboard, kFirstKeyId + static_cast<int>(i));
  }
  return digits;
}

std::wstring TableDigits(const SoftPadKeys& keys) {
  std::wstring digits;
  for (const size_t i : keys.digitKeys()) {
    digits += static_cast<wchar_t>(keys.keys()[i].character);
  }
  return digits;
}

TEST_F(PinDialogs, DigitsAreShuffledAtEveryShowingFromTheProcessGenerator) {
  PinDialogArgs args;
  args.deviceValue = kDevice;
  args.flags = 1;
  CDlgVerifyPin dialog(args);
  PadRandom& shared = ProcessPadRandom(&AnyTick);
  PadRandom replay(shared.state());
  SoftPadKeys expected;
  RunWithDriver<INT_PTR>([&] { return dialog.RunModal(nullptr); },
                         [&](DWORD thread) {
                           const HWND d = WaitForDialog(thread);
                           ASSERT_NE(d, nullptr);
                           const HWND button = GetDlgItem(d, IDC_KEYBOARD);
                           for (int showing = 0; showing < 3; ++showing) {
                             SendMessageW(button, BM_CLICK, 0, 0);
                             expected.Shuffle(replay);
                             EXPECT_EQ(ShownDigits(KeyboardOf(d), expected), TableDigits(expected))
                                 << "showing " << showing;
                             SendMessageW(button, BM_CLICK, 0, 0);
                           }
                           EXPECT_EQ(shared.state(), replay.state()) << "one shuffle per showing";
                           Press(d, IDCANCEL);
                         });
}

TEST(MouseFilter, WhichLeftButtonPressesAreSwallowed) {
  const struct {
    bool remote;
    bool injected;
    ULONG_PTR extraInfo;
    ULONG_PTR ownClick;
    bool swallowed;
  } cases[] = {
      {false, false, 0, 0, false},         {false, true, 0, 0, true},
      {false, true, 0, 0x5A17, true},      {false, true, 0xFF515780, 0, false},
      {false, true, 0xFF515600, 0, true},  {false, true, 0x5A17, 0x5A17, false},
      {false, true, 0x5A17, 0x5A18, true}, {false, true, 0x4B4F4241, 0x5A17, true},
      {true, false, 0, 0, true},           {true, true, 0x5A17, 0x5A17, true},
      {true, true, 0xFF515780, 0, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SwallowsLeftDown(c.remote, c.injected, c.extraInfo, c.ownClick), c.swallowed)
        << c.remote << " " << c.injected << " " << std::hex << c.extraInfo << " " << c.ownClick;
  }
  // Each own click carries a fresh value.
  const ULONG_PTR first = ArmOwnClick();
  const ULONG_PTR second = ArmOwnClick();
  EXPECT_NE(first, 0u);
  EXPECT_NE(first, second);
}

TEST(MouseFilter, RemoteSessionWhenTheConsoleSessionIsAnother) {
  const std::wstring path =
      L"Software\\KobaTests\\TerminalServer-" + std::to_wstring(GetCurrentProcessId());
  DWORD session = 0;
  ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &session));
  const struct {
    const char* what;
    bool makeKey;
    std::optional<DWORD> glass;
    bool remote;
  } cases[] = {
      {"no key", false, std::nullopt, false},
      {"no value", true, std::nullopt, false},
      {"this session", true, session, false},
      {"another session", true, session + 1, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.makeKey) {
      HKEY raw = nullptr;
      ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                &raw, nullptr),
                ERROR_SUCCESS);
      const RegKey key(raw);
      if (c.glass) {
        const DWORD value = *c.glass;
        RegSetValueExW(key.get(), L"GlassSessionId", 0, REG_DWORD,
                       reinterpret_cast<const BYTE*>(&value), sizeof value);
      }
    }
    EXPECT_EQ(RemoteSession(path.c_str()), c.remote);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str());
  }
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\KobaTests");
}

}  // namespace
}  // namespace VKey
