#include "pipe_protocol.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "device_transaction.h"

namespace koba::service {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(ListRequestTest, OnlyTheTwelveBytesWithTheirNulAreTheRequest) {
  EXPECT_TRUE(IsListRequest(reinterpret_cast<const uint8_t*>("DeviceListA"), 12));
  const std::string refused[] = {std::string("DeviceListA"), std::string("DeviceListA\0x", 13),
                                 std::string("DeviceListB\0", 12), std::string("devicelista\0", 12),
                                 std::string()};
  for (const std::string& r : refused)
    EXPECT_FALSE(IsListRequest(reinterpret_cast<const uint8_t*>(r.data()), r.size())) << r;
}

TEST(ListRequestTest, KeyFilterAndPipeNames) {
  EXPECT_TRUE(IsKeyDevicePath(
      "\\\\?\\usbstor#cdrom&ven_korvanet&prod_vexlotoken&rev_1.00#K1&0#{53f56308-b6bf}"));
  EXPECT_TRUE(IsKeyDevicePath("\\\\?\\USBSTOR#CDROM&VEN_KORVANET&PROD_X&REV_1.10#1"));
  EXPECT_FALSE(IsKeyDevicePath("\\\\?\\usbstor#cdrom&ven_korvanet&prod_x&rev_2.00#1"));
  EXPECT_FALSE(IsKeyDevicePath("\\\\?\\usbstor#cdrom&ven_other&prod_x&rev_1.00#1"));
  EXPECT_FALSE(IsKeyDevicePath(""));

  EXPECT_EQ(KeyPipeName(L"\\\\?\\usbstor#cdrom&ven_korvanet#1"),
            L"\\\\.\\pipe\\Vexlo507B_Pipe00_Device_usbstor#cdrom&ven_korvanet#1");
  EXPECT_EQ(KeyPipeName(L"\\\\?\\"), L"\\\\.\\pipe\\Vexlo507B_Pipe00_Device_");
  EXPECT_EQ(KeyPipeName(L"ab"), L"\\\\.\\pipe\\Vexlo507B_Pipe00_Device_");
}

TEST(ListRequestTest, PathListKeepsItsShapeAndNeverOverruns) {
  char buffer[16];
  std::memset(buffer, 'x', sizeof buffer);
  PathList empty(buffer, 10);
  EXPECT_EQ(empty.Finish(), 1u);
  EXPECT_EQ(buffer[0], '\0');

  PathList list(buffer, 10);
  EXPECT_TRUE(list.Append("abc"));
  EXPECT_TRUE(list.Append("de"));
  EXPECT_FALSE(list.Append("fgh"));  // 3+1 more would leave no room for the final NUL
  EXPECT_TRUE(list.Append("f"));
  EXPECT_FALSE(list.Append("g"));
  EXPECT_EQ(list.Finish(), 10u);
  EXPECT_EQ(std::string(buffer, 10), std::string("abc\0de\0f\0\0", 10));
  EXPECT_EQ(buffer[10], 'x');

  std::vector<std::string> seen;
  ForEachPath(buffer, 10, [&](std::string_view p) { seen.emplace_back(p); });
  EXPECT_EQ(seen, (std::vector<std::string>{"abc", "de", "f"}));
  seen.clear();
  ForEachPath("ab\0cd", 5, [&](std::string_view p) { seen.emplace_back(p); });
  EXPECT_EQ(seen, (std::vector<std::string>{"ab"}));
}

TEST(ExpectedLengthTest, RulesOfTheThreeCommandShapes) {
  struct Case {
    Bytes apdu;
    size_t expected;
  };
  const Case cases[] = {
      {{0x00, 0x84, 0x00, 0x00, 0x10}, 0x10},
      {{0x00, 0x84, 0x00, 0x00, 0x00}, 0},
      {{0x00, 0xB0, 0x00, 0x00, 0x00, 0x01, 0x00}, 256 + 16},
      {{0x00, 0xB0, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x01}, 0xFFFF + 16},
      {{0x00, 0xA4, 0x04, 0x00, 0x02, 0xA0, 0x00}, 0},
      {{0x00, 0xA4, 0x04, 0x00}, 0},
      {{0x00, 0xB0, 0x00, 0x00, 0x00, 0x01}, 0},
      {{0x80}, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ExpectedLength(c.apdu.data(), c.apdu.size()), c.expected) << c.apdu.size();
}

// A key that records what it was asked and answers from a script.
class ScriptedKey : public ScsiChannel {
 public:
  Bytes answer;  // the 2-byte length and the response, as the key's data-in gives it
  bool fail_send = false;
  int fail_receive_at = -1;
  Bytes sent;
  std::vector<size_t> asked;

  bool Send(const uint8_t* data, size_t length) override {
    sent.assign(data, data + length);
    return !fail_send;
  }
  bool Receive(uint8_t* data, size_t length) override {
    EXPECT_LE(length, kMessageCapacity);
    if (static_cast<int>(asked.size()) == fail_receive_at) {
      asked.push_back(length);
      return false;
    }
    asked.push_back(length);
    std::memcpy(data, answer.data(), std::min(length, answer.size()));
    return true;
  }
};

Bytes Answer(size_t n, uint8_t fill = 0x5A) {
  Bytes a{static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
  a.insert(a.end(), n, fill);
  return a;
}

struct Outcome {
  uint32_t result;
  Bytes reply;
};

Outcome Transact(ScriptedKey& key, const Bytes& apdu, size_t capacity = kMessageCapacity) {
  Bytes reply(capacity + 8, 0xEE);
  size_t n = 99;
  const uint32_t r =
      RunDeviceTransaction(key, apdu.data(), apdu.size(), reply.data(), capacity, &n);
  for (size_t i = capacity; i < reply.size(); ++i)
    EXPECT_EQ(reply[i], 0xEE) << "written past the reply at " << i;
  reply.resize(n);
  return {r, reply};
}

TEST(DeviceTransactionTest, ReceiveLengthsFollowTheExpectedLength) {
  struct Case {
    Bytes apdu;
    size_t reported;
    std::vector<size_t> asked;
  };
  const Case cases[] = {
      {{0x00, 0x84, 0x00, 0x00, 0x10}, 18, {20}},
      {{0x00, 0x84, 0x00, 0x00, 0x10}, 19, {20, 21}},
      {{0x00, 0xB0, 0x00, 0x00, 0x00, 0x01, 0x00}, 258, {276}},
      {{0x00, 0xA4, 0x04, 0x00}, 2, {4}},
      {{0x00, 0xA4, 0x04, 0x00}, 100, {4, 102}},
      {{0x00, 0xA4, 0x04, 0x00}, 0, {4}},
      {{0x00, 0xA4, 0x04, 0x00}, 4094, {4, 4096}},
  };
  for (const Case& c : cases) {
    ScriptedKey key;
    key.answer = Answer(c.reported);
    const Outcome out = Transact(key, c.apdu);
    EXPECT_EQ(out.result, 0u);
    EXPECT_EQ(key.sent, c.apdu);
    EXPECT_EQ(key.asked, c.asked) << c.reported;
    EXPECT_EQ(out.reply, Bytes(c.reported, 0x5A));
  }
}

TEST(DeviceTransactionTest, FailedStepsEndWithNotReady) {
  const Bytes apdu{0x00, 0x84, 0x00, 0x00, 0x10};
  ScriptedKey send_fails;
  send_fails.fail_send = true;
  EXPECT_EQ(Transact(send_fails, apdu).result, kErrNotReady);
  EXPECT_TRUE(send_fails.asked.empty());

  ScriptedKey first_fails;
  first_fails.answer = Answer(18);
  first_fails.fail_receive_at = 0;
  EXPECT_EQ(Transact(first_fails, apdu).result, kErrNotReady);

  ScriptedKey second_fails;
  second_fails.answer = Answer(30);
  second_fails.fail_receive_at = 1;
  EXPECT_EQ(Transact(second_fails, apdu).result, kErrNotReady);
}

TEST(DeviceTransactionTest, LengthsOverTheBuffersFailWithoutWriting) {
  // An extended length the receive buffer cannot hold: nothing is received.
  ScriptedKey lying_request;
  lying_request.answer = Answer(2);
  const Outcome big = Transact(lying_request, {0x00, 0xB0, 0x00, 0x00, 0x00, 0xFF, 0xFF});
  EXPECT_EQ(big.result, kErrInsufficientBuffer);
  EXPECT_TRUE(lying_request.asked.empty());
  ScriptedKey largest;
  largest.answer = Answer(2);
  EXPECT_EQ(Transact(largest, {0x00, 0xB0, 0x00, 0x00, 0x00, 0x0F, 0xEC}).result, 0u);  // 4076+20
  ScriptedKey one_over;
  EXPECT_EQ(Transact(one_over, {0x00, 0xB0, 0x00, 0x00, 0x00, 0x0F, 0xED}).result,
            kErrInsufficientBuffer);

  // A key reporting more than the buffer holds.
  ScriptedKey lying_key;
  lying_key.answer = {0xFF, 0xFF};
  const Outcome over = Transact(lying_key, {0x00, 0x84, 0x00, 0x00, 0x10});
  EXPECT_EQ(over.result, kErrInsufficientBuffer);
  EXPECT_TRUE(over.reply.empty());
  EXPECT_EQ(lying_key.asked, std::vector<size_t>{20});
  lying_key.answer = Answer(4095);
  lying_key.asked.clear();
  EXPECT_EQ(Transact(lying_key, {0x00, 0xA4, 0x04, 0x00}).result, kErrInsufficientBuffer);

  // A reply buffer smaller than the reported length.
  ScriptedKey small;
  small.answer = Answer(40);
  EXPECT_EQ(Transact(small, {0x00, 0xA4, 0x04, 0x00}, 39).result, kErrInsufficientBuffer);
}

}  // namespace
}  // namespace koba::service
