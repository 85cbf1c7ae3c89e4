// The geometry, progress strip and texts of the waiting window shown while a key generates a key
// pair: pure arithmetic, so that the window code only draws.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace VKey {

struct PixelRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int width() const { return right - left; }
  bool operator==(const PixelRect& o) const {
    return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
  }
};

// The window's outer size for a display of dpi horizontal pixels per logical inch: 420 pixels
// wide, 230 high at 96 dpi and a quarter of the extra scale taller above it.
struct WaitWindowSize {
  int width;
  int height;
  int dpiOffset;  // the extra height over 230
};
WaitWindowSize WaitWindowSizeFor(int dpi);

// Where things go inside a client area of the given size.
struct WaitWindowLayout {
  PixelRect message;  // the label, never reaching into the strip
  PixelRect strip;    // the progress strip, sunken edge included
  int pictureX;
  int pictureY;
};
WaitWindowLayout WaitWindowLayoutFor(int clientWidth, int clientHeight, int dpi);

// The strip's position: starts at 0 and grows by kStripStep every kStripTimerMs; closing the
// window shows kStripClosedPosition.
constexpr uint32_t kStripStep = 2;
constexpr uint32_t kStripTimerMs = 200;
constexpr uint32_t kStripClosedPosition = 360;
constexpr uint32_t kStripCycle = 392;
uint32_t NextStripPosition(uint32_t position);
// The width of the filled part, which starts at the strip's left edge and ends at
// (position + 30) mod 392, never beyond the strip.
int StripFilledWidth(uint32_t position, int stripWidth);

// The waiting text comes with its line breaks written out ("\r\n" as four characters).
// The message of the picture window: every written break made a real one.
std::u16string WaitingMessage(std::u16string_view text);
// The message of the plain window: one paragraph, each run of written breaks made one space.
std::u16string WaitingParagraph(std::u16string_view text);
// The title: the text up to its first written break.
std::u16string WaitingTitle(std::u16string_view text);

}  // namespace VKey
