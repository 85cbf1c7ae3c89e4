/* Test-only: stands in for the tray monitor's hidden window and rescan event, so that tests
 * see whether a program signals a rescan instead of registering certificates itself. Prints
 * "ready" once both exist, then "rescan" when the event is set and exits 0; exits 1 when
 * nothing comes within the timeout (milliseconds, first argument, default 60000). */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

int wmain(int argc, wchar_t** argv) {
  const DWORD timeout = argc > 1 ? (DWORD)wcstoul(argv[1], NULL, 10) : 60000;
  HANDLE event = CreateEventW(NULL, FALSE, FALSE, L"Vexlo_EventName_Q2Svr_KOBA.exe");
  WNDCLASSW wc = {0};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(NULL);
  wc.lpszClassName = L"VexloSvrClass_KOBA";
  if (event == NULL || !RegisterClassW(&wc))
    return 2;
  HWND window = CreateWindowW(L"VexloSvrClass_KOBA", L"VexloSvr001_KOBA", 0, 0, 0, 0, 0, NULL, NULL,
                              wc.hInstance, NULL);
  if (window == NULL)
    return 2;
  printf("ready\n");
  fflush(stdout);
  const DWORD start = GetTickCount();
  for (;;) {
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= timeout)
      return 1;
    const DWORD r = MsgWaitForMultipleObjects(1, &event, FALSE, timeout - elapsed, QS_ALLINPUT);
    if (r == WAIT_OBJECT_0) {
      printf("rescan\n");
      fflush(stdout);
      DestroyWindow(window);
      return 0;
    }
    MSG msg;
    while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE))
      DispatchMessageW(&msg);
  }
}
