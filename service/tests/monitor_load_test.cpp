// The monitor under load, bounded in time: four clients hammer two key pipes and the list pipe
// in bursts, and keys come and go between them. Nothing hangs, every answer belongs to its
// request, and the monitor serves the keys that are left afterwards.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "key_fixture.h"

namespace koba::service {
namespace {

using namespace testing;

constexpr int kRounds = 15;
constexpr int kCycles = 3;
constexpr DWORD kLoadBoundMs = 120000;

TEST_F(KeyMonitorTest, ClientsHammerThePipesWhileKeysComeAndGo) {
  AddKeys({"LOAD0001", "LOAD0002", "LOAD0003"});
  std::vector<std::string> paths = AwaitKeys({"LOAD0001", "LOAD0002", "LOAD0003"});
  ASSERT_EQ(paths.size(), 3u);
  ASSERT_EQ(Vkey("remove LOAD0003"), 0);
  paths = AwaitKeys({"LOAD0001", "LOAD0002"});
  ASSERT_EQ(paths.size(), 2u);

  std::atomic<int> wrong{0};
  std::atomic<int> answered{0};
  auto key_client = [&](const std::string serial) {
    const std::wstring name = KeyPipeNameForPath(PathOfSerial(paths, serial));
    for (int round = 0; round < kRounds; ++round) {
      const auto key = OpenPipe(name, 2000);
      if (!key)
        continue;  // the key is out just now, or its server is between two instances
      for (uint8_t le = 1; le <= 3; ++le) {
        Bytes reply;
        if (!Exchange(key.get(), kGetSerial, &reply))
          break;
        wrong += reply != SerialAnswer(serial);
        if (!Exchange(key.get(), {0x00, 0x84, 0x00, 0x00, static_cast<uint8_t>(le * 40)}, &reply))
          break;
        wrong += reply.size() != le * 40u + 2;
        ++answered;
      }
    }
  };
  auto list_client = [&] {
    for (int round = 0; round < kRounds * 2; ++round) {
      const auto pipe = OpenPipe(kListPipeName, 5000);
      if (!pipe) {
        ++wrong;
        continue;
      }
      std::vector<std::string> seen;
      Bytes raw;
      if (!RequestDeviceList(pipe.get(), &seen, &raw)) {
        ++wrong;
        continue;
      }
      size_t size = 1;
      for (const std::string& p : seen) {
        size += p.size() + 1;
        wrong += Lower(p).find("&ven_korvanet") == std::string::npos;
      }
      wrong += raw.size() != size || raw.back() != 0;
      Bytes error;
      if (Exchange(pipe.get(), {'D', 'e', 'v'}, &error))
        wrong += error != Bytes{'E', 'r', 'r', 'o', 'r', 0};
      ++answered;
    }
  };
  // Keys come and go between the bursts: the test bus driver does not take a key out while
  // SCSI commands and enumerations run beside the removal (its unplug then blocks).
  auto churn = [&](int i) {
    const std::string serial = "LOADNEW" + std::to_string(i);
    created_.push_back(serial);
    EXPECT_EQ(Vkey("create " + serial), 0);
    EXPECT_EQ(Vkey("insert " + serial), 0);
    EXPECT_EQ(AwaitKeys({"LOAD0001", "LOAD0002", serial}).size(), 3u);
    EXPECT_EQ(Vkey("remove " + serial), 0);
    EXPECT_EQ(Vkey("remove LOAD0002"), 0);
    EXPECT_EQ(AwaitKeys({"LOAD0001"}).size(), 1u) << i;
    EXPECT_EQ(Vkey("insert LOAD0002"), 0);
    EXPECT_EQ(AwaitKeys({"LOAD0001", "LOAD0002"}).size(), 2u) << i;
  };

  for (int cycle = 0; cycle < kCycles; ++cycle) {
    std::vector<std::thread> threads;
    threads.emplace_back(key_client, "LOAD0001");
    threads.emplace_back(key_client, "LOAD0002");
    threads.emplace_back(list_client);
    threads.emplace_back(list_client);
    // Nothing may hang: the clients end within the bound, else the monitor is killed so that
    // every blocked client returns, and the test fails.
    std::atomic<bool> done{false};
    std::thread watchdog([&] {
      if (!WaitUntil([&] { return done.load(); }, kLoadBoundMs)) {
        ADD_FAILURE() << "the load did not end within its bound";
        TerminateProcess(monitor_.process(), 1);
      }
    });
    for (std::thread& t : threads)
      t.join();
    done = true;
    watchdog.join();
    churn(cycle);
  }

  EXPECT_EQ(wrong, 0);
  EXPECT_GT(answered, kRounds * kCycles);
  paths = AwaitKeys({"LOAD0001", "LOAD0002"});
  ASSERT_EQ(paths.size(), 2u);
  for (const char* serial : {"LOAD0001", "LOAD0002"}) {
    const auto key = OpenPipe(KeyPipeNameForPath(PathOfSerial(paths, serial)), kKeyWaitMs);
    ASSERT_TRUE(key) << serial;
    Bytes reply;
    ASSERT_TRUE(Exchange(key.get(), kGetSerial, &reply)) << serial;
    EXPECT_EQ(reply, SerialAnswer(serial));
  }
}

}  // namespace
}  // namespace koba::service
