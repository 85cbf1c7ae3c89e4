// The library's lifetime in a long-lived process: loaded and freed a thousand times it leaves no
// handle, heap, window class or memory behind, and a token core that logs in two hundred times
// keeps it loaded from construction to destruction with flat counts. The PIN is typed into the
// library's verify dialog by a driver thread on the on-screen keyboard; the core never sees it.
#include <windows.h>

#include <psapi.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include "balloon.h"
#include "built_library.h"
#include "core/pin_entry.h"
#include "device.h"
#include "dialog_driver.h"
#include "pin_entry.h"
#include "pinpad_api.h"
#include "resource.h"
#include "result_codes.h"
#include "settings.h"
#include "store.h"
#include "testing/temp_store.h"
#include "token_core.h"

namespace VKey {
namespace {

constexpr char kPin[] = "123456";  // a new virtual key's PIN
constexpr int kLoadCycles = 1000;
constexpr int kDialogEvery = 100;  // of the load cycles, these also run a PIN entry
constexpr int kLogins = 200;
constexpr int kWarmUp = 10;

// What the process holds; the bounds below are what a run may drift by without a leak (the
// loader's and the C library's own caches, the virtual key's store file handling).
struct Counts {
  DWORD handles = 0;
  SIZE_T privateBytes = 0;
  DWORD heaps = 0;
  SIZE_T heapBytes = 0;  // busy blocks of every heap of the process
};
constexpr DWORD kHandleDrift = 4;
constexpr SIZE_T kPrivateDrift = 4 << 20;
constexpr SIZE_T kHeapDrift = 256 << 10;

Counts Measure() {
  Counts c;
  GetProcessHandleCount(GetCurrentProcess(), &c.handles);
  PROCESS_MEMORY_COUNTERS_EX memory{};
  memory.cb = sizeof memory;
  if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                           sizeof memory)) {
    c.privateBytes = memory.PrivateUsage;
  }
  HANDLE heaps[256];
  c.heaps = GetProcessHeaps(256, heaps);
  for (DWORD i = 0; i < c.heaps && i < 256; ++i) {
    if (!HeapLock(heaps[i])) {
      continue;
    }
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heaps[i], &entry)) {
      if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) {
        c.heapBytes += entry.cbData;
      }
    }
    HeapUnlock(heaps[i]);
  }
  return c;
}

void ExpectFlat(const Counts& before, const Counts& after) {
  EXPECT_LE(after.handles, before.handles + kHandleDrift)
      << before.handles << " handles before, " << after.handles << " after";
  EXPECT_LE(after.privateBytes, before.privateBytes + kPrivateDrift)
      << before.privateBytes << " private bytes before, " << after.privateBytes << " after";
  EXPECT_EQ(after.heaps, before.heaps);
  EXPECT_LE(after.heapBytes, before.heapBytes + kHeapDrift)
      << before.heapBytes << " heap bytes before, " << after.heapBytes << " after";
}

// Caps Lock on for this thread's view of the keyboard, so that the PIN dialog opens with its
// Caps Lock balloon (and registers the balloon's window class).
void SetCapsLock(bool on) {
  BYTE keys[256];
  GetKeyboardState(keys);
  keys[VK_CAPITAL] = on ? 1 : 0;
  SetKeyboardState(keys);
}

// Types the PIN into the verify dialog of the thread and presses OK.
void EnterRightPin(DWORD thread) {
  const HWND dialog = testing::WaitForDialog(
      thread, [](HWND w) { return GetDlgItem(w, IDC_VERIFY_PIN) != nullptr; });
  ASSERT_NE(dialog, nullptr);
  testing::EnterPin(dialog, IDC_VERIFY_PIN, kPin);
  testing::PressOk(dialog);
}

bool BalloonClassRegistered(HMODULE module) {
  WNDCLASSEXW cls{};
  cls.cbSize = sizeof cls;
  return GetClassInfoExW(module, kBalloonClassName, &cls) != FALSE;
}

template <typename T>
T Export(HMODULE module, const char* name) {
  return reinterpret_cast<T>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

class Lifetime : public ::testing::Test {
 protected:
  // The system libraries the PIN pad library imports stay loaded, as they are in a front end
  // that shows windows: the cycles load and free the library itself, not half of the system.
  static void SetUpTestSuite() {
    for (const wchar_t* name :
         {L"user32.dll", L"gdi32.dll", L"comctl32.dll", L"ole32.dll", L"crypt32.dll",
          L"wintrust.dll", L"msimg32.dll", L"uxtheme.dll", L"windowscodecs.dll", L"riched20.dll"}) {
      LoadLibraryW(name);
    }
  }

  void SetUp() override {
    ASSERT_TRUE(vkey::Transact([&](vkey::Store& s) {
      s.keys.clear();
      slot_ = vkey::AddKey(s, "LIFE0001", false).slot;
      return true;
    }));
    ASSERT_NE(token_, nullptr);
    login_ = Export<void*>(token_, "VexloT_Login");
    ASSERT_NE(login_, nullptr);
  }
  void TearDown() override {
    SetCapsLock(false);
    if (token_ != nullptr) {
      FreeLibrary(token_);
    }
  }

  // One load of the library and a call that needs no dialog; with pinEntry the language and a
  // whole PIN entry as well (text table, private heap, activation context, hooks, balloon
  // class, the gate's verified files).
  void Cycle(bool pinEntry) {
    const HMODULE module = LoadLibraryW(BuiltPinpadPath().c_str());
    ASSERT_NE(module, nullptr);
    const auto param = Export<Pinpad_Param_t>(module, "Pinpad_Param");
    const auto verify = Export<Pinpad_VerifyData_t>(module, "Pinpad_VerifyData");
    const auto indicator = Export<Pinpad_Indicator_t>(module, "Pinpad_Indicator");
    ASSERT_TRUE(param != nullptr && verify != nullptr && indicator != nullptr);
    const char document[] = "<T><amount>1.00</amount></T>";
    verify(1, document, sizeof document - 1);
    if (pinEntry) {
      uint32_t language = 1;
      param(&language, 0);
      PinpadParam block;
      koba::core::PrepareBlock(&block);
      koba::core::FillPinEntry(&block, slot_, PAD_USE_CHECKPIN);
      SetCapsLock(true);
      const uint32_t status = testing::RunWithDriver<uint32_t>(
          [&] { return indicator(0, login_, 0, &block); }, EnterRightPin);
      SetCapsLock(false);
      EXPECT_EQ(status, 0u);
      EXPECT_TRUE(BalloonClassRegistered(module)) << "the PIN dialog showed its Caps Lock balloon";
    }
    ASSERT_TRUE(FreeLibrary(module));
    EXPECT_EQ(GetModuleHandleW(BuiltPinpadPath().c_str()), nullptr);
    if (pinEntry) {
      EXPECT_FALSE(BalloonClassRegistered(module)) << "the balloon's class went with the library";
    }
  }

  vkey::testing::TempStore store_;
  uint32_t slot_ = 0;
  HMODULE token_ = LoadLibraryW(koba::settings::SystemLibraryPath(L"Q2Token_koba.dll").c_str());
  void* login_ = nullptr;
};

TEST_F(Lifetime, LoadCyclesLeaveNothingBehind) {
  // The first loads fill the loader's and the language table's caches, and the first PIN
  // entry loads the system libraries the dialogs use.
  Cycle(true);
  for (int i = 0; i < kWarmUp; ++i) {
    Cycle(false);
  }
  const Counts before = Measure();
  for (int i = 1; i <= kLoadCycles && !HasFatalFailure(); ++i) {
    Cycle(i % kDialogEvery == 0);
  }
  ExpectFlat(before, Measure());
}

TEST_F(Lifetime, CoreKeepsTheLibraryBoundAcrossLogins) {
  const std::wstring pinpad = BuiltPinpadPath();
  Counts before;
  {
    koba::core::TokenCore core({koba::settings::SystemLibraryPath(L"Q2Token_koba.dll"), pinpad});
    const HMODULE bound = GetModuleHandleW(pinpad.c_str());
    ASSERT_NE(bound, nullptr) << "bound at construction";
    for (int i = 0; i < kLogins && !HasFatalFailure(); ++i) {
      if (i == kWarmUp) {
        before = Measure();
      }
      uint32_t slot = 0;
      koba::core::DeviceInfo info;
      ASSERT_EQ(core.FindKey(koba::core::BindSet::kFull, &slot, &info), koba::core::kOk);
      const int code = testing::RunWithDriver<int>([&] { return core.Login(slot); }, EnterRightPin);
      core.Unbind();
      ASSERT_EQ(code, koba::core::kOk) << "login " << i;
      ASSERT_EQ(GetModuleHandleW(pinpad.c_str()), bound) << "still bound after login " << i;
    }
    ExpectFlat(before, Measure());
  }
  EXPECT_EQ(GetModuleHandleW(pinpad.c_str()), nullptr) << "freed with the core";
}

}  // namespace
}  // namespace VKey
