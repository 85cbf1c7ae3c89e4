// GMUsbKeySign's time from the request to the PIN dialog on screen, and from the user's Enter to
// the reply, through the token core with the built PIN pad library and the installed virtual
// key, side by side in one run with a bare dialog of the same thread (the cost of putting any
// dialog on screen here) and with the code-signature gate alone, verifying afresh and verifying
// files it verified before. The repeated requests of one process are shown apart from the
// first request of a process, which is measured in fresh processes of this program: once as
// the process's very first request, and once as a bank page makes it, after a query that found
// the key (with half a second between them, the least a user takes to press "sign"). A driver
// thread watches the dialogs (every millisecond) and types the PIN on the on-screen keyboard.
// Needs the virtual key installed in the prefix (tools/bench.sh does it).
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

#include "code_signature.h"
#include "csp.h"
#include "device.h"
#include "dialog_driver.h"
#include "queries.h"
#include "result_codes.h"
#include "settings.h"
#include "signing.h"
#include "store.h"
#include "testing/self_issued.h"
#include "testing/temp_store.h"
#include "token_core.h"
#include "win_handle.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRepeats = 7;
constexpr int kFirstRuns = 5;
constexpr char kPin[] = "123456";
constexpr int kPinField = 3005;
constexpr int kKeyboardButton = 3006;
constexpr int kFirstKey = 4000;
constexpr int kKeyCount = 73;
constexpr std::chrono::milliseconds kDeadline(60000);

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

HWND AwaitDialog(DWORD thread, bool (*ready)(HWND)) {
  return VKey::testing::WaitForDialog(thread, ready, kDeadline, std::chrono::milliseconds(1));
}

bool AnyDialog(HWND) {
  return true;
}

// The PIN dialog has initialised when its keyboard button shows.
bool PinDialogReady(HWND dialog) {
  const HWND button = GetDlgItem(dialog, kKeyboardButton);
  return GetDlgItem(dialog, kPinField) != nullptr && button != nullptr && IsWindowVisible(button);
}

// Opens the dialog's on-screen keyboard and presses the key of each character of the PIN.
bool TypePin(HWND dialog) {
  SendMessageW(GetDlgItem(dialog, kKeyboardButton), BM_CLICK, 0, 0);
  const HWND keyboard = FindWindowExW(dialog, nullptr, L"#32770", nullptr);
  if (keyboard == nullptr) {
    return false;
  }
  for (const char c : std::string(kPin)) {
    HWND key = nullptr;
    for (int id = kFirstKey; id < kFirstKey + kKeyCount && key == nullptr; ++id) {
      wchar_t label[8] = {};
      GetWindowTextW(GetDlgItem(keyboard, id), label, 8);
      if (label[0] == static_cast<wchar_t>(c) && label[1] == L'\0') {
        key = GetDlgItem(keyboard, id);
      }
    }
    if (key == nullptr) {
      return false;
    }
    SendMessageW(key, BM_CLICK, 0, 0);
  }
  return true;
}

struct Timing {
  double toDialog = -1;  // ms from the call to the dialog on screen
  double toReply = -1;   // ms from Enter to the call's return
};

// Runs call() on this thread while a driver thread waits for the dialog `ready` accepts, then
// types the PIN (when pin) and ends the dialog with OK.
template <typename Call>
Timing Measure(Call call, bool (*ready)(HWND), bool pin) {
  const DWORD self = GetCurrentThreadId();
  Timing timing;
  Clock::time_point start;
  Clock::time_point enter;
  std::atomic<bool> started{false};
  std::atomic<bool> pressed{false};
  std::thread driver([&] {
    while (!started) {
      Sleep(0);
    }
    const HWND dialog = AwaitDialog(self, ready);
    if (dialog == nullptr) {
      return;
    }
    timing.toDialog = Ms(Clock::now() - start);
    if (pin && !TypePin(dialog)) {
      PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
      return;
    }
    enter = Clock::now();
    pressed = true;
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  });
  start = Clock::now();
  started = true;
  call();
  const Clock::time_point done = Clock::now();
  driver.join();
  if (pressed) {
    timing.toReply = Ms(done - enter);
  }
  return timing;
}

// A dialog with a caption and an OK button, from a template in memory.
struct BareTemplate {
  DLGTEMPLATE dialog;
  WORD menu, windowClass;
  wchar_t title[6];
  WORD align;
  DLGITEMTEMPLATE button;
  WORD buttonClass[2];
  wchar_t buttonText[3];
  WORD extra;
};

INT_PTR CALLBACK BareProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(hwnd, LOWORD(wParam));
    return TRUE;
  }
  return message == WM_INITDIALOG;
}

void ShowBareDialog() {
  static BareTemplate t = [] {
    BareTemplate b{};
    b.dialog.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER;
    b.dialog.cdit = 1;
    b.dialog.cx = 160;
    b.dialog.cy = 60;
    std::wcscpy(b.title, L"Bench");
    b.button.style = WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON;
    b.button.x = 55;
    b.button.y = 35;
    b.button.cx = 50;
    b.button.cy = 14;
    b.button.id = IDOK;
    b.buttonClass[0] = 0xFFFF;
    b.buttonClass[1] = 0x0080;
    std::wcscpy(b.buttonText, L"OK");
    return b;
  }();
  DialogBoxIndirectParamW(GetModuleHandleW(nullptr), &t.dialog, nullptr, BareProcedure, 0);
}

void Row(const char* what, double ms, double baseline) {
  std::printf("%-52s %9.1f ms  %6.2fx\n", what, ms, baseline > 0 ? ms / baseline : 0);
}

std::wstring PinpadPath() {
  wchar_t exe[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring pinpad(exe, n);
  pinpad.resize(pinpad.find_last_of(L'\\') + 1);
  return pinpad + L"..\\pinpad\\Q2Pinpad_KOBA.dll";
}

// One GMUsbKeySign through `core`, timed; false when it did not end in success.
bool SignOnce(koba::core::TokenCore& core, koba::csp::CspInterface& csp, Timing* timing) {
  int code = 1;
  *timing = Measure(
      [&] {
        char* result = nullptr;
        code = koba::core::GMUsbKeySign(core, csp, "CN=Bench User", "SHA256",
                                        "<T><amount>1.00</amount></T>", "bench", "", &result);
        koba::core::ReleaseResultText(result);
      },
      PinDialogReady, true);
  return code == koba::core::kOk && timing->toDialog >= 0 && timing->toReply >= 0;
}

// The child's part: the first request of this process, alone or after a query; prints the
// timing.
int FirstRequest(bool afterQuery) {
  const std::wstring token = koba::settings::SystemLibraryPath(L"Q2Token_koba.dll");
  koba::core::TokenCore core({token, PinpadPath()});
  koba::csp::CspInterface csp(koba::settings::SystemLibraryPath(L"Q2CSP_KOBA.dll"));
  if (afterQuery) {
    char dn[1024] = {};
    if (koba::core::GMGetCertDN(core, csp, dn, sizeof dn) != koba::core::kOk) {
      return 1;
    }
    Sleep(500);
  }
  Timing timing;
  if (!SignOnce(core, csp, &timing)) {
    return 1;
  }
  std::printf("%.3f %.3f\n", timing.toDialog, timing.toReply);
  return 0;
}

// Runs this program again for one first request and reads its timing.
bool FirstInNewProcess(bool afterQuery, Timing* timing) {
  wchar_t exe[MAX_PATH];
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring command =
      L"\"" + std::wstring(exe) + L"\" --first " + (afterQuery ? L"query" : L"alone");
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inherit, 0)) {
    return false;
  }
  const koba::win::UniqueHandle read(read_end);
  koba::win::UniqueHandle write(write_end);
  SetHandleInformation(read.get(), HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW start{};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdOutput = write.get();
  start.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start,
                      &info)) {
    return false;
  }
  const koba::win::UniqueHandle process(info.hProcess);
  const koba::win::UniqueHandle thread(info.hThread);
  // Only the child holds the writing end now: its exit ends the reads.
  write.reset();
  std::string out;
  char buffer[256];
  DWORD got = 0;
  while (ReadFile(read.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
    out.append(buffer, got);
  }
  WaitForSingleObject(process.get(), INFINITE);
  DWORD exitCode = 1;
  GetExitCodeProcess(process.get(), &exitCode);
  return exitCode == 0 &&
         std::sscanf(out.c_str(), "%lf %lf", &timing->toDialog, &timing->toReply) == 2;
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything of the PIN pad is loaded: the first dialog of the process pays for the
  // system's user-interface libraries, which the bare dialog's first showing takes over here.
  Measure(ShowBareDialog, AnyDialog, false);
  if (argc == 3 && std::string(argv[1]) == "--first") {
    return FirstRequest(std::string(argv[2]) == "query");
  }

  vkey::testing::TempStore store;
  vkey::KeyPair pair;
  if (!vkey::GenerateKeyPair(1, 2048, &pair) || !vkey::Transact([&](vkey::Store& s) {
        vkey::Key& key = vkey::AddKey(s, "BENCH001", false);
        std::string container;
        std::string error;
        return vkey::AddPairToContainer(key, "c1", 2, pair, 0) &&
               vkey::ImportCertificate(key, vkey::testing::SelfIssued(pair, "Bench User"), 0,
                                       &container, &error);
      })) {
    std::fprintf(stderr, "the virtual key could not be set up\n");
    return 1;
  }

  std::vector<double> bare;
  for (int i = 0; i < kRepeats; ++i) {
    bare.push_back(Measure(ShowBareDialog, AnyDialog, false).toDialog);
  }
  const double baseline = Median(bare);

  // The first requests, each in a process of its own (which finds the key through the store's
  // environment), alternating the two kinds.
  std::vector<double> firstAlone;
  std::vector<double> firstAfterQuery;
  std::vector<double> firstToReply;
  for (int i = 0; i < kFirstRuns; ++i) {
    for (const bool afterQuery : {false, true}) {
      Timing timing;
      if (!FirstInNewProcess(afterQuery, &timing)) {
        std::fprintf(stderr, "the first request in a new process failed\n");
        return 1;
      }
      (afterQuery ? firstAfterQuery : firstAlone).push_back(timing.toDialog);
      firstToReply.push_back(timing.toReply);
    }
  }

  const std::wstring token = koba::settings::SystemLibraryPath(L"Q2Token_koba.dll");
  koba::core::TokenCore core({token, PinpadPath()});
  koba::csp::CspInterface csp(koba::settings::SystemLibraryPath(L"Q2CSP_KOBA.dll"));
  std::vector<double> toDialog;
  std::vector<double> toReply;
  for (int i = 0; i <= kRepeats; ++i) {
    Timing timing;
    if (!SignOnce(core, csp, &timing)) {
      std::fprintf(stderr, "GMUsbKeySign %d failed\n", i);
      return 1;
    }
    // The first one is the process's first, measured apart above.
    if (i > 0) {
      toDialog.push_back(timing.toDialog);
      toReply.push_back(timing.toReply);
    }
  }
  // The gate alone, in the same process after the requests.
  const std::wstring folder = token.substr(0, token.find_last_of(L'\\') + 1);
  std::vector<double> fresh;
  std::vector<double> known;
  koba::codesign::VerifiedFiles verified;
  for (int i = 0; i < kRepeats; ++i) {
    auto t0 = Clock::now();
    const bool signedFresh = koba::codesign::VendorLibrariesSigned(folder);
    fresh.push_back(Ms(Clock::now() - t0));
    t0 = Clock::now();
    const bool signedKnown = koba::codesign::VendorLibrariesSigned(folder, verified);
    known.push_back(Ms(Clock::now() - t0));
    if (!signedFresh || !signedKnown) {
      std::fprintf(stderr, "the installed vendor libraries are not trusted\n");
      return 1;
    }
  }

  std::printf(
      "PIN dialog timing, median of %d (first requests: of %d processes each; ratio: to "
      "the bare dialog's request-to-screen)\n",
      kRepeats, kFirstRuns);
  Row("bare dialog, request to screen (baseline)", baseline, baseline);
  Row("gate, three libraries verified afresh", Median(fresh), baseline);
  Row("gate, three libraries verified before", Median(known), baseline);
  Row("GMUsbKeySign first of a process, request to dialog", Median(firstAlone), baseline);
  Row("GMUsbKeySign first, after a query, request to dialog", Median(firstAfterQuery), baseline);
  Row("GMUsbKeySign repeated, request to dialog", Median(toDialog), baseline);
  Row("GMUsbKeySign first of a process, Enter to reply", Median(firstToReply), baseline);
  Row("GMUsbKeySign repeated, Enter to reply", Median(toReply), baseline);
  return 0;
}
