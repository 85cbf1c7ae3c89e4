// The monitor serving virtual keys that the test-only bus driver shows as USB CD-ROM-class
// devices: the list and key pipes, APDUs through IOCTL_SCSI_PASS_THROUGH_DIRECT to the key,
// keys pulled out, faults and lying lengths.
#include <windows.h>

#include <gtest/gtest.h>

#include "key_fixture.h"

namespace koba::service {
namespace {

using namespace testing;

TEST_F(KeyMonitorTest, TwoKeysGiveBothPathsAndTwoKeyPipes) {
  AddKeys({"VEXLO001", "VEXLO002"});
  Bytes raw;
  std::vector<std::string> paths = AwaitKeys({"VEXLO001", "VEXLO002"});
  ASSERT_EQ(paths.size(), 2u);
  ASSERT_TRUE(ListOnce(&paths, &raw));
  // Each path with its NUL, then the final NUL.
  const std::string expected = paths[0] + '\0' + paths[1] + '\0' + '\0';
  EXPECT_EQ(std::string(raw.begin(), raw.end()), expected);

  for (const char* serial : {"VEXLO001", "VEXLO002"}) {
    const std::string path = PathOfSerial(paths, serial);
    const auto key = OpenPipe(KeyPipeNameForPath(path), kKeyWaitMs);
    ASSERT_TRUE(key) << path << " " << GetLastError();
    Bytes reply;
    ASSERT_TRUE(Exchange(key.get(), kGetSerial, &reply));
    EXPECT_EQ(reply, SerialAnswer(serial));
    ASSERT_TRUE(Exchange(key.get(), {0x00, 0xA4, 0x04, 0x00, 0x02, 0xA0, 0x01}, &reply));
    EXPECT_EQ(reply, (Bytes{0x90, 0x00}));

    // One connection at a time: a second client finds the pipe busy.
    const HANDLE second =
        CreateFileW(KeyPipeNameForPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                    OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(second, INVALID_HANDLE_VALUE);
    if (second != INVALID_HANDLE_VALUE)
      CloseHandle(second);
  }
}

TEST_F(KeyMonitorTest, ExpectedLengthsThroughTheKey) {
  AddKeys({"VEXLO011"});
  const std::vector<std::string> paths = AwaitKeys({"VEXLO011"});
  ASSERT_EQ(paths.size(), 1u);
  const auto key = OpenPipe(KeyPipeNameForPath(paths[0]), kKeyWaitMs);
  ASSERT_TRUE(key);
  struct Case {
    Bytes apdu;
    size_t answer_size;
  };
  const Case cases[] = {
      {{0x00, 0x84, 0x00, 0x00, 0x10}, 18},              // Le 16: one receive of 20 bytes
      {{0x00, 0x84, 0x00, 0x00, 0xFF}, 257},             // the largest short Le
      {{0x80, 0xCA, 0x00, 0x01, 0x01}, 18},              // Le says 1, the key has 18: receive again
      {{0x00, 0xA4, 0x04, 0x00}, 2},                     // no Le: 4 bytes asked, 2 returned
      {{0x00, 0x84, 0x00, 0x00, 0x00, 0x01, 0x00}, 10},  // extended: 276 bytes asked
  };
  for (const Case& c : cases) {
    Bytes reply;
    ASSERT_TRUE(Exchange(key.get(), c.apdu, &reply)) << c.apdu.size();
    EXPECT_EQ(reply.size(), c.answer_size) << c.apdu.size();
    ASSERT_GE(reply.size(), 2u);
  }
}

// A lying extended length, a message over the buffer and a failed SCSI step each end the
// connection without a reply; the key's server goes on serving the next connection.
TEST_F(KeyMonitorTest, BadTransactionsDropTheConnectionAndTheServerGoesOn) {
  AddKeys({"VEXLO021"});
  const std::vector<std::string> paths = AwaitKeys({"VEXLO021"});
  ASSERT_EQ(paths.size(), 1u);
  const std::wstring name = KeyPipeNameForPath(paths[0]);

  const Bytes lying_extended = {0x00, 0x84, 0x00, 0x00, 0x00, 0xFF, 0xFF};
  const Bytes too_long(kMessageCapacity + 1, 0x80);
  for (const Bytes* bad : {&lying_extended, &too_long}) {
    const auto key = OpenPipe(name, kKeyWaitMs);
    ASSERT_TRUE(key);
    Bytes reply;
    EXPECT_FALSE(Exchange(key.get(), *bad, &reply)) << bad->size();
    EXPECT_TRUE(reply.empty());
  }

  ASSERT_EQ(Vkey("fault VEXLO021 VkeyScsi_PassThrough"), 0);
  {
    const auto key = OpenPipe(name, kKeyWaitMs);
    ASSERT_TRUE(key);
    Bytes reply;
    EXPECT_FALSE(Exchange(key.get(), kGetSerial, &reply));
  }
  const auto key = OpenPipe(name, kKeyWaitMs);
  ASSERT_TRUE(key);
  Bytes reply;
  ASSERT_TRUE(Exchange(key.get(), kGetSerial, &reply));
  EXPECT_EQ(reply, SerialAnswer("VEXLO021"));
}

TEST_F(KeyMonitorTest, KeyPulledOutEndsTheConnectionAndLeavesTheList) {
  AddKeys({"VEXLO031", "VEXLO032"});
  std::vector<std::string> paths = AwaitKeys({"VEXLO031", "VEXLO032"});
  ASSERT_EQ(paths.size(), 2u);
  const std::string gone = PathOfSerial(paths, "VEXLO031");
  const auto key = OpenPipe(KeyPipeNameForPath(gone), kKeyWaitMs);
  ASSERT_TRUE(key);
  Bytes reply;
  ASSERT_TRUE(Exchange(key.get(), kGetSerial, &reply));

  ASSERT_EQ(Vkey("remove VEXLO031"), 0);
  EXPECT_FALSE(Exchange(key.get(), kGetSerial, &reply));
  EXPECT_TRUE(reply.empty());
  paths = AwaitKeys({"VEXLO032"});
  EXPECT_EQ(paths, std::vector<std::string>{PathOfSerial(paths, "VEXLO032")});

  // The removed key's pipe stays until a new key arrives; a client is dropped unanswered.
  {
    const auto stale = OpenPipe(KeyPipeNameForPath(gone), kKeyWaitMs);
    ASSERT_TRUE(stale);
    EXPECT_FALSE(Exchange(stale.get(), kGetSerial, &reply));
  }
  // Back under the same path, the same server serves it again.
  ASSERT_EQ(Vkey("insert VEXLO031"), 0);
  paths = AwaitKeys({"VEXLO031", "VEXLO032"});
  const auto again = OpenPipe(KeyPipeNameForPath(gone), kKeyWaitMs);
  ASSERT_TRUE(again);
  ASSERT_TRUE(Exchange(again.get(), kGetSerial, &reply));
  EXPECT_EQ(reply, SerialAnswer("VEXLO031"));
}

TEST_F(KeyMonitorTest, ANewKeyRetiresTheServerOfAKeyPulledOutBefore) {
  AddKeys({"VEXLO051"});
  std::vector<std::string> paths = AwaitKeys({"VEXLO051"});
  ASSERT_EQ(paths.size(), 1u);
  const std::wstring gone = KeyPipeNameForPath(paths[0]);
  ASSERT_EQ(Vkey("remove VEXLO051"), 0);
  ASSERT_TRUE(AwaitKeys({}).empty());
  // More requests while the key is out leave its server retired-to-be, not forgotten.
  for (int i = 0; i < 3; ++i)
    ASSERT_TRUE(ListOnce(&paths));
  EXPECT_TRUE(WaitNamedPipeW(gone.c_str(), 1) || GetLastError() != ERROR_FILE_NOT_FOUND);

  AddKeys({"VEXLO052"});
  ASSERT_EQ(AwaitKeys({"VEXLO052"}).size(), 1u);
  EXPECT_TRUE(WaitUntil(
      [&] { return !WaitNamedPipeW(gone.c_str(), 1) && GetLastError() == ERROR_FILE_NOT_FOUND; },
      kKeyWaitMs));
}

TEST_F(KeyMonitorTest, StopWithAKeyClientConnectedEndsInBounds) {
  AddKeys({"VEXLO041"});
  const std::vector<std::string> paths = AwaitKeys({"VEXLO041"});
  ASSERT_EQ(paths.size(), 1u);
  const auto key = OpenPipe(KeyPipeNameForPath(paths[0]), kKeyWaitMs);
  ASSERT_TRUE(key);
  Bytes reply;
  ASSERT_TRUE(Exchange(key.get(), kGetSerial, &reply));
  // TearDown stops the monitor with this connection open and checks the bound.
}

}  // namespace
}  // namespace koba::service
