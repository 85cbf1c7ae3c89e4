// Q2Tool_KOBA: keeps one management tool on the user's desktop. The first start marks itself
// with a hidden window and runs the tool from the PIN pad library; a later start brings that
// tool to the front, closes it ("kill") or opens the bank's home page ("OpenKOBA").
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <string>

#include "code_signature.h"
#include "launch_rules.h"
#include "pinpad_api.h"
#include "settings.h"
#include "win_handle.h"

namespace {

using koba::launcher::Action;

constexpr wchar_t kLauncherClass[] = L"VexloToolsClass_KOBA";
constexpr wchar_t kLauncherTitle[] = L"VexloToolName_KOBA";
constexpr wchar_t kSettingsKey[] = L"Software\\Korvanet\\507Q2_KOBA";
constexpr wchar_t kMachineSettingsKey[] = L"SoftWare\\Korvanet\\507Q2_KOBA";
constexpr wchar_t kBrowserKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\iexplore.exe";
constexpr wchar_t kPinpadLibrary[] = L"Q2Pinpad_KOBA.dll";
constexpr int kLauncherIcon = 107;
constexpr WPARAM kBringToFront = 0x80000004;
constexpr WORD kCloseCommand = 105;
constexpr DWORD kSettleMs = 500;

// A value of a settings key opened by a create-or-open call for reading; false when the key
// or the value is missing or not of the type and size asked for.
bool QueryValue(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD wantType, void* data,
                DWORD* bytes) {
  HKEY raw = nullptr;
  if (RegCreateKeyExW(root, subkey, 0, nullptr, 0, KEY_QUERY_VALUE, nullptr, &raw, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  const koba::win::UniqueRegKey key(raw);
  DWORD type = 0;
  return RegQueryValueExW(key.get(), name, nullptr, &type, static_cast<BYTE*>(data), bytes) ==
             ERROR_SUCCESS &&
         type == wantType;
}

DWORD UserLangId() {
  DWORD value = 0;
  DWORD bytes = sizeof value;
  return QueryValue(HKEY_CURRENT_USER, kSettingsKey, L"LangId", REG_DWORD, &value, &bytes) &&
                 bytes == sizeof value
             ? value
             : 0;
}

// A REG_SZ of at most `capacity` bytes with its NUL; empty otherwise.
std::wstring ReadString(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD capacity) {
  std::wstring value(capacity / sizeof(wchar_t) + 1, L'\0');
  DWORD bytes = capacity;
  if (!QueryValue(root, subkey, name, REG_SZ, value.data(), &bytes) || bytes < sizeof(wchar_t) ||
      value[bytes / sizeof(wchar_t) - 1] != L'\0') {
    return {};
  }
  value.resize(bytes / sizeof(wchar_t) - 1);
  return value;
}

// The running tool's window, found by the title its language file gives it; nullptr when
// the settings or the file name none.
HWND FindToolWindow() {
  const DWORD language = UserLangId();
  if (language == 0) {
    return nullptr;
  }
  const std::wstring folder =
      ReadString(HKEY_LOCAL_MACHINE, kMachineSettingsKey, L"InstallPath", 256);
  if (folder.empty()) {
    return nullptr;
  }
  const std::wstring file = folder + L"\\langs\\" + std::to_wstring(language) + L".ini";
  wchar_t title[261] = {};
  GetPrivateProfileStringW(L"TEXT", L"STR_ID_USER_TOOL_DESC", L"", title, 261, file.c_str());
  return title[0] != L'\0' ? FindWindowW(nullptr, title) : nullptr;
}

void OpenHomePage() {
  std::wstring browser = ReadString(HKEY_LOCAL_MACHINE, kBrowserKey, nullptr, 256);
  std::wstring address = ReadString(HKEY_LOCAL_MACHINE, kMachineSettingsKey, L"HomePage", 2048);
  if (address.empty()) {
    address = koba::launcher::kDefaultHomePage;
  }
  std::wstring parameters = koba::launcher::BrowserParameters(address);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!browser.empty() && CreateProcessW(browser.c_str(), parameters.data(), nullptr, nullptr,
                                         FALSE, 0, nullptr, nullptr, &startup, &process)) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return;
  }
  ShellExecuteW(nullptr, L"open", L"IEXPLORE", parameters.c_str(), nullptr, SW_SHOWNORMAL);
}

void Kill(HWND earlierLauncher) {
  if (const HWND tool = FindToolWindow(); tool != nullptr) {
    SendMessageW(tool, WM_CLOSE, 0, 0);
  }
  Sleep(kSettleMs);
  if (earlierLauncher != nullptr) {
    SendMessageW(earlierLauncher, WM_DESTROY, 0, 0);
    Sleep(kSettleMs);
  }
}

LRESULT CALLBACK LauncherProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  if (message == WM_COMMAND && LOWORD(wParam) == kCloseCommand) {
    DestroyWindow(hwnd);
    return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

std::wstring OwnProgramPath() {
  std::wstring path(MAX_PATH, L'\0');
  while (true) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) {
      return {};
    }
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

// The launcher itself, the PIN pad library it runs and the key's vendor libraries are signed.
bool FilesSigned() {
  const std::wstring self = OwnProgramPath();
  return !self.empty() && koba::codesign::FileSignatureTrusted(self) &&
         koba::codesign::FileSignatureTrusted(koba::settings::SystemLibraryPath(kPinpadLibrary)) &&
         koba::codesign::VendorGateOpen();
}

// Runs the tool under the hidden launcher window until the user closes it.
void RunTool(HWND launcher) {
  const HMODULE pinpad = LoadLibraryW(koba::settings::SystemLibraryPath(kPinpadLibrary).c_str());
  if (pinpad == nullptr) {
    return;
  }
  const auto show = reinterpret_cast<VKey::ToolsShowInit_t>(
      reinterpret_cast<void*>(GetProcAddress(pinpad, "ToolsShowInit")));
  if (show != nullptr) {
    show(launcher);
  }
  FreeLibrary(pinpad);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  if (!FilesSigned()) {
    return 0;
  }
  const HWND earlier = FindWindowW(kLauncherClass, kLauncherTitle);
  const Action action = koba::launcher::ChooseAction(GetCommandLineW(), earlier != nullptr);
  switch (action) {
    case Action::kOpenHomePage:
      OpenHomePage();
      return koba::launcher::ExitCode(action);
    case Action::kKill:
      Kill(earlier);
      return koba::launcher::ExitCode(action);
    case Action::kBringToFront:
      if (const HWND tool = FindToolWindow(); tool != nullptr) {
        SendMessageW(tool, WM_ACTIVATE, kBringToFront, 0);
      }
      return koba::launcher::ExitCode(action);
    case Action::kStartTool:
      break;
  }
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = &LauncherProcedure;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kLauncherIcon));
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = kLauncherClass;
  RegisterClassExW(&windowClass);
  const HWND launcher = CreateWindowExW(0, kLauncherClass, kLauncherTitle, WS_OVERLAPPEDWINDOW, 0,
                                        0, 0, 0, nullptr, nullptr, instance, nullptr);
  if (launcher == nullptr) {
    return 0;
  }
  RunTool(launcher);
  if (IsWindow(launcher)) {
    DestroyWindow(launcher);
  }
  return 0;
}
