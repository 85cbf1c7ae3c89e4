// The polling rule of the device confirmation dialogs: the timer ticks every period, the device
// is asked only once 500 ms have gone by in earlier ticks, and never while an earlier question
// is still being answered (the caller's callback may pump messages).
#pragma once

#include <cstdint>

namespace VKey {

class DevicePoll {
 public:
  static constexpr uint32_t kQuietMs = 500;
  // A period of 0 would never ask: it counts as the callers' usual 500 ms.
  explicit DevicePoll(uint32_t periodMs) : periodMs_(periodMs != 0 ? periodMs : kQuietMs) {}

  uint32_t periodMs() const { return periodMs_; }

  // At a tick: true when the device is to be asked now; the caller then calls Answered when
  // the callback has returned.
  bool Tick() {
    const bool ask = !asking_ && elapsedMs_ >= kQuietMs;
    elapsedMs_ = elapsedMs_ + periodMs_ < elapsedMs_ ? UINT32_MAX : elapsedMs_ + periodMs_;
    if (ask) {
      asking_ = true;
    }
    return ask;
  }
  void Answered() { asking_ = false; }

 private:
  uint32_t periodMs_;
  uint32_t elapsedMs_ = 0;
  bool asking_ = false;
};

}  // namespace VKey
