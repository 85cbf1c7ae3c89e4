// Helpers of the service's Windows tests: the programs built next to the test, child
// processes, and polls with deadlines.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "win_handle.h"

namespace koba::service::testing {

// The full path of `name` in the test program's own folder.
std::wstring NextToTest(const wchar_t* name);

// A child process, terminated when the owner goes if it still runs.
class Child {
 public:
  Child() = default;
  explicit Child(const std::wstring& command_line);
  Child(Child&& other) noexcept;
  Child& operator=(Child&& other) noexcept;
  ~Child();

  bool started() const { return info_.hProcess != nullptr; }
  HANDLE process() const { return info_.hProcess; }
  DWORD thread_id() const { return info_.dwThreadId; }
  DWORD process_id() const { return info_.dwProcessId; }
  // Waits for the end; returns false when it did not end within `ms`.
  bool WaitExit(DWORD ms, DWORD* exit_code = nullptr) const;
  // How the service stops its monitor: WM_QUIT to the main thread.
  void PostQuit() const;

 private:
  void Reset();
  PROCESS_INFORMATION info_{};
};

// Runs a command to its end (at most `ms`) and returns its exit code, or -1; `output` gets its
// standard output when given.
int RunToEnd(const std::wstring& command_line, DWORD ms, std::string* output = nullptr);

// Polls `condition` every 20 ms until it holds or `ms` have passed.
bool WaitUntil(const std::function<bool()>& condition, DWORD ms);

}  // namespace koba::service::testing
