#include "settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "win_handle.h"
#include "win_test_util.h"

namespace koba::settings {
namespace {

// A key of this test run under HKCU.
const std::wstring kTestKey =
    L"Software\\KobaSettingsTest\\" + std::to_wstring(GetCurrentProcessId());

void SetRaw(HKEY root, const std::wstring& subkey, const wchar_t* name, DWORD type,
            const void* data, DWORD size) {
  HKEY h = nullptr;
  ASSERT_EQ(RegCreateKeyExW(root, subkey.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &h, nullptr),
            ERROR_SUCCESS);
  const win::UniqueRegKey key(h);
  ASSERT_EQ(RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), size),
            ERROR_SUCCESS);
}

void SetString(HKEY root, const std::wstring& subkey, const wchar_t* name, const std::string& s,
               DWORD type = REG_SZ, bool with_nul = true) {
  HKEY h = nullptr;
  ASSERT_EQ(RegCreateKeyExW(root, subkey.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &h, nullptr),
            ERROR_SUCCESS);
  const win::UniqueRegKey key(h);
  char name_a[64];
  WideCharToMultiByte(CP_ACP, 0, name, -1, name_a, sizeof name_a, nullptr, nullptr);
  // The registry adds the NUL of a string whose next byte in memory is one; an "X" there
  // keeps an unterminated value unterminated.
  const std::string data = s + (with_nul ? std::string(1, '\0') : std::string("X"));
  ASSERT_EQ(RegSetValueExA(key.get(), name_a, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                           static_cast<DWORD>(s.size() + (with_nul ? 1 : 0))),
            ERROR_SUCCESS);
}

class Settings : public ::testing::Test {
 protected:
  void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey.c_str()); }
};

TEST_F(Settings, StringReadingRules) {
  const DWORD dword = 7;
  SetString(HKEY_CURRENT_USER, kTestKey, L"sz", "1.0.2");
  SetString(HKEY_CURRENT_USER, kTestKey, L"expand", "%x%", REG_EXPAND_SZ);
  SetString(HKEY_CURRENT_USER, kTestKey, L"max", std::string(31, 'v'));
  SetString(HKEY_CURRENT_USER, kTestKey, L"long", std::string(32, 'v'));
  SetString(HKEY_CURRENT_USER, kTestKey, L"binary", "abc", REG_BINARY);
  SetRaw(HKEY_CURRENT_USER, kTestKey, L"dword", REG_DWORD, &dword, sizeof dword);
  SetRaw(HKEY_CURRENT_USER, kTestKey, L"empty", REG_SZ, "", 0);
  SetString(HKEY_CURRENT_USER, kTestKey, L"nonul", "abc", REG_SZ, false);
  const struct {
    const wchar_t* name;
    LONG rc;
    std::string text;
  } cases[] = {
      {L"sz", ERROR_SUCCESS, "1.0.2"},
      {L"expand", ERROR_SUCCESS, "%x%"},
      {L"max", ERROR_SUCCESS, std::string(31, 'v')},
      {L"long", ERROR_MORE_DATA, ""},
      {L"binary", ERROR_INVALID_DATA, ""},
      {L"dword", ERROR_INVALID_DATA, ""},
      {L"empty", ERROR_INVALID_DATA, ""},
      {L"nonul", ERROR_INVALID_DATA, ""},
      {L"missing", ERROR_FILE_NOT_FOUND, ""},
  };
  for (const auto& c : cases) {
    char buf[32];
    std::memset(buf, 'z', sizeof buf);
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, kTestKey.c_str(), c.name, buf, sizeof buf), c.rc)
        << c.name;
    EXPECT_EQ(std::string(buf), c.text);
  }
  char buf[8];
  EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, L"Software\\KobaNoSuchKey", L"sz", buf, sizeof buf),
            ERROR_FILE_NOT_FOUND);
  wchar_t wbuf[8];
  EXPECT_EQ(ReadRegStringW(HKEY_CURRENT_USER, kTestKey.c_str(), L"sz", wbuf, 8), ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(wbuf), L"1.0.2");
  EXPECT_EQ(ReadRegStringW(HKEY_CURRENT_USER, kTestKey.c_str(), L"sz", wbuf, 5), ERROR_MORE_DATA);
  DWORD value = 0;
  EXPECT_EQ(ReadRegDword(HKEY_CURRENT_USER, kTestKey.c_str(), L"dword", &value), ERROR_SUCCESS);
  EXPECT_EQ(value, 7u);
  EXPECT_EQ(ReadRegDword(HKEY_CURRENT_USER, kTestKey.c_str(), L"sz", &value), ERROR_INVALID_DATA);
}

TEST_F(Settings, Writes) {
  ASSERT_EQ(WriteRegDword(HKEY_CURRENT_USER, kTestKey.c_str(), L"UILang", 3), ERROR_SUCCESS);
  DWORD value = 0;
  EXPECT_EQ(ReadRegDword(HKEY_CURRENT_USER, kTestKey.c_str(), L"UILang", &value), ERROR_SUCCESS);
  EXPECT_EQ(value, 3u);

  // "UKeySN" and "WarningMsg" are stored without their terminating NUL.
  ASSERT_EQ(WriteRegDword(HKEY_CURRENT_USER, kSettingsKey, L"KobaTestProbe", 1), ERROR_SUCCESS);
  ASSERT_EQ(WriteRegUKeySN("0123456789ABCDEF"), ERROR_SUCCESS);
  ASSERT_EQ(WriteRegWarningMsg(L"warn\0hidden", 11), ERROR_SUCCESS);
  char sn[32];
  EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, kSettingsKey, L"UKeySN", sn, sizeof sn),
            ERROR_SUCCESS);
  EXPECT_EQ(std::string(sn), "0123456789ABCDEF");
  std::vector<wchar_t> msg(kMaxWarningChars + 1);
  EXPECT_EQ(ReadRegStringW(HKEY_CURRENT_USER, kSettingsKey, L"WarningMsg", msg.data(), 8),
            ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(msg.data()), L"warn");
  const std::wstring too_long(kMaxWarningChars + 1, L'w');
  EXPECT_EQ(WriteRegWarningMsg(too_long.c_str(), too_long.size()), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(ReadRegStringW(HKEY_CURRENT_USER, kSettingsKey, L"WarningMsg", msg.data(), 8),
            ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(msg.data()), L"warn");
  const std::wstring longest = too_long.substr(1) + L'\0';
  EXPECT_EQ(WriteRegWarningMsg(longest.c_str(), longest.size()), ERROR_SUCCESS);
  EXPECT_EQ(ReadRegStringW(HKEY_CURRENT_USER, kSettingsKey, L"WarningMsg", msg.data(),
                           static_cast<DWORD>(msg.size())),
            ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(msg.data()), longest.substr(0, kMaxWarningChars));
  for (const wchar_t* name : {L"UKeySN", L"WarningMsg", L"KobaTestProbe", L"KobaTestProbe"})
    EXPECT_EQ(DeleteRegValue(HKEY_CURRENT_USER, name), ERROR_SUCCESS);
}

// The version queries read the machine settings of this run's own Wine prefix.
TEST(VersionQueries, AnswerTheVersionOrMinus101) {
  const struct {
    const wchar_t* key;
    int (*query)(char*, size_t);
  } queries[] = {{kSettingsKey, GetDriverVersion}, {kHostRegistrationKey, GetVersion}};
  const DWORD dword = 5;
  for (const auto& q : queries) {
    const struct {
      std::string value;  // empty: a REG_DWORD
      int code;
    } cases[] = {
        {"1.0.0.12", 0}, {std::string(31, '9'), 0}, {std::string(32, '9'), -101}, {"", -101}};
    for (const auto& c : cases) {
      if (c.value.empty()) {
        SetRaw(HKEY_LOCAL_MACHINE, q.key, L"version", REG_DWORD, &dword, sizeof dword);
      } else {
        SetString(HKEY_LOCAL_MACHINE, q.key, L"version", c.value);
      }
      char result[64] = "x";
      EXPECT_EQ(q.query(result, sizeof result), c.code);
      EXPECT_EQ(std::string(result), c.code == 0 ? c.value : "");
    }
    HKEY h = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, q.key, 0, KEY_SET_VALUE, &h), ERROR_SUCCESS);
    RegDeleteValueW(h, L"version");
    RegCloseKey(h);
    char result[64];
    EXPECT_EQ(q.query(result, sizeof result), -101);
  }
}

TEST(SystemPaths, SystemFolderOfThisProcess) {
  EXPECT_FALSE(IsWow64());
  wchar_t dir[MAX_PATH];
  const UINT n = GetSystemWindowsDirectoryW(dir, MAX_PATH);
  EXPECT_EQ(SystemLibraryPath(L"Q2Token_koba.dll"),
            std::wstring(dir, n) + L"\\System32\\Q2Token_koba.dll");
  EXPECT_EQ(SystemLibraryPath(std::wstring(300, L'x').c_str()), L"");
}

// What the probe process sees while another process shows the given window and event.
TEST(TrayMonitor, WindowAndRescanEvent) {
  const struct {
    const wchar_t* title;  // "-": no window; "monitor": the monitor's title
    bool event;
    const char* seen;  // IsTrayMonitorRunning, SignalTrayMonitor
  } cases[] = {
      {L"-", false, "0 0"},
      {L"monitor", false, "1 0"},
      {L"other", true, "0 1"},
      {L"monitor", true, "1 1"},
  };
  for (const auto& c : cases) {
    koba::testing::Child monitor(std::wstring(L"tray ") + c.title + (c.event ? L" 1" : L" 0"));
    ASSERT_EQ(monitor.ReadLine(), "ready");
    koba::testing::Child probe(L"trayprobe");
    EXPECT_EQ(probe.ReadLine(), c.seen) << c.title << c.event;
    EXPECT_EQ(probe.Finish(), 0);
    // The monitor's event was set when the probe said so.
    EXPECT_EQ(monitor.Finish(), 0);
  }
}

}  // namespace
}  // namespace koba::settings
