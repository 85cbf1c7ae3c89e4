#include "launch_rules.h"

#include <string>

namespace koba::launcher {

Action ChooseAction(std::wstring_view commandLine, bool earlierLauncherRuns) {
  if (commandLine.find(L"OpenKOBA") != std::wstring_view::npos) {
    return Action::kOpenHomePage;
  }
  if (commandLine.find(L"kill") != std::wstring_view::npos) {
    return Action::kKill;
  }
  return earlierLauncherRuns ? Action::kBringToFront : Action::kStartTool;
}

std::wstring BrowserParameters(std::wstring_view address) {
  return L" " + std::wstring(address);
}

}  // namespace koba::launcher
