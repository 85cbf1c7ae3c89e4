#include "device_poll.h"

#include <gtest/gtest.h>

namespace VKey {
namespace {

TEST(DevicePoll, FirstQuestionAtTheTickAfterHalfASecond) {
  struct Case {
    uint32_t period;
    int firstAskingTick;  // 1-based
  } cases[] = {{500, 2}, {100, 6}, {250, 3}, {1000, 2}, {0, 2}, {700, 2}};
  for (const Case& c : cases) {
    DevicePoll poll(c.period);
    int tick = 0;
    while (!poll.Tick()) {
      ++tick;
      ASSERT_LT(tick, 100) << c.period;
    }
    EXPECT_EQ(tick + 1, c.firstAskingTick) << c.period;
    poll.Answered();
    EXPECT_TRUE(poll.Tick()) << c.period;
  }
}

TEST(DevicePoll, NoSecondQuestionWhileTheFirstRuns) {
  DevicePoll poll(500);
  poll.Tick();
  ASSERT_TRUE(poll.Tick());
  EXPECT_FALSE(poll.Tick());
  EXPECT_FALSE(poll.Tick());
  poll.Answered();
  EXPECT_TRUE(poll.Tick());
}

}  // namespace
}  // namespace VKey
