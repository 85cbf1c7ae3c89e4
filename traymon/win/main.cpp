// Q2Svr_KOBA, the per-user tray monitor: its command words, the single-instance rule of the
// session, the hidden window with its message loop, and the monitor started and stopped
// around it.
#include <windows.h>

#include <cstdio>

#include "install_roots.h"
#include "key_watcher.h"
#include "monitor_rules.h"
#include "monitor_window.h"
#include "settings.h"
#include "tray_notifier.h"
#include "usage_log.h"
#include "win_handle.h"

namespace {

using namespace koba::traymon;

constexpr DWORD kKillWaitMs = 500;
constexpr DWORD kCloseTimeoutMs = 5000;
constexpr DWORD kInstanceWaitMs = 100;

// The one monitor object of the process, bound to the token library before the entry point.
CKeyWatcher g_watcher;
CTrayNotifier g_tray;

// The "installTrayTip" icon: the first balloon, then the icon goes after 10 seconds or when
// the monitor ends, whichever is first.
struct TrayTip {
  koba::win::UniqueHandle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  koba::win::UniqueHandle thread;
};

DWORD WINAPI TrayTipMain(void* arg) {
  auto* tip = static_cast<TrayTip*>(arg);
  g_tray.ShowBalloon(1);
  WaitForSingleObject(tip->done.get(), kBalloonTimeoutMs);
  g_tray.Remove();
  return 0;
}

std::wstring InstanceMutexName() {
  DWORD session = 0;
  ProcessIdToSessionId(GetCurrentProcessId(), &session);
  wchar_t name[128];
  std::swprintf(name, 128, L"MutexNameGUID%lsOEMID%lsSESSIONID%dAPP%ls",
                L"299E7DB91AF94376AAB054268F95BF29", L"4823", static_cast<int>(session),
                L"VexloSvr");
  return name;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  const wchar_t* line = GetCommandLineW();
  const CommandWords words = ParseCommandWords(reinterpret_cast<const char16_t*>(line));
  HWND running = FindWindowW(koba::settings::kTrayWindowClass, koba::settings::kTrayWindowTitle);
  if (words.kill && running != nullptr) {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(running, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, kCloseTimeoutMs, &ignored);
    Sleep(kKillWaitMs);
  }
  if (words.install_root) {
    InstallRoots(words.skip_user_stores);
    std::wstring unused;
    ChooseUsageLogFile(&unused);
  }
  if (words.remove_root)
    RemoveInstalledRoots();
  if (words.kill || running != nullptr)
    return 1;

  const koba::win::UniqueHandle mutex(CreateMutexW(nullptr, FALSE, InstanceMutexName().c_str()));
  if (!mutex)
    return 0;
  const DWORD waited = WaitForSingleObject(mutex.get(), kInstanceWaitMs);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED)
    return 0;

  HWND window = CreateMonitorWindow(instance, &g_watcher, &g_tray);
  if (window == nullptr)
    return 0;

  TrayTip tip;
  if (words.install_tray_tip && g_tray.Add(window, instance))
    tip.thread.reset(CreateThread(nullptr, 0, TrayTipMain, &tip, 0, nullptr));

  g_watcher.Start();

  MSG msg{};
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (!IsDialogMessageW(window, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }

  g_watcher.Stop();
  if (tip.thread) {
    SetEvent(tip.done.get());
    WaitForSingleObject(tip.thread.get(), INFINITE);
  }
  ReleaseMutex(mutex.get());
  return static_cast<int>(msg.wParam);
}
