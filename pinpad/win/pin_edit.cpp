#include "pin_edit.h"

#include <commctrl.h>

#include <algorithm>
#include <string>

#include "pad_module.h"
#include "soft_pad.h"

namespace VKey {
namespace {

constexpr UINT_PTR kSubclassId = 0x50494E;  // "PIN"
constexpr UINT_PTR kHookTimer = 0x4B42;
constexpr UINT kHookRenewMs = 2000;
constexpr wchar_t kMask = L'*';

uint32_t ProcessSecret() {
  static const uint32_t secret = RandomWord();
  return secret;
}

const PhysicalKeyMap& KeyMap() {
  static const PhysicalKeyMap map([](char c) { return static_cast<int16_t>(VkKeyScanA(c)); });
  return map;
}

// The process-wide keyboard filter and the field it feeds.
HHOOK g_keyboardHook = nullptr;
HWND g_filterField = nullptr;
DeviceValue g_filterDeviceValue{};

bool Down(int vk) {
  return (GetAsyncKeyState(vk) & 0x8000) != 0;
}

// Shift and Ctrl as the filter has seen them go down and up, taken from the key state when a
// field gains the focus. The filter runs before the system records the event it filters, and the
// recorded state may lag behind the events already filtered, so it keeps its own.
struct Modifiers {
  bool leftShift = false;
  bool rightShift = false;
  bool leftCtrl = false;
  bool rightCtrl = false;

  void Sync() {
    leftShift = Down(VK_LSHIFT);
    rightShift = Down(VK_RSHIFT);
    leftCtrl = Down(VK_LCONTROL);
    rightCtrl = Down(VK_RCONTROL);
  }
  void See(DWORD vk, bool down) {
    switch (vk) {
      case VK_SHIFT:
      case VK_LSHIFT:
        leftShift = down;
        break;
      case VK_RSHIFT:
        rightShift = down;
        break;
      case VK_CONTROL:
      case VK_LCONTROL:
        leftCtrl = down;
        break;
      case VK_RCONTROL:
        rightCtrl = down;
        break;
      default:
        break;
    }
  }
  bool shift() const { return leftShift || rightShift; }
  bool ctrl() const { return leftCtrl || rightCtrl; }
};
Modifiers g_modifiers;

LRESULT CALLBACK KeyboardFilter(int code, WPARAM wParam, LPARAM lParam) {
  if (code != HC_ACTION || g_filterField == nullptr) {
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }
  const auto* event = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
  KeyEventState state;
  state.keyDown = wParam == WM_KEYDOWN || wParam == WM_SYSKEYDOWN;
  g_modifiers.See(event->vkCode, state.keyDown);
  state.shift = g_modifiers.shift();
  state.ctrl = g_modifiers.ctrl();
  state.alt = (event->flags & LLKHF_ALTDOWN) != 0;
  state.capsLock = (GetKeyState(VK_CAPITAL) & 1) != 0;
  const PinKeyAction action = KeyMap().Map(event->vkCode, state);
  switch (action.kind) {
    case PinKeyAction::kPass:
      return CallNextHookEx(nullptr, code, wParam, lParam);
    case PinKeyAction::kInsert: {
      SendMessageW(g_filterField, kPinEditMessage, kPinInsert,
                   static_cast<LPARAM>(EncodePinCharacter(g_filterDeviceValue, action.character)));
      return 1;
    }
    case PinKeyAction::kCommand:
      SendMessageW(g_filterField, kPinEditMessage, static_cast<WPARAM>(action.command), 0);
      return 1;
    case PinKeyAction::kSwallow:
      return 1;
  }
  return 1;
}

}  // namespace

void RemoveKeyboardFilter() {
  if (g_keyboardHook != nullptr) {
    UnhookWindowsHookEx(g_keyboardHook);
    g_keyboardHook = nullptr;
  }
}

namespace {

// Installs the hook anew, so that it stays first in the chain.
void RenewKeyboardHook() {
  RemoveKeyboardFilter();
  g_keyboardHook = SetWindowsHookExW(WH_KEYBOARD_LL, &KeyboardFilter, PadModule(), 0);
}

bool IsNavigationKey(WPARAM vk) {
  return vk == VK_LEFT || vk == VK_RIGHT || vk == VK_HOME || vk == VK_END;
}

}  // namespace

PinEntryCodec PinCodec(const DeviceValue& deviceValue) {
  return PinEntryCodec(deviceValue.data(), ProcessSecret());
}

uint32_t EncodePinCharacter(const DeviceValue& deviceValue, char character) {
  return PinCodec(deviceValue).Encode(static_cast<unsigned char>(character), RandomWord());
}

CPinEdit::~CPinEdit() {
  Detach();
  SecureZeroMemory(entries_.data(), entries_.capacity() * sizeof(uint32_t));
}

bool CPinEdit::Attach(HWND edit, const DeviceValue& deviceValue, size_t limit) {
  Detach();
  if (edit == nullptr || !SetWindowSubclass(edit, &CPinEdit::Procedure, kSubclassId,
                                            reinterpret_cast<DWORD_PTR>(this))) {
    return false;
  }
  hwnd_ = edit;
  deviceValue_ = deviceValue;
  limit_ = limit;
  DefSubclassProc(edit, EM_LIMITTEXT, limit, 0);
  Clear();
  if (GetFocus() == edit) {
    StartKeyboardFilter();
  }
  return true;
}

void CPinEdit::Detach() {
  if (hwnd_ == nullptr) {
    return;
  }
  StopKeyboardFilter();
  RemoveWindowSubclass(hwnd_, &CPinEdit::Procedure, kSubclassId);
  hwnd_ = nullptr;
}

SecretBytes CPinEdit::TakePin() const {
  const PinEntryCodec codec = PinCodec(deviceValue_);
  SecretBytes pin;
  pin.reserve(entries_.size() + 1);
  for (const uint32_t entry : entries_) {
    pin.push_back(static_cast<char>(codec.Decode(entry)));
  }
  return pin;
}

void CPinEdit::Clear() {
  Erase(0, entries_.size());
  Show(0);
}

std::pair<size_t, size_t> CPinEdit::Selection() const {
  DWORD start = 0;
  DWORD end = 0;
  DefSubclassProc(hwnd_, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                  reinterpret_cast<LPARAM>(&end));
  const size_t n = entries_.size();
  return {std::min<size_t>(start, n), std::min<size_t>(std::max(start, end), n)};
}

void CPinEdit::Erase(size_t from, size_t to) {
  if (from >= to) {
    return;
  }
  entries_.erase(entries_.begin() + static_cast<ptrdiff_t>(from),
                 entries_.begin() + static_cast<ptrdiff_t>(to));
  WipeTail(&entries_, entries_.size());
}

void CPinEdit::Show(size_t caret) {
  const std::wstring mask(entries_.size(), kMask);
  updating_ = true;
  DefSubclassProc(hwnd_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(mask.c_str()));
  updating_ = false;
  DefSubclassProc(hwnd_, EM_SETSEL, caret, caret);
  const HWND parent = GetParent(hwnd_);
  if (parent != nullptr) {
    SendMessageW(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(hwnd_), EN_CHANGE),
                 reinterpret_cast<LPARAM>(hwnd_));
  }
}

LRESULT CPinEdit::Command(WPARAM command, LPARAM lParam) {
  auto [from, to] = Selection();
  switch (command) {
    case kPinInsert: {
      const auto entry = static_cast<uint32_t>(lParam);
      if (from == to && entries_.size() >= limit_) {
        return FALSE;
      }
      Erase(from, to);
      entries_.insert(entries_.begin() + static_cast<ptrdiff_t>(from), entry);
      Show(from + 1);
      return TRUE;
    }
    case kPinBack:
      if (from == to) {
        if (from == 0) {
          return FALSE;
        }
        --from;
      }
      Erase(from, to);
      Show(from);
      return TRUE;
    case kPinDelete:
      if (from == to) {
        if (to == entries_.size()) {
          return FALSE;
        }
        ++to;
      }
      Erase(from, to);
      Show(from);
      return TRUE;
    case kPinClear:
      Clear();
      return TRUE;
    default:
      return FALSE;
  }
}

void CPinEdit::StartKeyboardFilter() {
  g_filterField = hwnd_;
  g_filterDeviceValue = deviceValue_;
  g_modifiers.Sync();
  RenewKeyboardHook();
  SetTimer(hwnd_, kHookTimer, kHookRenewMs, nullptr);
}

void CPinEdit::StopKeyboardFilter() {
  KillTimer(hwnd_, kHookTimer);
  if (g_filterField == hwnd_) {
    g_filterField = nullptr;
    RemoveKeyboardFilter();
  }
}

LRESULT CALLBACK CPinEdit::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                     UINT_PTR, DWORD_PTR selfValue) {
  auto* self = reinterpret_cast<CPinEdit*>(selfValue);
  switch (message) {
    case kPinEditMessage:
      return self->Command(wParam, lParam);
    case WM_KEYDOWN:
      if (IsNavigationKey(wParam)) {
        break;
      }
      return 0;
    case WM_CHAR:
    case WM_UNICHAR:
    case WM_IME_CHAR:
    case WM_DEADCHAR:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_RBUTTONDBLCLK:
    case WM_CONTEXTMENU:
    case WM_PASTE:
    case WM_CUT:
    case WM_COPY:
    case WM_CLEAR:
    case WM_UNDO:
    case EM_UNDO:
    case EM_REPLACESEL:
      return 0;
    case WM_SETTEXT:
      if (!self->updating_) {
        return FALSE;
      }
      break;
    case WM_SETFOCUS:
      self->StartKeyboardFilter();
      break;
    case WM_KILLFOCUS:
      self->StopKeyboardFilter();
      break;
    case WM_TIMER:
      if (wParam == kHookTimer) {
        if (g_filterField == hwnd) {
          RenewKeyboardHook();
        }
        return 0;
      }
      break;
    case WM_NCDESTROY:
      self->Detach();
      break;
    default:
      break;
  }
  return DefSubclassProc(hwnd, message, wParam, lParam);
}

}  // namespace VKey
