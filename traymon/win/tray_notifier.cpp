#include "tray_notifier.h"

#include <cstdio>

#include "monitor_rules.h"
#include "settings.h"

namespace koba::traymon {
namespace {

constexpr DWORD kTextChars = 256;
constexpr DWORD kInstallPathChars = 260;

void CopyField(const std::wstring& text, wchar_t* field, size_t capacity) {
  const std::u16string fitted = FitText(std::u16string(text.begin(), text.end()), capacity);
  std::copy(fitted.begin(), fitted.end(), field);
  field[fitted.size()] = L'\0';
}

}  // namespace

std::wstring TrayText(const char* key) {
  wchar_t install[kInstallPathChars];
  if (settings::ReadRegStringW(HKEY_LOCAL_MACHINE, settings::kSettingsKey, L"InstallPath", install,
                               kInstallPathChars) != ERROR_SUCCESS) {
    return {};
  }
  DWORD language = 0;
  if (settings::ReadRegDword(HKEY_LOCAL_MACHINE, settings::kSettingsKey, L"Langid", &language) !=
          ERROR_SUCCESS ||
      language == 0) {
    language = GetSystemDefaultUILanguage();
  }
  wchar_t path[kInstallPathChars + 32];
  std::swprintf(path, sizeof path / sizeof path[0], L"%ls\\langs\\%lu.ini", install,
                static_cast<unsigned long>(language));
  wchar_t wide_key[32];
  std::swprintf(wide_key, 32, L"%hs", key);
  wchar_t text[kTextChars] = {};
  GetPrivateProfileStringW(L"TEXT", wide_key, L"", text, kTextChars, path);
  return text;
}

bool CTrayNotifier::Add(HWND window, HINSTANCE instance) {
  title_ = TrayText("Tray_Title");
  data_.cbSize = sizeof data_;
  data_.hWnd = window;
  data_.uID = kTrayIconId;
  data_.uCallbackMessage = kTrayCallbackMessage;
  data_.uFlags = NIF_ICON | NIF_MESSAGE;
  data_.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kTrayIconResource));
  if (!title_.empty()) {
    data_.uFlags |= NIF_TIP;
    CopyField(title_, data_.szTip, sizeof data_.szTip / sizeof data_.szTip[0]);
  }
  const BOOL ok = Shell_NotifyIconW(shown_ ? NIM_MODIFY : NIM_ADD, &data_);
  if (data_.hIcon != nullptr)
    DestroyIcon(data_.hIcon);
  data_.hIcon = nullptr;
  if (ok)
    InterlockedExchange(&shown_, 1);
  return ok != FALSE;
}

void CTrayNotifier::Remove() {
  if (InterlockedExchange(&shown_, 0) == 0)
    return;
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = data_.hWnd;
  data.uID = kTrayIconId;
  Shell_NotifyIconW(NIM_DELETE, &data);
}

void CTrayNotifier::ShowBalloon(int n) {
  if (!shown_)
    return;
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = data_.hWnd;
  data.uID = kTrayIconId;
  data.uFlags = NIF_INFO;
  CopyField(title_, data.szInfoTitle, sizeof data.szInfoTitle / sizeof data.szInfoTitle[0]);
  CopyField(TrayText(BalloonTextKey(n).c_str()), data.szInfo,
            sizeof data.szInfo / sizeof data.szInfo[0]);
  data.uTimeout = kBalloonTimeoutMs;
  data.dwInfoFlags = NIIF_INFO;
  Shell_NotifyIconW(NIM_MODIFY, &data);
}

}  // namespace koba::traymon
