#include "launch_rules.h"

#include <gtest/gtest.h>

namespace koba::launcher {
namespace {

TEST(LaunchRules, CommandWordsAndExitCodes) {
  const struct {
    const wchar_t* commandLine;
    bool earlier;
    Action action;
    int exitCode;
  } cases[] = {
      {L"", false, Action::kStartTool, 0},
      {L"", true, Action::kBringToFront, 1},
      {L"Q2Tool_KOBA.exe OpenKOBA", false, Action::kOpenHomePage, 1},
      {L"xOpenKOBAx", true, Action::kOpenHomePage, 1},
      {L"kill OpenKOBA", true, Action::kOpenHomePage, 1},  // the home page wins
      {L"kill", false, Action::kKill, 1},
      {L"/skill", true, Action::kKill, 1},
      {L"KILL openkoba", true, Action::kBringToFront, 1},  // case-sensitive
      {L"KILL", false, Action::kStartTool, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ChooseAction(c.commandLine, c.earlier), c.action) << c.commandLine;
    EXPECT_EQ(ExitCode(ChooseAction(c.commandLine, c.earlier)), c.exitCode) << c.commandLine;
  }
}

TEST(LaunchRules, BrowserParametersStartWithASpace) {
  EXPECT_EQ(BrowserParameters(L"https://bank.example/"), L" https://bank.example/");
}

}  // namespace
}  // namespace koba::launcher
