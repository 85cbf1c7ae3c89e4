#include "wait_layout.h"

#include <algorithm>

namespace VKey {
namespace {

constexpr int kWidth = 420;
constexpr int kHeight = 230;
constexpr int kMessageInset = 40;
constexpr int kStripInset = 30;
constexpr int kStripLead = 30;
constexpr std::u16string_view kWrittenBreak = u"\\r\\n";

// The text with each written break handed to onBreak, which appends what stands for it.
template <typename OnBreak>
std::u16string ReplaceWrittenBreaks(std::u16string_view text, OnBreak onBreak) {
  std::u16string out;
  size_t at = 0;
  for (size_t found = text.find(kWrittenBreak); found != std::u16string_view::npos;
       found = text.find(kWrittenBreak, at)) {
    out.append(text.substr(at, found - at));
    onBreak(out);
    at = found + kWrittenBreak.size();
  }
  out.append(text.substr(at));
  return out;
}

}  // namespace

WaitWindowSize WaitWindowSizeFor(int dpi) {
  const double scale = dpi > 0 ? dpi / 96.0 : 1.0;
  const int offset = static_cast<int>((scale - 1.0) * kHeight * 0.25);
  return {kWidth, kHeight + offset, offset};
}

WaitWindowLayout WaitWindowLayoutFor(int clientWidth, int clientHeight, int dpi) {
  const double scale = dpi > 0 ? dpi / 96.0 : 1.0;
  const int offset = WaitWindowSizeFor(dpi).dpiOffset;
  WaitWindowLayout layout;
  layout.strip = {kStripInset, clientHeight - 45, clientWidth - kStripInset, clientHeight - 30};
  // The label ends where the strip starts: a label reaching into it would paint over its edge.
  layout.message = {kMessageInset, clientHeight / 2 - 10 - offset, clientWidth - kMessageInset,
                    std::min(clientHeight / 2 + 60, layout.strip.top)};
  layout.pictureX = static_cast<int>(10 * scale);
  layout.pictureY = 5;
  return layout;
}

uint32_t NextStripPosition(uint32_t position) {
  return (position % kStripCycle + kStripStep) % kStripCycle;
}

int StripFilledWidth(uint32_t position, int stripWidth) {
  const int end = static_cast<int>((position + kStripLead) % kStripCycle);
  return std::clamp(end, 0, std::max(stripWidth, 0));
}

std::u16string WaitingMessage(std::u16string_view text) {
  return ReplaceWrittenBreaks(text, [](std::u16string& out) { out.append(u"\r\n"); });
}

std::u16string WaitingParagraph(std::u16string_view text) {
  return ReplaceWrittenBreaks(text, [](std::u16string& out) {
    if (!out.empty() && out.back() != u' ') {
      out.push_back(u' ');
    }
  });
}

std::u16string WaitingTitle(std::u16string_view text) {
  return std::u16string(text.substr(0, text.find(kWrittenBreak)));
}

}  // namespace VKey
