// The installed launcher under Wine: the first start runs the tool, later starts bring it to
// the front, open the home page through the browser's App Paths entry, or close it.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <iterator>
#include <string>
#include <thread>

#include "device.h"
#include "store.h"

namespace {

constexpr wchar_t kToolTitle[] = L"USB Key Management Tool";
constexpr wchar_t kSettings[] = L"Software\\Korvanet\\507Q2_KOBA";
constexpr wchar_t kBrowserKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\iexplore.exe";
constexpr std::chrono::seconds kDeadline{20};

bool WaitUntil(const std::function<bool()>& condition) {
  const auto end = std::chrono::steady_clock::now() + kDeadline;
  while (std::chrono::steady_clock::now() < end) {
    if (condition()) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return condition();
}

void SetString(HKEY root, const wchar_t* subkey, const wchar_t* name, const std::wstring& value) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(root, subkey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr), 0);
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
}

void SetUserLangId(const DWORD* value) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kSettings, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                            nullptr),
            0);
  if (value != nullptr) {
    RegSetValueExW(key, L"LangId", 0, REG_DWORD, reinterpret_cast<const BYTE*>(value),
                   sizeof *value);
  } else {
    RegDeleteValueW(key, L"LangId");
  }
  RegCloseKey(key);
}

std::wstring LauncherPath() {
  wchar_t folder[MAX_PATH] = {};
  DWORD bytes = sizeof folder;
  RegGetValueW(HKEY_LOCAL_MACHINE, kSettings, L"InstallPath", RRF_RT_REG_SZ, nullptr, folder,
               &bytes);
  return std::wstring(folder) + L"\\Q2Tool_KOBA.exe";
}

struct Started {
  HANDLE process = nullptr;
  ~Started() {
    if (process != nullptr) {
      CloseHandle(process);
    }
  }
};

bool Start(const std::wstring& arguments, Started* started) {
  std::wstring line = L"\"" + LauncherPath() + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info)) {
    return false;
  }
  CloseHandle(info.hThread);
  started->process = info.hProcess;
  return true;
}

// Runs a later start to its end; its exit code, or -1.
int RunToEnd(const std::wstring& arguments) {
  Started started;
  if (!Start(arguments, &started) || WaitForSingleObject(started.process, 30000) != WAIT_OBJECT_0) {
    return -1;
  }
  DWORD code = 0;
  GetExitCodeProcess(started.process, &code);
  return static_cast<int>(code);
}

int CountToolWindows() {
  int count = 0;
  EnumWindows(
      [](HWND hwnd, LPARAM param) -> BOOL {
        wchar_t title[128] = {};
        GetWindowTextW(hwnd, title, 128);
        *reinterpret_cast<int*>(param) += std::wstring(title) == kToolTitle ? 1 : 0;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&count));
  return count;
}

HWND ToolWindow() {
  return FindWindowW(nullptr, kToolTitle);
}

class Launcher : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"launcher-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder_.c_str(), nullptr);
    SetEnvironmentVariableW(L"KOBA_VKEY_STORE", folder_.c_str());
    log_ = folder_ + L"\\browser.log";
    SetEnvironmentVariableW(L"KOBA_BROWSER_LOG", log_.c_str());
    ASSERT_TRUE(vkey::Transact([](vkey::Store& s) {
      s.keys.clear();
      vkey::AddKey(s, "TOOL0001", false).usb_mode = 0x80;
      return true;
    }));
    const DWORD english = 1033;
    SetUserLangId(&english);
  }

  void TearDown() override {
    if (ToolWindow() != nullptr) {
      RunToEnd(L"kill");
    }
  }

  // The first start, with its tool on the screen.
  void StartTool(Started* first) {
    ASSERT_TRUE(Start(L"", first));
    ASSERT_TRUE(WaitUntil([] {
      return ToolWindow() != nullptr && IsWindowVisible(ToolWindow()) &&
             FindWindowW(L"VexloToolsClass_KOBA", L"VexloToolName_KOBA") != nullptr;
    }));
  }

  std::wstring folder_;
  std::wstring log_;
};

TEST_F(Launcher, SecondStartBringsTheToolToTheFront) {
  Started first;
  StartTool(&first);
  const HWND launcher = FindWindowW(L"VexloToolsClass_KOBA", L"VexloToolName_KOBA");
  EXPECT_FALSE(IsWindowVisible(launcher)) << "the launcher's window is never shown";
  ShowWindow(ToolWindow(), SW_MINIMIZE);
  ASSERT_TRUE(WaitUntil([] { return IsIconic(ToolWindow()) != FALSE; }));
  EXPECT_EQ(RunToEnd(L""), 1);
  EXPECT_TRUE(WaitUntil([] { return !IsIconic(ToolWindow()); })) << "activated";
  EXPECT_EQ(CountToolWindows(), 1);

  // Without the user's LangId no tool window is addressed: nothing is sent.
  ShowWindow(ToolWindow(), SW_MINIMIZE);
  ASSERT_TRUE(WaitUntil([] { return IsIconic(ToolWindow()) != FALSE; }));
  SetUserLangId(nullptr);
  EXPECT_EQ(RunToEnd(L""), 1);
  EXPECT_TRUE(IsIconic(ToolWindow()));
  const DWORD english = 1033;
  SetUserLangId(&english);

  // "kill" closes the tool, and the first launcher ends.
  EXPECT_EQ(RunToEnd(L"kill"), 1);
  EXPECT_TRUE(WaitUntil([] { return ToolWindow() == nullptr; }));
  ASSERT_EQ(WaitForSingleObject(first.process, 20000), WAIT_OBJECT_0);
  DWORD code = 99;
  GetExitCodeProcess(first.process, &code);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(FindWindowW(L"VexloToolsClass_KOBA", L"VexloToolName_KOBA"), nullptr);
}

TEST_F(Launcher, OpenKobaStartsTheBrowserAndLeavesTheToolAlone) {
  SetString(HKEY_LOCAL_MACHINE, kBrowserKey, nullptr, BROWSER_STUB);
  SetString(HKEY_LOCAL_MACHINE, kSettings, L"HomePage", L"https://bank.example/home");
  Started first;
  StartTool(&first);
  DeleteFileW(log_.c_str());
  EXPECT_EQ(RunToEnd(L"kill OpenKOBA"), 1);
  // The stub holds the file to itself until it has written it.
  std::wstring line;
  ASSERT_TRUE(WaitUntil([&] {
    const HANDLE file =
        CreateFileW(log_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      return false;
    }
    line.assign(256, L'\0');
    DWORD read = 0;
    ReadFile(file, line.data(), static_cast<DWORD>(line.size() * sizeof(wchar_t)), &read, nullptr);
    CloseHandle(file);
    line.resize(read / sizeof(wchar_t));
    return true;
  }));
  EXPECT_EQ(line, L" https://bank.example/home");
  EXPECT_NE(ToolWindow(), nullptr) << "only the home page was opened";
  EXPECT_EQ(RunToEnd(L"kill"), 1);
}

TEST_F(Launcher, KillWithNoToolEndsWithOne) {
  ASSERT_EQ(ToolWindow(), nullptr);
  EXPECT_EQ(RunToEnd(L"kill"), 1);
}

}  // namespace
