// Test-only stand-in for Internet Explorer: records the command line it was started with in
// the file named by KOBA_BROWSER_LOG, so that the launcher's browser start can be checked.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t path[MAX_PATH] = {};
  if (GetEnvironmentVariableW(L"KOBA_BROWSER_LOG", path, MAX_PATH) == 0) {
    return 1;
  }
  const HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return 1;
  }
  const wchar_t* line = GetCommandLineW();
  DWORD written = 0;
  WriteFile(file, line, lstrlenW(line) * sizeof(wchar_t), &written, nullptr);
  CloseHandle(file);
  return 0;
}
