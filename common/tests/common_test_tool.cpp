// A second process for the shared-services tests:
//   append MEDIA NAME COUNT   appends COUNT records; exit 0 when every append succeeded
//   hold                      holds the log mutex, writes "held" and waits for stdin to close
//   register PROVIDER CONTAINER KEYSPEC FILE   registers the DER certificate in FILE
//   tray TITLE EVENT          stands in for the tray monitor: a window of its class with TITLE
//                             ("-": none) and, when EVENT is 1, its rescan event; writes
//                             "ready", waits for stdin to close; exit 0, or 3 when the event
//                             exists and was not signalled
//   trayprobe                 writes what IsTrayMonitorRunning and SignalTrayMonitor return
// The desktop and the tray helpers are used only here, so that the desktop process Wine
// starts for them does not hold the test runner's output open.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cert_store.h"
#include "diag_log.h"
#include "settings.h"

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "append") == 0) {
    koba::diaglog::DiagnosticLog log;
    const int count = std::atoi(argv[4]);
    for (int i = 0; i < count; ++i) {
      if (log.AppendLogRecord(argv[2], argv[3]) != 1)
        return 1;
    }
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "hold") == 0) {
    koba::diaglog::DiagnosticLog log;
    if (!log.AcquireLogMutex())
      return 1;
    std::fputs("held\n", stdout);
    std::fflush(stdout);
    char buf[16];
    while (std::fread(buf, 1, sizeof buf, stdin) > 0) {
    }
    log.ReleaseLogMutex();
    return 0;
  }
  if (argc == 6 && std::strcmp(argv[1], "register") == 0) {
    std::ifstream in(argv[5], std::ios::binary);
    const std::vector<char> der((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
    if (der.empty())
      return 2;
    return static_cast<int>(koba::certstore::RegisterCertificate(
        argv[2], argv[3], static_cast<DWORD>(std::atoi(argv[4])),
        reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size())));
  }
  if (argc == 4 && std::strcmp(argv[1], "tray") == 0) {
    using namespace koba::settings;
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kTrayWindowClass;
    RegisterClassW(&wc);
    std::wstring title(argv[2], argv[2] + std::strlen(argv[2]));
    HWND window = nullptr;
    if (title != L"-") {
      if (title == L"monitor")
        title = kTrayWindowTitle;
      window = CreateWindowW(kTrayWindowClass, title.c_str(), 0, 0, 0, 0, 0, nullptr, nullptr,
                             wc.hInstance, nullptr);
      if (window == nullptr)
        return 1;
    }
    HANDLE event = nullptr;
    if (std::strcmp(argv[3], "1") == 0)
      event = CreateEventW(nullptr, FALSE, FALSE, kTrayRescanEvent);
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    char buf[16];
    while (std::fread(buf, 1, sizeof buf, stdin) > 0) {
    }
    int code = 0;
    if (event != nullptr) {
      code = WaitForSingleObject(event, 0) == WAIT_OBJECT_0 ? 0 : 3;
      CloseHandle(event);
    }
    if (window != nullptr)
      DestroyWindow(window);
    return code;
  }
  if (argc == 2 && std::strcmp(argv[1], "trayprobe") == 0) {
    std::printf("%d %d\n", koba::settings::IsTrayMonitorRunning(),
                koba::settings::SignalTrayMonitor());
    return 0;
  }
  return 64;
}
