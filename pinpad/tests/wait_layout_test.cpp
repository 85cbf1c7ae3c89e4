#include "wait_layout.h"

#include <gtest/gtest.h>

#include <string>

namespace VKey {
namespace {

TEST(WaitLayout, SizeGrowsWithTheDisplayScale) {
  const struct {
    int dpi;
    int height;
  } cases[] = {{96, 230}, {120, 244}, {144, 258}, {192, 287}, {0, 230}};
  for (const auto& c : cases) {
    const WaitWindowSize size = WaitWindowSizeFor(c.dpi);
    EXPECT_EQ(size.width, 420) << c.dpi;
    EXPECT_EQ(size.height, c.height) << c.dpi;
    EXPECT_EQ(size.dpiOffset, c.height - 230) << c.dpi;
  }
}

TEST(WaitLayout, ControlsSitInsideTheClientArea) {
  const WaitWindowLayout at96 = WaitWindowLayoutFor(414, 201, 96);
  EXPECT_EQ(at96.message, (PixelRect{40, 90, 374, 156})) << "the label stops at the strip";
  EXPECT_EQ(at96.strip, (PixelRect{30, 156, 384, 171}));
  EXPECT_EQ(at96.pictureX, 10);
  EXPECT_EQ(at96.pictureY, 5);
  const WaitWindowLayout at144 = WaitWindowLayoutFor(414, 229, 144);
  EXPECT_EQ(at144.message.top, 229 / 2 - 10 - 28);
  EXPECT_EQ(at144.pictureX, 15);
  EXPECT_EQ(at144.strip.bottom - at144.strip.top, 15);
  const WaitWindowLayout tall = WaitWindowLayoutFor(414, 400, 96);
  EXPECT_EQ(tall.message.bottom, 260) << "a label clear of the strip keeps its height";
}

TEST(WaitLayout, StripGrowsFromItsStartAndIsFullWhenClosed) {
  const int width = 354;
  EXPECT_EQ(StripFilledWidth(0, width), 30);
  EXPECT_EQ(StripFilledWidth(NextStripPosition(0), width), 32);
  EXPECT_EQ(StripFilledWidth(kStripClosedPosition, width), width);
  EXPECT_EQ(StripFilledWidth(0, 10), 10);
  EXPECT_EQ(StripFilledWidth(0, -5), 0);
}

TEST(WaitLayout, StripWrapsBackAfterAboutThirtySixSeconds) {
  uint32_t position = 0;
  int last = StripFilledWidth(position, 360);
  int ticks = 0;
  while (true) {
    position = NextStripPosition(position);
    ++ticks;
    const int now = StripFilledWidth(position, 360);
    if (now < last) {
      break;
    }
    ASSERT_LT(ticks, 1000) << "the strip never wraps";
    last = now;
  }
  EXPECT_EQ(ticks * kStripTimerMs, 36200u);
  EXPECT_EQ(StripFilledWidth(position, 360), 0);
}

TEST(WaitLayout, WrittenLineBreaks) {
  const struct {
    std::u16string text;
    std::u16string message;
    std::u16string paragraph;
    std::u16string title;
  } cases[] = {
      {u"Wait...\\r\\n\\r\\nDo not remove the key.", u"Wait...\r\n\r\nDo not remove the key.",
       u"Wait... Do not remove the key.", u"Wait..."},
      {u"One line", u"One line", u"One line", u"One line"},
      {u"a\\r\\nb", u"a\r\nb", u"a b", u"a"},
      {u"\\r\\nb\\r\\n", u"\r\nb\r\n", u"b ", u""},
      {u"a\\rb\\n", u"a\\rb\\n", u"a\\rb\\n", u"a\\rb\\n"},
      {u"", u"", u"", u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WaitingMessage(c.text), c.message) << std::string(c.text.begin(), c.text.end());
    EXPECT_EQ(WaitingParagraph(c.text), c.paragraph) << std::string(c.text.begin(), c.text.end());
    EXPECT_EQ(WaitingTitle(c.text), c.title) << std::string(c.text.begin(), c.text.end());
  }
}

}  // namespace
}  // namespace VKey
