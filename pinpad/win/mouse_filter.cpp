#include "mouse_filter.h"

#include <optional>

#include "pad_module.h"
#include "win_handles.h"
#include "win_text_env.h"

namespace VKey {
namespace {

// Injected presses that carry this signature come from pen or touch input.
constexpr ULONG_PTR kPenSignatureMask = 0xFF515700;

HHOOK g_mouseHook = nullptr;
bool g_remoteSession = false;

LRESULT CALLBACK MouseFilter(int code, WPARAM wParam, LPARAM lParam) {
  if (code != HC_ACTION) {
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }
  if (wParam != WM_LBUTTONDOWN) {
    return 0;
  }
  const auto* event = reinterpret_cast<const MSLLHOOKSTRUCT*>(lParam);
  if (SwallowsLeftDown(g_remoteSession, (event->flags & LLMHF_INJECTED) != 0, event->dwExtraInfo)) {
    return 1;
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

bool SwallowsLeftDown(bool remoteSession, bool injected, ULONG_PTR extraInfo) {
  if (remoteSession) {
    return true;
  }
  const bool penOrTouch = (extraInfo & kPenSignatureMask) == kPenSignatureMask;
  return injected && !penOrTouch && extraInfo != kOwnClickInfo;
}

bool RemoteSession(const wchar_t* terminalServerKey) {
  if (GetSystemMetrics(SM_REMOTESESSION) != 0) {
    return true;
  }
  HKEY raw = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, terminalServerKey, 0, KEY_READ, &raw) != ERROR_SUCCESS) {
    return false;
  }
  const RegKey key(raw);
  const std::optional<uint32_t> glass = ReadRegDword(key.get(), L"GlassSessionId");
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
