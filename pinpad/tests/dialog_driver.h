// Drives the library's modal dialogs from a second thread, as a user would: the test thread runs
// the dialog, the driver thread finds it, reads its controls and presses its buttons through
// window messages. Waits poll with a deadline.
#pragma once

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace VKey::testing {

constexpr std::chrono::milliseconds kDialogDeadline{10000};

// The enabled, visible dialog of the thread whose title satisfies match: with a nested box
// open, its owner is disabled, so this is the box on top. nullptr at the deadline. Looks every
// `poll` (a benchmark looks every millisecond).
inline HWND WaitForDialog(DWORD thread, const std::function<bool(HWND)>& match = nullptr,
                          std::chrono::milliseconds within = kDialogDeadline,
                          std::chrono::milliseconds poll = std::chrono::milliseconds(10)) {
  struct Search {
    const std::function<bool(HWND)>* match;
    HWND found = nullptr;
  } search{&match};
  const auto deadline = std::chrono::steady_clock::now() + within;
  while (std::chrono::steady_clock::now() < deadline) {
    search.found = nullptr;
    EnumThreadWindows(
        thread,
        [](HWND hwnd, LPARAM param) -> BOOL {
          auto* s = reinterpret_cast<Search*>(param);
          wchar_t cls[16] = {};
          GetClassNameW(hwnd, cls, 16);
          if (std::wstring(cls) == L"#32770" && IsWindowVisible(hwnd) && IsWindowEnabled(hwnd) &&
              (!*s->match || (*s->match)(hwnd))) {
            s->found = hwnd;
            return FALSE;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) {
      return search.found;
    }
    std::this_thread::sleep_for(poll);
  }
  return nullptr;
}

// A dialog of the thread other than previous (a box opened over it).
inline HWND WaitForDialogOtherThan(DWORD thread, HWND previous) {
  return WaitForDialog(thread, [previous](HWND hwnd) { return hwnd != previous; });
}

// Polls until condition holds; false at the deadline.
inline bool WaitUntil(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + kDialogDeadline;
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return condition();
}

// Waits until the box over a dialog is gone, then until the dialog's thread is back in its
// message loop, so that whatever the dialog did after the box closed has been done.
inline bool WaitClosed(HWND box, HWND dialog) {
  const bool gone = WaitUntil([box] { return IsWindow(box) == FALSE; });
  SendMessageW(dialog, WM_NULL, 0, 0);
  return gone;
}

inline std::wstring WindowText(HWND hwnd) {
  wchar_t text[512] = {};
  GetWindowTextW(hwnd, text, 512);
  return text;
}

inline std::wstring ItemText(HWND dialog, int id) {
  return WindowText(GetDlgItem(dialog, id));
}

// Presses a button the way a click does, without waiting for what the press opens.
inline void Press(HWND dialog, int id) {
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// Runs run() (which shows a modal dialog) on this thread while drive(thread id) works from a
// second thread. When drive returns with the dialog still open, its dialogs are cancelled, so
// that a failing driver never leaves the test hanging.
template <typename Result>
Result RunWithDriver(const std::function<Result()>& run, const std::function<void(DWORD)>& drive) {
  const DWORD self = GetCurrentThreadId();
  std::mutex lock;
  std::condition_variable ended;
  bool finished = false;
  std::thread driver([&] {
    drive(self);
    const auto deadline = std::chrono::steady_clock::now() + kDialogDeadline;
    std::unique_lock<std::mutex> held(lock);
    while (!finished && std::chrono::steady_clock::now() < deadline) {
      EnumThreadWindows(
          self,
          [](HWND hwnd, LPARAM) -> BOOL {
            wchar_t cls[16] = {};
            GetClassNameW(hwnd, cls, 16);
            if (std::wstring(cls) == L"#32770" && IsWindowEnabled(hwnd)) {
              PostMessageW(hwnd, WM_COMMAND, IDCANCEL, 0);
            }
            return TRUE;
          },
          0);
      ended.wait_for(held, std::chrono::milliseconds(50));
    }
  });
  const Result result = run();
  {
    const std::lock_guard<std::mutex> held(lock);
    finished = true;
  }
  ended.notify_one();
  driver.join();
  return result;
}

}  // namespace VKey::testing
