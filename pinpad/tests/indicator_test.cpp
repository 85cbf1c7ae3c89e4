// Pinpad_Indicator of the installed library against an installed virtual key: the PIN dialog
// is driven from a second thread, the library runs the token function itself. Also the
// signature check of the vendor libraries on copies of the installed ones.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "code_signature.h"
#include "device.h"
#include "dialog_driver.h"
#include "pin_entry.h"
#include "pinpad_api.h"
#include "pinpad_texts.h"
#include "resource.h"
#include "settings.h"
#include "soft_pad.h"
#include "store.h"
#include "token_api.h"
#include "verifier_warmup.h"
#include "win_handles.h"

namespace VKey {
namespace {

namespace tk = koba::token;
using testing::EnterPin;
using testing::ItemText;
using testing::Press;
using testing::PressOk;
using testing::RunWithDriver;
using testing::WaitForDialog;
using testing::WaitForDialogOtherThan;
using testing::WindowText;

constexpr char kSerial[] = "USER0001";

std::wstring TableText(const char* id) {
  const std::u16string text = PinpadTexts::Get().table().LoadText(id);
  return std::wstring(text.begin(), text.end());
}

std::wstring TableFormat(const char* id, int number) {
  const std::u16string text = PinpadTexts::Get().table().FormatText(id, {number});
  return std::wstring(text.begin(), text.end());
}

struct Library {
  explicit Library(const std::wstring& path) : module(LoadLibraryW(path.c_str())) {}
  ~Library() {
    if (module != nullptr) {
      FreeLibrary(module);
    }
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  template <typename T>
  T Get(const char* name) const {
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  }
  HMODULE module;
};

class Indicator : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_EQ(PinpadTexts::Get().Param(1033, 1), 0u) << "the installed English texts load";
  }

  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"pinpad-indicator-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder_.c_str(), nullptr);
    SetEnvironmentVariableW(L"KOBA_VKEY_STORE", folder_.c_str());
    ASSERT_TRUE(vkey::Transact([&](vkey::Store& s) {
      s.keys.clear();
      slot_ = vkey::AddKey(s, kSerial, false).slot;
      return true;
    }));
    ASSERT_NE(token_.module, nullptr);
    ASSERT_NE(pinpad_.module, nullptr);
    indicator_ = pinpad_.Get<Pinpad_Indicator_t>("Pinpad_Indicator");
    const auto param = pinpad_.Get<Pinpad_Param_t>("Pinpad_Param");
    ASSERT_NE(indicator_, nullptr);
    ASSERT_NE(param, nullptr);
    uint32_t language = 1033;
    ASSERT_EQ(param(&language, 1), 0u);
  }
  void TearDown() override {
    for (const wchar_t* f : {L"\\store.json", L"\\store.lock"}) {
      DeleteFileW((folder_ + f).c_str());
    }
    RemoveDirectoryW(folder_.c_str());
    SetEnvironmentVariableW(L"KOBA_VKEY_STORE", nullptr);
  }

  void EditKey(const std::function<void(vkey::Key&)>& edit) {
    ASSERT_TRUE(vkey::Transact([&](vkey::Store& s) {
      vkey::Key* key = s.BySlot(slot_);
      if (key != nullptr) {
        edit(*key);
      }
      return key != nullptr;
    }));
  }
  vkey::Key ReadKey() {
    vkey::Key key;
    vkey::Transact([&](vkey::Store& s) {
      if (const vkey::Key* found = s.BySlot(slot_)) {
        key = *found;
      }
      return false;
    });
    return key;
  }

  PinpadParam Block(uint32_t useType) const {
    PinpadParam p{};
    p.size = sizeof p;
    p.param0C = 32;
    p.param0D = 28;
    p.param0E = 7;
    p.flags = 2;
    p.pollPeriodMs = 500;
    p.useType = useType;
    p.pinType = useType == PAD_USE_INITDEV ? 0 : 2;
    p.deviceHandle = slot_ | tk::kTokenHandleFlag;
    p.pinMinLength = 6;
    p.pinMaxLength = 30;
    return p;
  }

  uint32_t Run(const char* function, const std::function<void(DWORD)>& drive, PinpadParam* block) {
    void* token = token_.Get<void*>(function);
    EXPECT_NE(token, nullptr);
    return RunWithDriver<uint32_t>([&] { return indicator_(0, token, 0, block); }, drive);
  }

  std::wstring folder_;
  uint32_t slot_ = 0;
  Library token_{koba::settings::SystemLibraryPath(L"Q2Token_koba.dll")};
  Library pinpad_{koba::settings::SystemLibraryPath(L"Q2Pinpad_KOBA.dll")};
  Pinpad_Indicator_t indicator_ = nullptr;
};

TEST_F(Indicator, VerifyOutcomes) {
  struct Attempt {
    std::string pin;
    const char* notice;  // the information box after the attempt, nullptr for none
    int tries;           // the number the notice shows
  };
  const struct {
    const char* what;
    uint32_t triesLeft;
    std::vector<std::string> presses;
    std::vector<Attempt> attempts;
    bool cancelAtEnd;
    uint32_t status;
  } cases[] = {
      {"right PIN", 6, {}, {{"123456", nullptr, 0}}, false, 0},
      {"wrong PIN, then right",
       6,
       {},
       {{"654321", "PinRemainTimes", 5}, {"123456", nullptr, 0}},
       false,
       0},
      {"wrong PIN on the last try locks",
       1,
       {},
       {{"654321", "PinBlocked", 0}},
       false,
       tk::kStatusPinLocked},
      {"locked key", 0, {}, {{"123456", "PinBlocked", 0}}, false, tk::kStatusPinLocked},
      {"button not pressed in time",
       6,
       {"timeout"},
       {{"123456", nullptr, 0}},
       false,
       tk::kStatusTimeout},
      {"cancel", 6, {}, {}, true, kPinpadUserCancel},
      {"cancel after a wrong PIN",
       6,
       {},
       {{"111111", "PinRemainTimes", 5}},
       true,
       kPinpadUserCancel},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EditKey([&](vkey::Key& k) {
      k.tries_left = c.triesLeft;
      k.presses = c.presses;
      k.logged_in = false;
    });
    PinpadParam block = Block(PAD_USE_CHECKPIN);
    const uint32_t status = Run(
        "VexloT_Login",
        [&](DWORD thread) {
          for (const Attempt& a : c.attempts) {
            const HWND d = WaitForDialog(
                thread, [](HWND w) { return GetDlgItem(w, IDC_VERIFY_PIN) != nullptr; });
            ASSERT_NE(d, nullptr);
            EXPECT_EQ(WindowText(d), TableText("PAD_USE_TYPE_CHECKPIN"));
            EnterPin(d, IDC_VERIFY_PIN, a.pin);
            PressOk(d);
            if (a.notice == nullptr) {
              continue;
            }
            const HWND box = WaitForDialog(
                thread, [](HWND w) { return GetDlgItem(w, IDC_INFO_TEXT) != nullptr; });
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(WindowText(box), TableText("PAD_USE_TYPE_CHECKPIN"));
            EXPECT_EQ(ItemText(box, IDC_INFO_TEXT), TableFormat(a.notice, a.tries));
            PressOk(box);
          }
          if (c.cancelAtEnd) {
            const HWND d = WaitForDialog(
                thread, [](HWND w) { return GetDlgItem(w, IDC_VERIFY_PIN) != nullptr; });
            ASSERT_NE(d, nullptr);
            Press(d, IDCANCEL);
          }
        },
        &block);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(ReadKey().logged_in, c.status == 0);
  }
}

TEST_F(Indicator, ChangeAndInitialiseRunTheirTokenFunctions) {
  // A wrong old PIN ends the change after the tries-left notice: the caller reports the tries.
  const struct {
    const char* oldPin;
    uint32_t status;
    const char* pinAfter;
  } changes[] = {
      {"999999", tk::kStatusPinWrong + 5, "123456"},
      {"123456", 0, "a1b2c3d4e5"},
  };
  for (const auto& c : changes) {
    SCOPED_TRACE(c.oldPin);
    PinpadParam change = Block(PAD_USE_CHANGEPIN);
    const uint32_t changed = Run(
        "VexloT_ChangePin",
        [&](DWORD thread) {
          const HWND d = WaitForDialog(
              thread, [](HWND w) { return GetDlgItem(w, IDC_CHANGE_OLD_PIN) != nullptr; });
          ASSERT_NE(d, nullptr);
          EnterPin(d, IDC_CHANGE_OLD_PIN, c.oldPin);
          EnterPin(d, IDC_CHANGE_NEW1_PIN, "a1b2c3d4e5");
          EnterPin(d, IDC_CHANGE_NEW2_PIN, "a1b2c3d4e5");
          PressOk(d);
          if (c.status == 0) {
            return;
          }
          const HWND box = WaitForDialogOtherThan(thread, d);
          ASSERT_NE(box, nullptr);
          EXPECT_EQ(WindowText(box), TableText("PAD_USE_TYPE_CHANGEPIN"));
          EXPECT_EQ(ItemText(box, IDC_INFO_TEXT), TableFormat("PinRemainTimes", 5));
          PressOk(box);
        },
        &change);
    EXPECT_EQ(changed, c.status);
    EXPECT_EQ(ReadKey().pin, c.pinAfter);
  }

  PinpadParam init = Block(PAD_USE_INITDEV);
  const uint32_t initialised = Run(
      "VexloT_InitToken",
      [&](DWORD thread) {
        const HWND d = WaitForDialog(thread);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(WindowText(d), TableText("PAD_USE_TYPE_INITDEV"));
        EnterPin(d, IDC_INIT_NEW1_PIN, "13579bdf");
        EnterPin(d, IDC_INIT_NEW2_PIN, "13579bdf");
        PressOk(d);
      },
      &init);
  EXPECT_EQ(initialised, 0u);
  EXPECT_EQ(ReadKey().pin, "13579bdf");
}

TEST_F(Indicator, RefusesWithoutShowingAnything) {
  PinpadParam noLengths = Block(PAD_USE_CHECKPIN);
  noLengths.pinMinLength = 0;
  PinpadParam crossed = Block(PAD_USE_CHECKPIN);
  crossed.pinMinLength = 8;
  crossed.pinMaxLength = 6;
  PinpadParam noKey = Block(PAD_USE_CHECKPIN);
  noKey.deviceHandle = (slot_ + 7) | tk::kTokenHandleFlag;
  const struct {
    const char* what;
    PinpadParam* block;
    bool failed;  // PINPAD_E_FAILED; else the token library's status
  } cases[] = {
      {"null block", nullptr, true},
      {"no minimum length", &noLengths, true},
      {"minimum above maximum", &crossed, true},
      {"no such key", &noKey, false},
  };
  void* login = token_.Get<void*>("VexloT_Login");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const uint32_t status = indicator_(0, login, 0, c.block);
    if (c.failed) {
      EXPECT_EQ(status, PINPAD_E_FAILED);
    } else {
      EXPECT_NE(status, 0u);
      EXPECT_NE(status, PINPAD_E_FAILED);
    }
  }
  EXPECT_EQ(ReadKey().tries_left, 6u) << "no PIN was tried";
}

// Copies of the installed vendor libraries in a folder of the test's own.
class VendorSignatures : public ::testing::Test {
 protected:
  void Prepare() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"pinpad-gate-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    CreateDirectoryW(folder_.c_str(), nullptr);
    for (const wchar_t* name : kNames) {
      ASSERT_TRUE(CopyFileW(koba::settings::SystemLibraryPath(name).c_str(),
                            (folder_ + name).c_str(), FALSE));
    }
  }
  void Clean() {
    for (const wchar_t* name : kNames) {
      DeleteFileW((folder_ + name).c_str());
    }
    RemoveDirectoryW(folder_.c_str());
  }

  static constexpr const wchar_t* kNames[] = {L"Q2Token_koba.dll", L"Q2CSP_KOBA.dll",
                                              L"Q2DevEx01_koba.dll"};
  std::wstring folder_;
};

TEST_F(VendorSignatures, OnlyUnalteredSignedLibrariesPass) {
  enum Change { kNone, kFlipByte, kUnsigned, kUntrustedRoot, kMissing };
  const struct {
    const char* what;
    const wchar_t* file;
    Change change;
    bool signedOk;
  } cases[] = {
      {"as installed", nullptr, kNone, true},
      {"token library altered", L"Q2Token_koba.dll", kFlipByte, false},
      {"CSP unsigned", L"Q2CSP_KOBA.dll", kUnsigned, false},
      {"CSP signed under an untrusted root", L"Q2CSP_KOBA.dll", kUntrustedRoot, false},
      {"device extension library missing", L"Q2DevEx01_koba.dll", kMissing, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Prepare();
    if (c.file != nullptr) {
      const std::wstring path = folder_ + c.file;
      if (c.change == kFlipByte) {
        const FileHandle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
        ASSERT_NE(file.get(), INVALID_HANDLE_VALUE);
        const DWORD size = GetFileSize(file.get(), nullptr);
        SetFilePointer(file.get(), static_cast<LONG>(size / 2), nullptr, FILE_BEGIN);
        unsigned char byte = 0;
        DWORD n = 0;
        ReadFile(file.get(), &byte, 1, &n, nullptr);
        byte ^= 0x5A;
        SetFilePointer(file.get(), static_cast<LONG>(size / 2), nullptr, FILE_BEGIN);
        WriteFile(file.get(), &byte, 1, &n, nullptr);
        ASSERT_EQ(n, 1u);
      } else if (c.change == kUnsigned) {
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        ASSERT_TRUE(CopyFileW(self, path.c_str(), FALSE));
      } else if (c.change == kUntrustedRoot) {
        std::wstring untrusted = UNTRUSTED_CSP;
        std::replace(untrusted.begin(), untrusted.end(), L'/', L'\\');
        ASSERT_TRUE(CopyFileW(untrusted.c_str(), path.c_str(), FALSE));
      } else {
        ASSERT_TRUE(DeleteFileW(path.c_str()));
      }
    }
    EXPECT_EQ(koba::codesign::VendorLibrariesSigned(folder_), c.signedOk);
    Clean();
  }
  EXPECT_FALSE(koba::codesign::VendorLibrariesSigned(L""));
}

TEST_F(VendorSignatures, VerifiedOnceAndHeldAgainstWriting) {
  Prepare();
  const std::wstring token = folder_ + L"Q2Token_koba.dll";
  const std::wstring moved = folder_ + L"Q2Token_koba.old";
  {
    koba::codesign::VerifiedFiles verified;
    ASSERT_TRUE(koba::codesign::VendorLibrariesSigned(folder_, verified));
    EXPECT_EQ(verified.verifications(), 3u);
    EXPECT_TRUE(koba::codesign::VendorLibrariesSigned(folder_, verified));
    EXPECT_EQ(verified.verifications(), 3u) << "the same files are not verified again";

    // Nobody can write to a verified file while it is held...
    const FileHandle writer(CreateFileW(token.c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(writer.get(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    // ...and a file put in its place is another file, verified on its own.
    ASSERT_TRUE(MoveFileW(token.c_str(), moved.c_str()));
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    ASSERT_TRUE(CopyFileW(self, token.c_str(), FALSE));
    EXPECT_FALSE(koba::codesign::VendorLibrariesSigned(folder_, verified));
    EXPECT_EQ(verified.verifications(), 4u);
  }
  {
    // Released with the object: the files can be written again.
    const FileHandle writer(
        CreateFileW(moved.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_NE(writer.get(), INVALID_HANDLE_VALUE);
  }
  DeleteFileW(moved.c_str());
  Clean();
}

// The warm-up runs the verifier for real, on its own thread: it accepts what the gate accepts and
// nothing else, and its end can be waited for more than once.
TEST_F(VendorSignatures, WarmUpRunsTheVerifier) {
  Prepare();
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  koba::codesign::VerifierWarmUp signedLibrary(folder_ + L"Q2Token_koba.dll");
  koba::codesign::VerifierWarmUp unsignedProgram(self);
  koba::codesign::VerifierWarmUp missing(folder_ + L"absent.dll");
  EXPECT_TRUE(signedLibrary.Wait());
  EXPECT_TRUE(signedLibrary.Wait());
  EXPECT_FALSE(unsignedProgram.Wait());
  EXPECT_FALSE(missing.Wait());
  Clean();
}

}  // namespace
}  // namespace VKey
