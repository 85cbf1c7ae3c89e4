// The monitor under load, bounded in time: four clients hammer two key pipes and the list pipe
// while keys are plugged in and pulled out beneath them. Nothing hangs, every answer belongs to
// its request, a pulled key's connections end without a reply, the list follows the keys, and
// the monitor's handles and its own threads come back to where they started.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "key_fixture.h"
#include "process_census.h"

namespace koba::service {
namespace {

using namespace testing;
using koba::test::Describe;
using koba::test::ProcessCensus;
using koba::test::TakeCensus;

constexpr int kCycles = 4;
constexpr DWORD kLoadBoundMs = 180000;
constexpr wchar_t kMonitorImage[] = L"VexloSerB.exe";

// The census of the monitor once it has settled to `baseline`'s handles and own threads, or the
// last one taken at the deadline.
ProcessCensus SettledCensus(HANDLE monitor, const ProcessCensus& baseline) {
  ProcessCensus census;
  WaitUntil(
      [&] {
        return TakeCensus(monitor, &census) && census.handles <= baseline.handles &&
               census.ThreadsStartedIn(kMonitorImage) == baseline.ThreadsStartedIn(kMonitorImage);
      },
      kKeyWaitMs);
  return census;
}

TEST_F(KeyMonitorTest, ClientsHammerThePipesWhileKeysComeAndGo) {
  // The start: two keys served, and a third one's server left behind by its removal, as every
  // round of the churn below leaves one.
  AddKeys({"LOAD0001", "LOAD0002", "LOAD0003"});
  std::vector<std::string> paths = AwaitKeys({"LOAD0001", "LOAD0002", "LOAD0003"});
  ASSERT_EQ(paths.size(), 3u);
  ASSERT_EQ(Vkey("remove LOAD0003"), 0);
  paths = AwaitKeys({"LOAD0001", "LOAD0002"});
  ASSERT_EQ(paths.size(), 2u);
  ProcessCensus baseline;
  ASSERT_TRUE(TakeCensus(monitor_.process(), &baseline));
  // The main thread, the list server and three key servers.
  ASSERT_EQ(baseline.ThreadsStartedIn(kMonitorImage), 5u) << Describe(baseline);

  std::atomic<bool> churning{true};
  std::atomic<int> wrong{0};
  std::atomic<int> answered{0};
  // Connections that ended without a reply, of LOAD0001 and of LOAD0002.
  std::atomic<int> dropped[2] = {0, 0};
  auto key_client = [&](const std::string serial, std::atomic<int>* unanswered) {
    const std::wstring name = KeyPipeNameForPath(PathOfSerial(paths, serial));
    while (churning) {
      const auto key = OpenPipe(name, 2000);
      if (!key)
        continue;  // the key is out just now, or its server is between two instances
      for (uint8_t le = 1; le <= 3; ++le) {
        Bytes reply;
        if (!Exchange(key.get(), kGetSerial, &reply)) {
          ++*unanswered;
          break;
        }
        wrong += reply != SerialAnswer(serial);
        if (!Exchange(key.get(), {0x00, 0x84, 0x00, 0x00, static_cast<uint8_t>(le * 40)}, &reply)) {
          ++*unanswered;
          break;
        }
        wrong += reply.size() != le * 40u + 2;
        ++answered;
      }
    }
  };
  auto list_client = [&] {
    while (churning) {
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

  std::vector<std::thread> clients;
  clients.emplace_back(key_client, "LOAD0001", &dropped[0]);
  clients.emplace_back(key_client, "LOAD0002", &dropped[1]);
  clients.emplace_back(list_client);
  clients.emplace_back(list_client);
  // Nothing may hang: when the load has not ended within its bound the monitor is killed, so
  // that every blocked client returns, and the test fails.
  std::atomic<bool> done{false};
  std::thread watchdog([&] {
    if (!WaitUntil([&] { return done.load(); }, kLoadBoundMs)) {
      ADD_FAILURE() << "the load did not end within its bound";
      TerminateProcess(monitor_.process(), 1);
    }
  });

  // Keys come and go while the clients send their commands: a new key each round (which retires
  // the server of the previous round's key), and LOAD0002 pulled out from under its client and
  // plugged in again.
  for (int cycle = 0; cycle < kCycles && !HasFailure(); ++cycle) {
    const std::string serial = "LOADNEW" + std::to_string(cycle);
    created_.push_back(serial);
    EXPECT_EQ(Vkey("create " + serial), 0);
    EXPECT_EQ(Vkey("insert " + serial), 0);
    EXPECT_EQ(AwaitKeys({"LOAD0001", "LOAD0002", serial}).size(), 3u) << cycle;
    const int dropped_before = dropped[1];
    EXPECT_EQ(Vkey("remove " + serial), 0);
    EXPECT_EQ(Vkey("remove LOAD0002"), 0);
    EXPECT_EQ(AwaitKeys({"LOAD0001"}).size(), 1u) << cycle;
    // The client of the pulled key saw its connection end.
    EXPECT_TRUE(WaitUntil([&] { return dropped[1] > dropped_before; }, kKeyWaitMs)) << cycle;
    EXPECT_EQ(Vkey("insert LOAD0002"), 0);
    EXPECT_EQ(AwaitKeys({"LOAD0001", "LOAD0002"}).size(), 2u) << cycle;
  }
  churning = false;
  for (std::thread& t : clients)
    t.join();
  done = true;
  watchdog.join();

  EXPECT_EQ(wrong, 0);
  // The key that stayed was served throughout.
  EXPECT_EQ(dropped[0], 0);
  EXPECT_GT(answered, kCycles * 4);
  paths = AwaitKeys({"LOAD0001", "LOAD0002"});
  ASSERT_EQ(paths.size(), 2u);
  for (const char* serial : {"LOAD0001", "LOAD0002"}) {
    const auto key = OpenPipe(KeyPipeNameForPath(PathOfSerial(paths, serial)), kKeyWaitMs);
    ASSERT_TRUE(key) << serial;
    Bytes reply;
    ASSERT_TRUE(Exchange(key.get(), kGetSerial, &reply)) << serial;
    EXPECT_EQ(reply, SerialAnswer(serial));
  }

  // Back at the start's shape (two keys served, one retired key's server left), the monitor
  // holds no more than it held then: the start's count may still include a handle of the
  // removal just before it, which closes later.
  const ProcessCensus after = SettledCensus(monitor_.process(), baseline);
  EXPECT_LE(after.handles, baseline.handles) << Describe(baseline) << " -> " << Describe(after);
  EXPECT_EQ(after.ThreadsStartedIn(kMonitorImage), baseline.ThreadsStartedIn(kMonitorImage))
      << Describe(baseline) << " -> " << Describe(after);
  EXPECT_LE(after.threads, baseline.threads) << Describe(baseline) << " -> " << Describe(after);
}

}  // namespace
}  // namespace koba::service
