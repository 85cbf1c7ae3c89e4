/* Holds the Wine desktop open for a whole test run. Wine closes the default desktop about a
   second after the last thread using it goes away; a process starting at that moment cannot
   open it and fails to start or is killed with it. This program owns a hidden window on the
   desktop, so the desktop always has a user, and sleeps in its message loop until it is
   killed at the end of the run. Once its window exists it writes "ready" to its output and
   closes it, so that the run starts only when the desktop is held. */
#include <windows.h>

static LRESULT CALLBACK KeeperProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_CLOSE)
    return 0; /* the desktop stays while the run lasts */
  return DefWindowProcW(hwnd, msg, wp, lp);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE prev, PWSTR cmd, int show) {
  (void)prev;
  (void)cmd;
  (void)show;
  WNDCLASSW wc = {0};
  wc.lpfnWndProc = KeeperProc;
  wc.hInstance = instance;
  wc.lpszClassName = L"KobaDesktopKeeper";
  if (!RegisterClassW(&wc))
    return 1;
  if (!CreateWindowExW(WS_EX_TOOLWINDOW, wc.lpszClassName, L"", WS_POPUP, 0, 0, 1, 1, NULL, NULL,
                       instance, NULL))
    return 1;
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD written = 0;
  if (!WriteFile(out, "ready\n", 6, &written, NULL) || written != 6)
    return 1;
  CloseHandle(out);
  MSG msg;
  while (GetMessageW(&msg, NULL, 0, 0) > 0)
    DispatchMessageW(&msg);
  return 0;
}
