#include "mouse_filter.h"

#include <atomic>
#include <optional>

#include "pad_module.h"
#include "secret_memory.h"
#include "win_text_env.h"

namespace VKey {
namespace {

// Injected presses that carry this signature come from pen or touch input.
constexpr ULONG_PTR kPenSignatureMask = 0xFF515700;

HHOOK g_mouseHook = nullptr;
bool g_remoteSession = false;
std::atomic<ULONG_PTR> g_ownClick{0};

bool PenOrTouch(ULONG_PTR extraInfo) {
  return (extraInfo & kPenSignatureMask) == kPenSignatureMask;
}

LRESULT CALLBACK MouseFilter(int code, WPARAM wParam, LPARAM lParam) {
  if (code != HC_ACTION) {
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }
  if (wParam != WM_LBUTTONDOWN) {
    return 0;
  }
  const auto* event = reinterpret_cast<const MSLLHOOKSTRUCT*>(lParam);
  const bool injected = (event->flags & LLMHF_INJECTED) != 0;
  const ULONG_PTR own = g_ownClick.load();
  if (SwallowsLeftDown(g_remoteSession, injected, event->dwExtraInfo, own)) {
    return 1;
  }
  if (injected && own != 0 && event->dwExtraInfo == own) {
    ULONG_PTR armed = own;  // good for this one press
    g_ownClick.compare_exchange_strong(armed, 0);
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

ULONG_PTR ArmOwnClick() {
  ULONG_PTR value = 0;
  // Zero means no armed click, and a pen signature would pass by itself.
  while (value == 0 || PenOrTouch(value)) {
    value = RandomWord();
    if constexpr (sizeof value > sizeof(uint32_t)) {
      value = value << 32 | RandomWord();
    }
  }
  g_ownClick.store(value);
  return value;
}

bool SwallowsLeftDown(bool remoteSession, bool injected, ULONG_PTR extraInfo, ULONG_PTR ownClick) {
  if (remoteSession) {
    return true;
  }
  const bool own = ownClick != 0 && extraInfo == ownClick;
  return injected && !PenOrTouch(extraInfo) && !own;
}

bool RemoteSession(const wchar_t* terminalServerKey) {
  if (GetSystemMetrics(SM_REMOTESESSION) != 0) {
    return true;
  }
  const std::optional<uint32_t> glass =
      ReadRegDword(HKEY_LOCAL_MACHINE, terminalServerKey, L"GlassSessionId");
  DWORD session = 0;
  return glass && ProcessIdToSessionId(GetCurrentProcessId(), &session) && *glass != session;
}

void InstallMouseFilter() {
  if (g_mouseHook == nullptr) {
    g_remoteSession = RemoteSession();
    g_mouseHook = SetWindowsHookExW(WH_MOUSE_LL, &MouseFilter, PadModule(), 0);
  }
}

void RemoveMouseFilter() {
  if (g_mouseHook != nullptr) {
    UnhookWindowsHookEx(g_mouseHook);
    g_mouseHook = nullptr;
  }
}

}  // namespace VKey
