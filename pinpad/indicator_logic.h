// Decisions of the PIN pad exports that need no window: which use types and dialog kinds are
// known, how dialog results become statuses, when the host counts as a browser, and what
// Pinpad_Indicator does after each status of the token library.
#pragma once

#include <cstdint>
#include <string_view>

namespace VKey {

bool IsPinUseType(uint32_t useType);

// Dialog result 1 (OK) gives 0, 2 (Cancel) PINPAD_E_CANCELLED, anything else PINPAD_E_FAILED.
uint32_t DialogResultStatus(intptr_t result);

// The full path of the process executable names a browser process (case-insensitive).
bool IsBrowserExecutable(std::u16string_view exePath);

// Whether Pinpad_Indicator marks the block's flags with 0xF0000000.
bool ShouldMarkBrowserHost(bool windows2000, uint32_t lastParamMode, std::u16string_view exePath);

// What Pinpad_Indicator does after the token function returned a status.
struct PinRetryStep {
  bool retry = false;               // show the PIN dialog again
  const char* messageId = nullptr;  // text to show first ("PinRemainTimes" or "PinBlocked")
  int triesLeft = 0;                // the number for "PinRemainTimes"
};
PinRetryStep NextPinStep(uint32_t status);

// The same for Pinpad_Indicator's use type: only the verification asks again. A PIN change
// ends after a wrong old PIN, with the tries-left notice shown, so that its caller can report
// the tries left, which ChangePin's result code carries; the management tool asks again.
PinRetryStep NextIndicatorStep(uint32_t useType, uint32_t status);

}  // namespace VKey
