// The dialogs of Pinpad_ShowDialog, driven through window messages from a second thread while
// the export runs modally on the test's thread. Needs the installed system for its texts.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "built_library.h"
#include "dialog_driver.h"
#include "pinpad_api.h"
#include "resource.h"
#include "show_dialog.h"
#include "wait_layout.h"

namespace VKey {
namespace {

using testing::RunWithDriver;
using testing::WaitForDialog;
using testing::WindowText;

// A click that returns once the dialog has handled it.
void Click(HWND dialog, int id) {
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// Runs show() on this thread; drive() gets the dialog it opens on a second thread and ends it.
uint32_t Drive(const std::function<uint32_t()>& show, const std::function<void(HWND)>& drive,
               bool* sawDialog) {
  *sawDialog = false;
  return RunWithDriver<uint32_t>(show, [&](DWORD thread) {
    const HWND dialog = WaitForDialog(thread);
    if (dialog != nullptr) {
      *sawDialog = true;
      drive(dialog);
    }
  });
}

class PinpadDialogs : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    module_ = LoadLibraryW(BuiltPinpadPath().c_str());
    ASSERT_NE(module_, nullptr) << "cannot load the PIN pad library";
    show_ = reinterpret_cast<Pinpad_ShowDialog_t>(
        reinterpret_cast<void*>(GetProcAddress(module_, "Pinpad_ShowDialog")));
    param_ = reinterpret_cast<Pinpad_Param_t>(
        reinterpret_cast<void*>(GetProcAddress(module_, "Pinpad_Param")));
    ASSERT_NE(show_, nullptr);
    ASSERT_NE(param_, nullptr);
  }
  static void TearDownTestSuite() {
    if (module_ != nullptr) {
      FreeLibrary(module_);
      module_ = nullptr;
    }
  }
  void SetUp() override { ASSERT_EQ(Language(1033), 0u) << "the English texts must load"; }

  static uint32_t Language(uint32_t id) { return param_(&id, 1); }

  static HMODULE module_;
  static Pinpad_ShowDialog_t show_;
  static Pinpad_Param_t param_;
};

HMODULE PinpadDialogs::module_ = nullptr;
Pinpad_ShowDialog_t PinpadDialogs::show_ = nullptr;
Pinpad_Param_t PinpadDialogs::param_ = nullptr;

struct WindowClass {
  WindowClass() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"PinpadDialogsTestOwner";
    RegisterClassW(&wc);
  }
  ~WindowClass() { UnregisterClassW(L"PinpadDialogsTestOwner", GetModuleHandleW(nullptr)); }
};

struct WindowDestroyer {
  void operator()(HWND window) const { DestroyWindow(window); }
};
using Window = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDestroyer>;

Window ActiveTopLevel(const wchar_t* title) {
  Window window(CreateWindowExW(0, L"PinpadDialogsTestOwner", title, WS_OVERLAPPEDWINDOW, 100, 100,
                                400, 300, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
  ShowWindow(window.get(), SW_SHOW);
  SetForegroundWindow(window.get());
  SetActiveWindow(window.get());
  return window;
}

// Runs first: the owner cache is process-wide and keeps the first owner it finds.
TEST_F(PinpadDialogs, OwnerIsTheActiveWindowKeptWhileItExists) {
  const WindowClass windowClass;
  Window first = ActiveTopLevel(L"first");
  ASSERT_EQ(GetActiveWindow(), first.get());
  const wchar_t* values[4] = {L"a", L"b", L"c", L"d"};
  KeyInfoRecord record{{values[0], values[1], values[2], values[3]}};
  const auto ownerOfNextDialog = [&] {
    HWND owner = nullptr;
    bool saw = false;
    Drive([&] { return show_(7, &record); },
          [&](HWND dialog) {
            owner = GetWindow(dialog, GW_OWNER);
            Click(dialog, IDOK);
          },
          &saw);
    EXPECT_TRUE(saw);
    return owner;
  };
  EXPECT_EQ(ownerOfNextDialog(), first.get());
  Window second = ActiveTopLevel(L"second");
  ASSERT_EQ(GetActiveWindow(), second.get());
  EXPECT_EQ(ownerOfNextDialog(), first.get()) << "the first owner is kept while it exists";
  first.reset();
  SetActiveWindow(second.get());
  EXPECT_EQ(ownerOfNextDialog(), second.get()) << "a destroyed owner is forgotten";
}

struct ModuleFreer {
  void operator()(HMODULE module) const { FreeLibrary(module); }
};
struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;
struct ScreenDcReleaser {
  void operator()(HDC dc) const { ReleaseDC(nullptr, dc); }
};

// The owner choice by process name, seen from copies of this program under other names. In a
// copy, KOBA_OWNER_PROBE names the file that gets what owned the copy's dialog; with
// KOBA_OWNER_WINDOWS set the copy first opens an active window and an Edge page window.
TEST(OwnerProbe, ReportsWhatOwnedADialog) {
  const char* out = std::getenv("KOBA_OWNER_PROBE");
  if (out == nullptr) {
    GTEST_SKIP() << "runs in a renamed copy of this program";
  }
  const std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleFreer> module(
      LoadLibraryW(BuiltPinpadPath().c_str()));
  ASSERT_NE(module, nullptr);
  const auto show = reinterpret_cast<Pinpad_ShowDialog_t>(
      reinterpret_cast<void*>(GetProcAddress(module.get(), "Pinpad_ShowDialog")));
  const WindowClass windowClass;
  Window edge;
  Window active;
  if (std::getenv("KOBA_OWNER_WINDOWS") != nullptr) {
    edge = ActiveTopLevel(L"Bank - Microsoft\u200B Edge");
    active = ActiveTopLevel(L"plain");
  }
  KeyInfoRecord record{{L"a", L"b", L"c", L"d"}};
  HWND owner = nullptr;
  bool saw = false;
  Drive([&] { return show(7, &record); },
        [&](HWND dialog) {
          owner = GetWindow(dialog, GW_OWNER);
          Click(dialog, IDOK);
        },
        &saw);
  const char* seen = !saw                    ? "no dialog"
                     : owner == nullptr      ? "none"
                     : owner == edge.get()   ? "edge"
                     : owner == active.get() ? "active"
                                             : "foreign";
  const File file(std::fopen(out, "w"));
  ASSERT_NE(file, nullptr);
  std::fputs(seen, file.get());
}

struct ProcessCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using OwnedHandle = std::unique_ptr<void, ProcessCloser>;

// Waits for the handle while this thread's windows keep answering: a probe's dialog may be owned
// by one of them, and owning a dialog takes messages from the owner's thread.
bool WaitPumping(HANDLE handle) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < end) {
    const DWORD woke = MsgWaitForMultipleObjects(1, &handle, FALSE, 100, QS_ALLINPUT);
    if (woke == WAIT_OBJECT_0) {
      return true;
    }
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  return false;
}

// A folder of the test's own holding a copy of this program under a given name and the library.
class ProbeFolder {
 public:
  ProbeFolder() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"owner_probe_" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder_.c_str(), nullptr);
    wchar_t exe[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    self_.assign(exe, n);
    CopyFileW(BuiltPinpadPath().c_str(), (folder_ + L"\\Q2Pinpad_KOBA.dll").c_str(), FALSE);
  }
  ~ProbeFolder() {
    for (const auto& file : files_) {
      DeleteFileW(file.c_str());
    }
    DeleteFileW((folder_ + L"\\Q2Pinpad_KOBA.dll").c_str());
    RemoveDirectoryW(folder_.c_str());
  }
  ProbeFolder(const ProbeFolder&) = delete;
  ProbeFolder& operator=(const ProbeFolder&) = delete;

  // Runs the copy named name; what owned its dialog, or why there is no answer.
  std::string Run(const std::wstring& name, bool ownWindows) {
    const std::wstring copy = folder_ + L"\\" + name;
    const std::wstring result = folder_ + L"\\" + name + L".txt";
    files_.push_back(copy);
    files_.push_back(result);
    if (!CopyFileW(self_.c_str(), copy.c_str(), FALSE)) {
      return "no copy";
    }
    DeleteFileW(result.c_str());
    SetEnvironmentVariableW(L"KOBA_OWNER_PROBE", result.c_str());
    SetEnvironmentVariableW(L"KOBA_OWNER_WINDOWS", ownWindows ? L"1" : nullptr);
    std::wstring command = L"\"" + copy + L"\" --gtest_filter=OwnerProbe.*";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    const BOOL started = CreateProcessW(copy.c_str(), command.data(), nullptr, nullptr, FALSE, 0,
                                        nullptr, folder_.c_str(), &startup, &info);
    SetEnvironmentVariableW(L"KOBA_OWNER_PROBE", nullptr);
    SetEnvironmentVariableW(L"KOBA_OWNER_WINDOWS", nullptr);
    if (!started) {
      return "not started";
    }
    const OwnedHandle process(info.hProcess);
    const OwnedHandle thread(info.hThread);
    if (!WaitPumping(process.get())) {
      TerminateProcess(process.get(), 1);
      return "no end";
    }
    char seen[32] = {};
    const File file(_wfopen(result.c_str(), L"r"));
    if (file == nullptr) {
      return "no result";
    }
    const size_t read = std::fread(seen, 1, sizeof seen - 1, file.get());
    return std::string(seen, read);
  }

 private:
  std::wstring folder_;
  std::wstring self_;
  std::vector<std::wstring> files_;
};

TEST_F(PinpadDialogs, OwnerDependsOnTheProcessName) {
  const WindowClass windowClass;
  // Without windows of its own, a probe's dialog falls back to the foreground window: this one.
  Window foreground = ActiveTopLevel(L"foreground of another process");
  ProbeFolder probes;
  const struct {
    const wchar_t* name;
    bool ownWindows;
    const char* owner;
  } cases[] = {
      {L"owner_probe.exe", true, "active"}, {L"koba_KVN_usbkey_chrome.exe", true, "edge"},
      {L"AcroRd32.exe", true, "none"},      {L"owner_probe.exe", false, "foreign"},
      {L"iexplore.exe", false, "none"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(probes.Run(c.name, c.ownWindows), c.owner)
        << std::string(c.name, c.name + wcslen(c.name));
  }
}

TEST_F(PinpadDialogs, SelectionListsShowTheRowsAndStoreTheChosenOne) {
  const wchar_t* certs[] = {L"CN=Alice", L"CN=Bob", L"CN=Carol"};
  const wchar_t* devices[] = {L"Key A", L"SN-0001", L"Key B", L"SN-0002"};
  const struct {
    const char* what;
    uint32_t type;
    uint32_t rows;
    int select;  // -1: none
    int button;
    uint32_t status;
    uint32_t stored;
  } cases[] = {
      {"cert, OK with row 2", 2, 3, 2, IDOK, 0, 2},
      {"cert, OK without row", 2, 3, -1, IDOK, 0, 77},
      {"cert, no rows", 2, 0, -1, IDOK, 0, 77},
      {"cert, Cancel", 2, 3, 1, IDCANCEL, PINPAD_E_CANCELLED, 77},
      {"device, OK with row 1", 1, 2, 1, IDOK, 0, 1},
      {"device, Cancel", 1, 2, 0, IDCANCEL, PINPAD_E_CANCELLED, 77},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SelectCertRecord certRecord{0, 77, c.rows, certs};
    SelectDeviceRecord deviceRecord{77, c.rows, devices};
    void* record = c.type == 2 ? static_cast<void*>(&certRecord) : &deviceRecord;
    std::wstring title;
    LRESULT exStyle = 0;
    std::vector<std::wstring> headers;
    std::vector<int> widths;
    std::vector<std::vector<std::wstring>> cells;
    bool saw = false;
    const uint32_t status =
        Drive([&] { return show_(c.type, record); },
              [&](HWND dialog) {
                title = WindowText(dialog);
                const HWND list = GetDlgItem(dialog, IDC_SELECT_LIST);
                exStyle = SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
                const HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
                const int columns = static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
                for (int i = 0; i < columns; ++i) {
                  wchar_t text[64] = {};
                  LVCOLUMNW column{};
                  column.mask = LVCF_TEXT;
                  column.pszText = text;
                  column.cchTextMax = 64;
                  SendMessageW(list, LVM_GETCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
                  headers.push_back(text);
                  widths.push_back(static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, i, 0)));
                }
                const int rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
                for (int r = 0; r < rows; ++r) {
                  std::vector<std::wstring> row;
                  for (int s = 0; s < columns; ++s) {
                    wchar_t text[64] = {};
                    LVITEMW item{};
                    item.iSubItem = s;
                    item.pszText = text;
                    item.cchTextMax = 64;
                    SendMessageW(list, LVM_GETITEMTEXTW, r, reinterpret_cast<LPARAM>(&item));
                    row.push_back(text);
                  }
                  cells.push_back(row);
                }
                if (c.select >= 0) {
                  LVITEMW state{};
                  state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
                  state.state = LVIS_SELECTED | LVIS_FOCUSED;
                  SendMessageW(list, LVM_SETITEMSTATE, c.select, reinterpret_cast<LPARAM>(&state));
                }
                Click(dialog, c.button);
              },
              &saw);
    ASSERT_TRUE(saw);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(c.type == 2 ? certRecord.chosenRow : deviceRecord.chosenRow, c.stored);
    EXPECT_EQ(exStyle, 0x131);
    if (c.type == 2) {
      EXPECT_EQ(title, L"Select a Certificate");
      EXPECT_EQ(headers, (std::vector<std::wstring>{L"No.", L"Certificate"}));
      EXPECT_EQ(widths, (std::vector<int>{75, 250}));
    } else {
      EXPECT_EQ(title, L"Select a USB Key");
      EXPECT_EQ(headers, (std::vector<std::wstring>{L"No.", L"Label", L"Serial number"}));
      EXPECT_EQ(widths, (std::vector<int>{75, 150, 150}));
    }
    ASSERT_EQ(cells.size(), c.rows);
    for (uint32_t r = 0; r < c.rows; ++r) {
      EXPECT_EQ(cells[r][0], std::to_wstring(r + 1));
      if (c.type == 2) {
        EXPECT_EQ(cells[r][1], certs[r]);
      } else {
        EXPECT_EQ(cells[r][1], devices[2 * r]);
        EXPECT_EQ(cells[r][2], devices[2 * r + 1]);
      }
    }
  }
}

TEST_F(PinpadDialogs, ChangeLabelCutsToThirtyTwoBytesAndIgnoresAnEmptyOk) {
  // 16 CJK characters of three UTF-8 bytes each.
  const std::wstring chinese(16, L'\u4E2D');
  std::string tenChinese;
  for (int i = 0; i < 10; ++i) {
    tenChinese += "\xE4\xB8\xAD";
  }
  const struct {
    const char* what;
    const wchar_t* typed;  // nullptr: leave the edit as it starts
    bool emptyOkFirst;
    int button;
    uint32_t status;
    std::string label;
  } cases[] = {
      {"16 Chinese characters", chinese.c_str(), false, IDOK, 0, tenChinese},
      {"kept as it starts", nullptr, false, IDOK, 0, "Key \xE4\xB8\xAD"},
      {"ASCII", L"Office key", false, IDOK, 0, "Office key"},
      {"empty OK, then Cancel", L"", true, IDCANCEL, PINPAD_E_CANCELLED, "Key \xE4\xB8\xAD"},
      {"Cancel", L"other", false, IDCANCEL, PINPAD_E_CANCELLED, "Key \xE4\xB8\xAD"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    char buffer[40];
    std::memset(buffer, '#', sizeof buffer);
    std::strcpy(buffer, "Key \xE4\xB8\xAD");
    std::wstring initial;
    bool openAfterEmptyOk = false;
    bool saw = false;
    const uint32_t status = Drive([&] { return show_(6, buffer); },
                                  [&](HWND dialog) {
                                    const HWND edit = GetDlgItem(dialog, IDC_LABEL_EDIT);
                                    initial = WindowText(edit);
                                    if (c.typed != nullptr) {
                                      SetWindowTextW(edit, c.typed);
                                    }
                                    if (c.emptyOkFirst) {
                                      Click(dialog, IDOK);
                                      openAfterEmptyOk =
                                          IsWindow(dialog) && IsWindowVisible(dialog);
                                    }
                                    Click(dialog, c.button);
                                  },
                                  &saw);
    ASSERT_TRUE(saw);
    EXPECT_EQ(initial, L"Key \u4E2D");
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(std::string(buffer), c.label);
    EXPECT_EQ(buffer[sizeof buffer - 1], '#') << "nothing written past the label";
    if (c.emptyOkFirst) {
      EXPECT_TRUE(openAfterEmptyOk);
    }
  }
}

struct ModeKey {
  uint32_t mode = 0;
  uint32_t readStatus = 0;
  uint32_t writeStatus = 0;
  std::vector<std::pair<uint32_t, uint32_t>> calls;  // (command, value passed)
};

uint32_t __stdcall ModeFunctionOf(void* context, uint32_t command, uint32_t* value) {
  auto* key = static_cast<ModeKey*>(context);
  key->calls.emplace_back(command, *value);
  if (command == 303) {
    *value = key->mode;
    return key->readStatus;
  }
  return key->writeStatus;
}

TEST_F(PinpadDialogs, UsbModeStartsFromTheKeyAndWritesOnlyOnOk) {
  const struct {
    const char* what;
    uint32_t mode;
    uint32_t writeStatus;
    int choose;  // radio to click, 0: none
    int button;
    uint32_t status;
    int checkedAtStart;
    std::vector<std::pair<uint32_t, uint32_t>> writes;
  } cases[] = {
      {"HID key, Cancel", 128, 0, 0, IDCANCEL, PINPAD_E_CANCELLED, IDC_MODE_HID, {}},
      {"CD-ROM key, switch to HID", 0, 0, IDC_MODE_HID, IDOK, 0, IDC_MODE_CDROM, {{302, 128}}},
      {"HID key, switch to CD-ROM", 128, 0, IDC_MODE_CDROM, IDOK, 0, IDC_MODE_HID, {{302, 0}}},
      {"failing write", 0, 5, 0, IDOK, PINPAD_E_FAILED, IDC_MODE_CDROM, {{302, 0}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ModeKey key;
    key.mode = c.mode;
    key.writeStatus = c.writeStatus;
    UsbModeRecord record{&key, &ModeFunctionOf};
    int checked = 0;
    bool saw = false;
    const uint32_t status = Drive([&] { return show_(9, &record); },
                                  [&](HWND dialog) {
                                    for (int id : {IDC_MODE_CDROM, IDC_MODE_HID}) {
                                      if (IsDlgButtonChecked(dialog, id) == BST_CHECKED) {
                                        checked = checked == 0 ? id : -1;
                                      }
                                    }
                                    if (c.choose != 0) {
                                      SendMessageW(GetDlgItem(dialog, c.choose), BM_CLICK, 0, 0);
                                    }
                                    Click(dialog, c.button);
                                  },
                                  &saw);
    ASSERT_TRUE(saw);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(checked, c.checkedAtStart);
    ASSERT_FALSE(key.calls.empty());
    EXPECT_EQ(key.calls.front().first, 303u) << "the mode is read first";
    const std::vector<std::pair<uint32_t, uint32_t>> writes(key.calls.begin() + 1, key.calls.end());
    EXPECT_EQ(writes, c.writes);
  }
  UsbModeRecord noFunction{nullptr, nullptr};
  EXPECT_EQ(show_(9, &noFunction), PINPAD_E_FAILED);
}

TEST_F(PinpadDialogs, KeyInformationShowsTheFourValuesInOrder) {
  KeyInfoRecord record{{L"My key", L"SN-42", L"64 KB", nullptr}};
  std::vector<std::wstring> values;
  std::wstring firstName;
  bool saw = false;
  const uint32_t status = Drive([&] { return show_(7, &record); },
                                [&](HWND dialog) {
                                  for (int id = IDC_UINFO_VALUE1; id <= IDC_UINFO_VALUE4; ++id) {
                                    values.push_back(WindowText(GetDlgItem(dialog, id)));
                                  }
                                  firstName = WindowText(GetDlgItem(dialog, IDC_UINFO_NAME1));
                                  Click(dialog, IDOK);
                                },
                                &saw);
  ASSERT_TRUE(saw);
  EXPECT_EQ(status, 0u);
  EXPECT_EQ(values, (std::vector<std::wstring>{L"My key", L"SN-42", L"64 KB", L""}));
  EXPECT_EQ(firstName, L"Label:");
}

TEST_F(PinpadDialogs, MessageBoxLooksItsTextsUpAndShowsCancelOnlyWhenAsked) {
  const struct {
    const char* what;
    uint32_t showCancel;
    int button;
    uint32_t status;
  } cases[] = {
      {"OK only", 0, IDOK, 0},
      {"OK and Cancel, OK", 1, IDOK, 0},
      {"OK and Cancel, Cancel", 1, IDCANCEL, PINPAD_E_CANCELLED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    MessageBoxRecord record{L"STR_ID_C_DELCERT", L"STR_ID_C_DELCERT_WARNING_1", c.showCancel};
    std::wstring title;
    std::wstring message;
    bool cancelShown = false;
    bool saw = false;
    const uint32_t status = Drive([&] { return show_(8, &record); },
                                  [&](HWND dialog) {
                                    title = WindowText(dialog);
                                    message = WindowText(GetDlgItem(dialog, IDC_MSGBOX_TEXT));
                                    cancelShown =
                                        IsWindowVisible(GetDlgItem(dialog, IDCANCEL)) != FALSE;
                                    Click(dialog, c.button);
                                  },
                                  &saw);
    ASSERT_TRUE(saw);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(title, L"Delete certificate");
    EXPECT_EQ(message, L"The certificate and its private key will be deleted from the USB key.");
    EXPECT_EQ(cancelShown, c.showCancel != 0);
  }
}

struct ThreadCloser {
  void operator()(HANDLE thread) const { CloseHandle(thread); }
};

TEST_F(PinpadDialogs, WaitingWindowOpensOnItsThreadAndClosesOnTheSecondCall) {
  const struct {
    uint32_t language;
    bool pictureWindow;
  } cases[] = {{1033, true}, {2052, true}, {1049, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.language);
    ASSERT_EQ(Language(c.language), 0u);
    GenKeyWaitHandle handle{};
    ASSERT_EQ(show_(5, &handle), 0u);
    EXPECT_EQ(handle.magic, kGenKeyWaitMagic);
    ASSERT_NE(handle.threadId, 0u);
    EXPECT_NE(handle.threadHandle, 0u);
    const std::unique_ptr<void, ThreadCloser> thread(
        OpenThread(SYNCHRONIZE, FALSE, handle.threadId));
    ASSERT_NE(thread, nullptr);
    const HWND window = WaitForDialog(handle.threadId);
    ASSERT_NE(window, nullptr);
    const std::wstring title = WindowText(window);
    EXPECT_FALSE(title.empty());
    EXPECT_EQ(title.find(L'\\'), std::wstring::npos) << "no written line breaks in the title";
    const std::wstring message = WindowText(GetDlgItem(window, IDC_PROC_TEXT));
    EXPECT_EQ(message.find(L"\\r\\n"), std::wstring::npos);
    EXPECT_EQ(message.rfind(title, 0), 0u) << "the message starts with the title";
    RECT outer{};
    GetWindowRect(window, &outer);
    if (c.pictureWindow) {
      const std::unique_ptr<std::remove_pointer_t<HDC>, ScreenDcReleaser> screen(GetDC(nullptr));
      const int dpi = GetDeviceCaps(screen.get(), LOGPIXELSX);
      const WaitWindowSize size = WaitWindowSizeFor(dpi);
      EXPECT_EQ(outer.right - outer.left, size.width);
      EXPECT_EQ(outer.bottom - outer.top, size.height);
      RECT client{};
      GetClientRect(window, &client);
      RECT label{};
      GetWindowRect(GetDlgItem(window, IDC_PROC_TEXT), &label);
      MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&label), 2);
      const PixelRect want = WaitWindowLayoutFor(client.right, client.bottom, dpi).message;
      EXPECT_EQ((PixelRect{label.left, label.top, label.right, label.bottom}), want);
    } else {
      EXPECT_LT(outer.right - outer.left, 420) << "the plain window keeps its template size";
    }

    EXPECT_EQ(show_(5, &handle), 0u);
    EXPECT_EQ(handle.magic, 0u);
    EXPECT_EQ(handle.threadHandle, 0u);
    EXPECT_EQ(WaitForSingleObject(thread.get(), 15000), WAIT_OBJECT_0) << "the thread ends";
    EXPECT_FALSE(IsWindow(window));
  }
}

TEST_F(PinpadDialogs, WaitingWindowRefusesAHandleItDidNotMake) {
  HANDLE own = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &own,
                              SYNCHRONIZE | THREAD_QUERY_LIMITED_INFORMATION, FALSE, 0));
  const std::unique_ptr<void, ThreadCloser> ownThread(own);
  const auto ownValue = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(own));
  const struct {
    const char* what;
    GenKeyWaitHandle handle;
  } cases[] = {
      {"zero thread handle", {kGenKeyWaitMagic, GetCurrentThreadId(), 0}},
      {"handle of a thread with another id",
       {kGenKeyWaitMagic, GetCurrentThreadId() + 4, ownValue}},
      {"zero thread id", {kGenKeyWaitMagic, 0, ownValue}},
  };
  for (const auto& c : cases) {
    GenKeyWaitHandle handle = c.handle;
    EXPECT_EQ(show_(5, &handle), PINPAD_E_FAILED) << c.what;
    EXPECT_EQ(handle.magic, kGenKeyWaitMagic) << c.what;
    EXPECT_EQ(handle.threadHandle, c.handle.threadHandle) << c.what;
  }
  EXPECT_EQ(WaitForSingleObject(own, 0), static_cast<DWORD>(WAIT_TIMEOUT))
      << "the handle of a thread the library did not start stays open";
}

}  // namespace
}  // namespace VKey
