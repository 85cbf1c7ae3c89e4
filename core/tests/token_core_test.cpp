// The core's binding, key discovery, log-in and device operations against virtual keys, with a
// recording PIN pad in place of the real one.
#include "token_core.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "device.h"
#include "result_codes.h"
#include "settings.h"
#include "store.h"
#include "testing/temp_store.h"

namespace koba::core {
namespace {

using VKey::PinpadParam;

// A field of the block read at its interface offset.
uint32_t U32At(const PinpadParam& block, size_t offset) {
  uint32_t v;
  std::memcpy(&v, reinterpret_cast<const uint8_t*>(&block) + offset, 4);
  return v;
}

uint8_t U8At(const PinpadParam& block, size_t offset) {
  return reinterpret_cast<const uint8_t*>(&block)[offset];
}

using vkey::testing::BesideTest;

// Each test gets an empty virtual key store of its own.
class TokenCoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pinpad_ = LoadLibraryW(paths_.pinpad.c_str());
    ASSERT_NE(pinpad_, nullptr);
    script_ = Proc<void(__stdcall*)(const char*, uint32_t)>("Recording_Script");
    last_ = Proc<BOOL(__stdcall*)(PinpadParam*, void**, uint32_t*, uint32_t*)>("Recording_Last");
    script_(nullptr, 0);
  }

  void TearDown() override {
    if (pinpad_ != nullptr)
      FreeLibrary(pinpad_);
  }

  template <class F>
  F Proc(const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(pinpad_, name)));
  }

  void AddKey(const std::string& serial, bool admin = false) {
    ASSERT_TRUE(vkey::Transact([&](vkey::Store& s) {
      vkey::AddKey(s, serial, admin);
      return true;
    }));
  }

  vkey::Key ReadKey(const std::string& serial) {
    vkey::Key copy;
    vkey::Transact([&](vkey::Store& s) {
      std::string padded = serial;
      padded.resize(16, ' ');
      copy = *s.BySerial(padded);
      return false;
    });
    return copy;
  }

  void SetPresses(const std::string& serial, std::vector<std::string> presses) {
    vkey::Transact([&](vkey::Store& s) {
      std::string padded = serial;
      padded.resize(16, ' ');
      s.BySerial(padded)->presses = presses;
      return true;
    });
  }

  LibraryPaths paths_{BesideTest(L"..\\vkey\\Q2Token_koba.dll"),
                      BesideTest(L"recording_pinpad.dll")};
  vkey::testing::TempStore store_;
  HMODULE pinpad_ = nullptr;
  void(__stdcall* script_)(const char*, uint32_t) = nullptr;
  BOOL(__stdcall* last_)(PinpadParam*, void**, uint32_t*, uint32_t*) = nullptr;
};

TEST_F(TokenCoreTest, MediaIdAndKeyDiscovery) {
  TokenCore core(paths_);
  char id[TokenCore::kMediaIdCapacity];
  EXPECT_EQ(core.GetMediaID(id, sizeof id), kNoKey);
  EXPECT_EQ(core.last_result(), kNoKey);

  AddKey("AB12");
  ASSERT_EQ(core.GetMediaID(id, sizeof id), kOk);
  EXPECT_STREQ(id, "AB12");
  char stored[64];
  ASSERT_EQ(settings::ReadRegString(HKEY_CURRENT_USER, settings::kSettingsKey, L"UKeySN", stored,
                                    sizeof stored),
            ERROR_SUCCESS);
  EXPECT_STREQ(stored, "AB12");

  AddKey("0123456789ABCDEF");
  EXPECT_EQ(core.GetMediaID(id, sizeof id), kSeveralKeys);
  // No dialog is opened when the key cannot be found.
  PinpadParam block;
  void* fn;
  uint32_t info, lang;
  EXPECT_FALSE(last_(&block, &fn, &info, &lang));
}

TEST_F(TokenCoreTest, MissingOrPartialLibrary) {
  AddKey("AB12");
  char id[TokenCore::kMediaIdCapacity];
  TokenCore missing({BesideTest(L"no_such_token.dll"), paths_.pinpad});
  EXPECT_EQ(missing.GetMediaID(id, sizeof id), kLibraryMissing);

  TokenCore partial({BesideTest(L"partial_token.dll"), paths_.pinpad});
  ASSERT_EQ(partial.GetMediaID(id, sizeof id), kOk);
  EXPECT_STREQ(id, "PART");
  uint32_t slot;
  DeviceInfo dev;
  EXPECT_EQ(partial.FindKey(BindSet::kFull, &slot, &dev), kLibraryMissing);
  partial.Unbind();
  EXPECT_EQ(partial.FindKey(BindSet::kDevice, &slot, &dev), kOk);
  partial.Unbind();
}

TEST_F(TokenCoreTest, LoginFillsTheBlockAndRunsTheTokenFunction) {
  AddKey("AB12");
  TokenCore core(paths_);
  uint32_t slot;
  DeviceInfo dev;
  ASSERT_EQ(core.FindKey(BindSet::kFull, &slot, &dev), kOk);
  script_("123456", 0);
  EXPECT_EQ(core.Login(slot), kOk);
  EXPECT_TRUE(ReadKey("AB12").logged_in);

  PinpadParam b;
  void* fn = nullptr;
  uint32_t info = 0, lang = 0;
  ASSERT_TRUE(last_(&b, &fn, &info, &lang));
  EXPECT_EQ(fn, reinterpret_cast<void*>(core.api().Login));
  EXPECT_EQ(info, 0u);
  EXPECT_EQ(lang, core.device_language());
  EXPECT_EQ(U32At(b, 0x00), 208u);
  EXPECT_EQ(U8At(b, 0x0C), 32);
  EXPECT_EQ(U8At(b, 0x0D), 28);
  EXPECT_EQ(U8At(b, 0x0E), 7);
  EXPECT_EQ(U32At(b, 0x10), 2u);
  EXPECT_EQ(U32At(b, 0x14), 500u);
  EXPECT_EQ(U32At(b, 0x18), 0x100001u);
  EXPECT_EQ(U32At(b, 0x1C), 2u);
  EXPECT_EQ(U32At(b, 0x20), slot | 0x20000000u);
  EXPECT_EQ(U8At(b, 0x24), 6);
  EXPECT_EQ(U8At(b, 0x25), 30);
  core.Unbind();
}

TEST_F(TokenCoreTest, LoginStatusesMapToResultCodes) {
  AddKey("AB12");
  TokenCore core(paths_);
  uint32_t slot;
  DeviceInfo dev;
  ASSERT_EQ(core.FindKey(BindSet::kFull, &slot, &dev), kOk);
  const struct {
    const char* pin;
    uint32_t status;
    const char* press;
    int code;
  } cases[] = {
      {nullptr, static_cast<uint32_t>(-100), "", kCancelled},
      {nullptr, 0xE011000F, "", kTimeout},
      {nullptr, 0xE011FFFE, "", kEnvironmentGone},
      {nullptr, 0x8010002E, "", kNoKey},
      {"000000", 0, "", kOtherError},      // wrong PIN, tries left
      {"123456", 0, "timeout", kTimeout},  // the key's button was not pressed
      {"123456", 0, "refuse", kCancelled},
  };
  for (const auto& c : cases) {
    script_(c.pin, c.status);
    SetPresses("AB12", c.press[0] ? std::vector<std::string>{c.press} : std::vector<std::string>{});
    EXPECT_EQ(core.Login(slot), c.code) << (c.pin ? c.pin : "") << " " << std::hex << c.status;
    EXPECT_EQ(core.last_result(), c.code);
  }
  // Locked: every try used up.
  vkey::Transact([](vkey::Store& s) {
    s.keys[0].tries_left = 0;
    return true;
  });
  script_("123456", 0);
  EXPECT_EQ(core.Login(slot), kPinLocked);
  core.Unbind();
}

TEST_F(TokenCoreTest, MissingPinPadFailsTheLogin) {
  AddKey("AB12");
  TokenCore core({paths_.token, BesideTest(L"no_such_pinpad.dll")});
  uint32_t slot;
  DeviceInfo dev;
  ASSERT_EQ(core.FindKey(BindSet::kFull, &slot, &dev), kOk);
  EXPECT_EQ(core.Login(slot), kOtherError);
  core.Unbind();
}

TEST_F(TokenCoreTest, ClearSslStateLogsEveryKeyOut) {
  TokenCore core(paths_);
  EXPECT_EQ(core.ClearSSLState(), kOk);  // no key present
  AddKey("AB12");
  AddKey("CD34");
  vkey::Transact([](vkey::Store& s) {
    for (auto& k : s.keys)
      k.logged_in = true;
    return true;
  });
  EXPECT_EQ(core.ClearSSLState(), kOk);
  EXPECT_FALSE(ReadKey("AB12").logged_in);
  EXPECT_FALSE(ReadKey("CD34").logged_in);
}

}  // namespace
}  // namespace koba::core
