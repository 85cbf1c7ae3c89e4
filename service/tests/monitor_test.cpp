// The monitor process ("VexloSerB -m") through its pipes, as an outside client sees it. These
// tests need no key: the list is empty, and the bounds and lifecycle are the list server's.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pipe_client.h"
#include "pipe_protocol.h"
#include "pipe_server.h"
#include "process_util.h"

namespace koba::service {
namespace {

using testing::Child;
using testing::NextToTest;
using testing::WaitUntil;

// Generous: Wine under load starts processes slowly.
constexpr DWORD kServeWaitMs = 20000;
// The monitor stops its key servers within 6000 ms; it then exits.
constexpr DWORD kStopBoundMs = 6000 + 3000;

Child StartMonitor() {
  return Child(L"\"" + NextToTest(L"VexloSerB.exe") + L"\" -m");
}

Bytes Message(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

// Waits until the list pipe answers the device-list request.
bool ListServed(DWORD ms) {
  return WaitUntil(
      [] {
        const auto pipe = OpenPipe(kListPipeName, 200);
        std::vector<std::string> paths;
        return pipe && RequestDeviceList(pipe.get(), &paths);
      },
      ms);
}

// The monitor's hidden window exists once its main thread has a message queue, so that the
// WM_QUIT of a stop reaches it.
bool WindowOf(const Child& monitor) {
  HWND w = nullptr;
  while ((w = FindWindowExW(nullptr, w, L"VexloMonClass_KOBA", nullptr)) != nullptr) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid == monitor.process_id())
      return true;
  }
  return false;
}

bool WaitForWindow(const Child& monitor) {
  return WaitUntil([&] { return WindowOf(monitor); }, kServeWaitMs);
}

class MonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    monitor_ = StartMonitor();
    ASSERT_TRUE(monitor_.started());
    ASSERT_TRUE(ListServed(kServeWaitMs));
    ASSERT_TRUE(WaitForWindow(monitor_));
  }
  void TearDown() override {
    monitor_.PostQuit();
    DWORD code = 1;
    EXPECT_TRUE(monitor_.WaitExit(kStopBoundMs, &code));
    EXPECT_EQ(code, 0u);
  }
  Child monitor_;
};

TEST_F(MonitorTest, NoKeyGivesOneNulAndOtherMessagesGetError) {
  const auto pipe = OpenPipe(kListPipeName, kServeWaitMs);
  ASSERT_TRUE(pipe);
  Bytes reply;
  ASSERT_TRUE(Exchange(pipe.get(), Message(std::string("DeviceListA\0", 12)), &reply));
  EXPECT_EQ(reply, Bytes{0});

  const std::string refused[] = {std::string("DeviceListA"),
                                 std::string("DeviceListA\0\0", 13),
                                 std::string("DeviceListA\0x", 13),
                                 std::string("deviceLista\0", 12),
                                 std::string("x"),
                                 std::string(4096, 'D')};
  for (const std::string& r : refused) {
    ASSERT_TRUE(Exchange(pipe.get(), Message(r), &reply)) << r.size();
    EXPECT_EQ(reply, Message(std::string("Error\0", 6))) << r.size();
  }
  // The same connection goes on serving the list.
  ASSERT_TRUE(Exchange(pipe.get(), Message(std::string("DeviceListA\0", 12)), &reply));
  EXPECT_EQ(reply, Bytes{0});
}

TEST_F(MonitorTest, MessageOverTheBufferDropsTheConnectionAndTheServerGoesOn) {
  const auto pipe = OpenPipe(kListPipeName, kServeWaitMs);
  ASSERT_TRUE(pipe);
  Bytes reply;
  EXPECT_FALSE(Exchange(pipe.get(), Bytes(kMessageCapacity + 1, 'D'), &reply));
  EXPECT_TRUE(reply.empty());

  const auto next = OpenPipe(kListPipeName, kServeWaitMs);
  ASSERT_TRUE(next);
  ASSERT_TRUE(Exchange(next.get(), Message(std::string("DeviceListA\0", 12)), &reply));
  EXPECT_EQ(reply, Bytes{0});
}

// The pipe's DACL as Wine keeps it (Wine drops the low label; the descriptor's builder is
// tested in the shared services' tests).
TEST_F(MonitorTest, PipeDeniesNetworkLogonsAndAllowsEveryone) {
  HANDLE raw = INVALID_HANDLE_VALUE;
  // Between two connections the server's next instance may not exist yet.
  ASSERT_TRUE(WaitUntil(
      [&] {
        raw = CreateFileW(kListPipeName, GENERIC_READ | GENERIC_WRITE | READ_CONTROL, 0, nullptr,
                          OPEN_EXISTING, 0, nullptr);
        return raw != INVALID_HANDLE_VALUE;
      },
      kServeWaitMs));
  const win::UniqueHandle pipe(raw);
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_EQ(GetSecurityInfo(raw, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            nullptr, nullptr, &sd),
            static_cast<DWORD>(ERROR_SUCCESS));
  const win::UniqueLocal<void> own_sd(sd);
  wchar_t* sddl = nullptr;
  ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
      sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl, nullptr));
  const win::UniqueLocal<wchar_t> own_sddl(sddl);
  const std::wstring text(sddl);
  for (const wchar_t* ace : {L"(D;OICI;GA;;;NU)", L"(D;OICI;GA;;;NO)", L"(D;OICI;GA;;;NS)"})
    EXPECT_NE(text.find(ace), std::wstring::npos) << ace;
  EXPECT_NE(text.find(L";;;WD)"), std::wstring::npos) << text;
}

TEST_F(MonitorTest, StopWhileAClientIsConnectedEndsInBounds) {
  const auto pipe = OpenPipe(kListPipeName, kServeWaitMs);
  ASSERT_TRUE(pipe);
  Bytes reply;
  ASSERT_TRUE(Exchange(pipe.get(), Message(std::string("DeviceListA\0", 12)), &reply));
  // TearDown posts the WM_QUIT with the connection still open and checks the bound.
}

// Only one monitor on the machine serves; a second one waits for the instance mutex. A held
// connection takes the first monitor's only instance, so a second client finds the pipe busy
// unless the second monitor serves too.
TEST(MonitorInstanceTest, SecondMonitorServesOnlyAfterTheFirstEnds) {
  Child first = StartMonitor();
  ASSERT_TRUE(ListServed(kServeWaitMs));
  Child second = StartMonitor();
  ASSERT_TRUE(second.started());
  {
    const auto held = OpenPipe(kListPipeName, kServeWaitMs);
    ASSERT_TRUE(held);
    // The second monitor runs: its window is there.
    ASSERT_TRUE(WaitForWindow(second));
    const HANDLE other = CreateFileW(kListPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(other, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_BUSY));
    if (other != INVALID_HANDLE_VALUE)
      CloseHandle(other);
  }
  ASSERT_TRUE(WaitForWindow(first));
  first.PostQuit();
  ASSERT_TRUE(first.WaitExit(kStopBoundMs));
  EXPECT_TRUE(ListServed(kServeWaitMs));
  second.PostQuit();
  EXPECT_TRUE(second.WaitExit(kStopBoundMs));
}

// A monitor that is killed leaves the mutex abandoned: the one waiting takes over.
TEST(MonitorInstanceTest, KilledMonitorIsSucceededByTheWaitingOne) {
  Child first = StartMonitor();
  ASSERT_TRUE(ListServed(kServeWaitMs));
  Child second = StartMonitor();
  ASSERT_TRUE(WaitForWindow(second));
  ASSERT_TRUE(TerminateProcess(first.process(), 9));
  ASSERT_TRUE(first.WaitExit(kStopBoundMs));
  EXPECT_TRUE(ListServed(kServeWaitMs));
  second.PostQuit();
  EXPECT_TRUE(second.WaitExit(kStopBoundMs));
}

// Five instances of the list pipe's name held by someone else: the monitor retries the
// creation, still stops when asked, and serves once an instance is free.
TEST(MonitorInstanceTest, AllFiveInstancesBusy) {
  std::vector<win::UniqueHandle> squatted;
  auto squat = [&] {
    for (DWORD i = 0; i < kMaxPipeInstances; ++i) {
      const HANDLE h = CreateNamedPipeW(kListPipeName, PIPE_ACCESS_DUPLEX,
                                        PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                        kMaxPipeInstances, 4096, 4096, 0, nullptr);
      ASSERT_NE(h, INVALID_HANDLE_VALUE);
      squatted.emplace_back(h);
    }
  };
  squat();
  Child busy = StartMonitor();
  ASSERT_TRUE(busy.started());
  ASSERT_TRUE(WaitForWindow(busy));
  busy.PostQuit();
  DWORD code = 1;
  EXPECT_TRUE(busy.WaitExit(kStopBoundMs, &code));
  EXPECT_EQ(code, 0u);

  Child waiting = StartMonitor();
  ASSERT_TRUE(waiting.started());
  ASSERT_TRUE(WaitForWindow(waiting));
  squatted.clear();
  EXPECT_TRUE(ListServed(kServeWaitMs));
  waiting.PostQuit();
  EXPECT_TRUE(waiting.WaitExit(kStopBoundMs));
}

}  // namespace
}  // namespace koba::service
