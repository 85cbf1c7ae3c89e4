// The launcher's command words and what a start does with them. Windows-free.
#pragma once

#include <string_view>

namespace koba::launcher {

enum class Action {
  kOpenHomePage,  // "OpenKOBA": open the bank's home page; the tool is left alone
  kKill,          // "kill": close the tool (and the earlier launcher, when one runs)
  kBringToFront,  // a second start: activate the running tool
  kStartTool,     // the first start: run the tool
};

// The words are case-sensitive substrings anywhere in the command line, "OpenKOBA" first.
Action ChooseAction(std::wstring_view commandLine, bool earlierLauncherRuns);

// The program's exit code once the action has been handled.
constexpr int ExitCode(Action action) {
  return action == Action::kStartTool ? 0 : 1;
}

// The bank's home page when the settings name none.
constexpr wchar_t kDefaultHomePage[] = L"https://www.koba-bank.com/";

// The parameter text the browser is started with: one space, then the address.
std::wstring BrowserParameters(std::wstring_view address);

}  // namespace koba::launcher
