// CTrayNotifier, the tray icon and its two balloons ("TrayTip01" when a key arrives,
// "TrayTip02" when one goes), with texts from the install folder's plain language files.
#pragma once

#include <windows.h>
// After windows.h.
#include <shellapi.h>

#include <string>

namespace koba::traymon {

constexpr UINT kTrayIconId = 150;
constexpr UINT kTrayCallbackMessage = WM_USER + 102;
constexpr int kTrayIconResource = 123;
constexpr UINT kBalloonTimeoutMs = 10000;

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(NOTIFYICONDATAW) == 956, "tray record of a 32-bit process");
#endif

// A text of section "TEXT" in "<InstallPath>\langs\<language id>.ini"; the language id is the
// machine setting "Langid", or the system's UI language when it is missing or 0. Empty when the
// file or key is missing; at most 255 characters.
std::wstring TrayText(const char* key);

class CTrayNotifier {
 public:
  CTrayNotifier() = default;
  ~CTrayNotifier() { Remove(); }
  CTrayNotifier(const CTrayNotifier&) = delete;
  CTrayNotifier& operator=(const CTrayNotifier&) = delete;

  // Shows the icon for `window` (or updates it when it is shown), with the title as its tip.
  bool Add(HWND window, HINSTANCE instance);
  void Remove();
  // Balloon 1 or 2; nothing when the icon is not shown.
  void ShowBalloon(int n);
  bool shown() const { return shown_ != 0; }

 private:
  NOTIFYICONDATAW data_{};
  std::wstring title_;
  volatile LONG shown_ = 0;
};

}  // namespace koba::traymon
