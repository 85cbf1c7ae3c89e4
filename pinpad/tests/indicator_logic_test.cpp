#include "indicator_logic.h"

#include <gtest/gtest.h>

#include "pinpad_api.h"

namespace VKey {
namespace {

TEST(IndicatorLogic, UseTypesAndDialogResults) {
  EXPECT_TRUE(IsPinUseType(PAD_USE_CHECKPIN));
  EXPECT_TRUE(IsPinUseType(PAD_USE_CHANGEPIN));
  EXPECT_TRUE(IsPinUseType(PAD_USE_INITDEV));
  for (uint32_t other : {0u, 0x100003u, 0x100000u, 4u, 0xFFFFFFFFu}) {
    EXPECT_FALSE(IsPinUseType(other)) << other;
  }
  EXPECT_EQ(DialogResultStatus(1), 0u);
  EXPECT_EQ(DialogResultStatus(2), PINPAD_E_CANCELLED);
  for (intptr_t other : {0, -1, 3, 100}) {
    EXPECT_EQ(DialogResultStatus(other), PINPAD_E_FAILED) << other;
  }
}

TEST(IndicatorLogic, BrowserHostMarking) {
  const struct {
    bool win2000;
    uint32_t mode;
    std::u16string_view path;
    bool marked;
  } cases[] = {
      {false, 0, u"C:\\Program Files\\Google\\Chrome\\Application\\CHROME.EXE", true},
      {false, 0, u"C:\\Mozilla Firefox\\firefox.exe", true},
      {false, 0, u"C:\\Mozilla Firefox\\plugin-container.exe", true},
      {false, 0, u"C:\\Apple\\Safari.exe", true},
      {false, 0, u"C:\\Windows\\system32\\koba.chrome.KVN.NativeHost.exe", false},
      {false, 0, u"C:\\Program Files\\Internet Explorer\\iexplore.exe", false},
      {false, 1, u"C:\\Program Files\\Internet Explorer\\iexplore.exe", true},
      {true, 1, u"C:\\Program Files\\Internet Explorer\\iexplore.exe", false},
      {true, 1, u"C:\\chrome.exe", true},
      {false, 2, u"C:\\tool.exe", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ShouldMarkBrowserHost(c.win2000, c.mode, c.path), c.marked)
        << std::string(c.path.begin(), c.path.end()) << " mode " << c.mode;
  }
}

TEST(IndicatorLogic, RetryAfterWrongPin) {
  const struct {
    uint32_t status;
    bool retry;
    const char* message;
    int tries;
  } cases[] = {
      {0, false, nullptr, 0},
      {kTokenTimeout, false, nullptr, 0},
      {0xE0110010, false, "PinBlocked", 0},
      {0xE0110011, true, "PinRemainTimes", 1},
      {0xE0110013, true, "PinRemainTimes", 3},
      {0xE011001E, true, "PinRemainTimes", 14},
      {0xE011001F, false, nullptr, 0},
      {0xE011FFFE, false, nullptr, 0},
      {0x8010002E, false, nullptr, 0},
  };
  for (const auto& c : cases) {
    const PinRetryStep step = NextPinStep(c.status);
    EXPECT_EQ(step.retry, c.retry) << std::hex << c.status;
    if (c.message == nullptr) {
      EXPECT_EQ(step.messageId, nullptr) << std::hex << c.status;
    } else {
      EXPECT_STREQ(step.messageId, c.message) << std::hex << c.status;
    }
    EXPECT_EQ(step.triesLeft, c.tries);
  }
}

TEST(IndicatorLogic, OnlyTheVerificationAsksAgain) {
  const struct {
    uint32_t useType;
    uint32_t status;
    bool retry;
    const char* message;
    int tries;
  } cases[] = {
      {PAD_USE_CHECKPIN, 0xE0110013, true, "PinRemainTimes", 3},
      {PAD_USE_CHANGEPIN, 0xE0110013, false, "PinRemainTimes", 3},
      {PAD_USE_CHANGEPIN, 0xE0110010, false, "PinBlocked", 0},
      {PAD_USE_INITDEV, 0xE0110011, false, "PinRemainTimes", 1},
      {PAD_USE_CHANGEPIN, 0, false, nullptr, 0},
  };
  for (const auto& c : cases) {
    const PinRetryStep step = NextIndicatorStep(c.useType, c.status);
    EXPECT_EQ(step.retry, c.retry) << std::hex << c.useType << " " << c.status;
    if (c.message == nullptr) {
      EXPECT_EQ(step.messageId, nullptr) << std::hex << c.status;
    } else {
      EXPECT_STREQ(step.messageId, c.message) << std::hex << c.status;
    }
    EXPECT_EQ(step.triesLeft, c.tries);
  }
}

}  // namespace
}  // namespace VKey
