// Virtual keys for the monitor's tests: a key store of the test's own that the virtual key
// bus follows (so the keys show as USB CD-ROM-class devices), laid out with vkey.exe, and a
// monitor process serving them.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "pipe_client.h"
#include "pipe_protocol.h"
#include "process_util.h"

namespace koba::service::testing {

// Generous: Wine under load starts processes slowly.
inline constexpr DWORD kKeyWaitMs = 20000;
inline constexpr DWORD kMonitorStopBoundMs = 6000 + 3000;

inline int Vkey(const std::string& args) {
  return RunToEnd(
      L"\"" + NextToTest(L"..\\vkey\\vkey.exe") + L"\" " + std::wstring(args.begin(), args.end()),
      kKeyWaitMs);
}

inline std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// The device-list reply and its paths, through a new connection; false when not served.
inline bool ListOnce(std::vector<std::string>* paths, Bytes* raw = nullptr) {
  const auto pipe = OpenPipe(kListPipeName, 2000);
  return pipe && RequestDeviceList(pipe.get(), paths, raw);
}

// The path of the key `serial` in `paths`, or empty.
inline std::string PathOfSerial(const std::vector<std::string>& paths, const std::string& serial) {
  for (const std::string& p : paths)
    if (Lower(p).find("#" + Lower(serial) + "&") != std::string::npos)
      return p;
  return {};
}

// Polls the list pipe until its reply names exactly the keys `serials`; returns the paths.
inline std::vector<std::string> AwaitKeys(const std::vector<std::string>& serials) {
  std::vector<std::string> paths;
  WaitUntil(
      [&] {
        if (!ListOnce(&paths) || paths.size() != serials.size())
          return false;
        for (const std::string& s : serials)
          if (PathOfSerial(paths, s).empty())
            return false;
        return true;
      },
      kKeyWaitMs);
  return paths;
}

// GET DATA of the serial, and what the key answers to it: the serial padded to 16 bytes and
// 90 00.
inline const Bytes kGetSerial = {0x80, 0xCA, 0x00, 0x01, 0x10};
inline Bytes SerialAnswer(const std::string& serial) {
  std::string padded = serial;
  padded.resize(16, ' ');
  Bytes answer(padded.begin(), padded.end());
  answer.insert(answer.end(), {0x90, 0x00});
  return answer;
}

class KeyMonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"koba-vexlo-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
              std::to_wstring(++counter);
    CreateDirectoryW(folder_.c_str(), nullptr);
    SetEnvironmentVariableW(L"KOBA_VKEY_STORE", folder_.c_str());
    ASSERT_EQ(Vkey("use-store \"" + std::string(folder_.begin(), folder_.end()) + "\""), 0);
    monitor_ = Child(L"\"" + NextToTest(L"VexloSerB.exe") + L"\" -m");
    ASSERT_TRUE(monitor_.started());
    std::vector<std::string> paths;
    bool served = false;
    ASSERT_TRUE(WaitUntil(
        [&] {
          served = ListOnce(&paths);
          return served && paths.empty();
        },
        kKeyWaitMs))
        << (served ? paths.size() : 999) << (paths.empty() ? "" : paths[0]);
  }
  void TearDown() override {
    ASSERT_TRUE(WaitUntil(
        [&] {
          const HWND w = FindWindowW(L"VexloMonClass_KOBA", nullptr);
          DWORD pid = 0;
          if (w != nullptr)
            GetWindowThreadProcessId(w, &pid);
          return pid == monitor_.process_id();
        },
        kKeyWaitMs));
    monitor_.PostQuit();
    DWORD code = 1;
    EXPECT_TRUE(monitor_.WaitExit(kMonitorStopBoundMs, &code));
    EXPECT_EQ(code, 0u);
    for (const std::string& serial : created_)
      Vkey("remove " + serial);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  // New keys, plugged in.
  void AddKeys(const std::vector<std::string>& serials) {
    for (const std::string& s : serials) {
      ASSERT_EQ(Vkey("create " + s), 0) << s;
      ASSERT_EQ(Vkey("insert " + s), 0) << s;
      created_.push_back(s);
    }
  }

  Child monitor_;
  std::wstring folder_;
  std::vector<std::string> created_;
};

}  // namespace koba::service::testing
