#include "indicator_logic.h"

#include <string>

#include "pinpad_api.h"

namespace VKey {

bool IsPinUseType(uint32_t useType) {
  return useType == PAD_USE_CHECKPIN || useType == PAD_USE_CHANGEPIN || useType == PAD_USE_INITDEV;
}

uint32_t DialogResultStatus(intptr_t result) {
  switch (result) {
    case 1:
      return 0;
    case 2:
      return PINPAD_E_CANCELLED;
    default:
      return PINPAD_E_FAILED;
  }
}

bool IsBrowserExecutable(std::u16string_view exePath) {
  std::u16string lower(exePath);
  for (char16_t& c : lower) {
    if (c >= u'A' && c <= u'Z') {
      c = static_cast<char16_t>(c - u'A' + u'a');
    }
  }
  for (std::u16string_view name :
       {u"plugin-container.exe", u"firefox.exe", u"safari.exe", u"chrome.exe"}) {
    if (lower.find(name) != std::u16string::npos) {
      return true;
    }
  }
  return false;
}

bool ShouldMarkBrowserHost(bool windows2000, uint32_t lastParamMode, std::u16string_view exePath) {
  return (!windows2000 && lastParamMode == 1) || IsBrowserExecutable(exePath);
}

PinRetryStep NextPinStep(uint32_t status) {
  if (status < kTokenWrongPinBase || status > kTokenWrongPinBase + 14) {
    return {};
  }
  const int tries = static_cast<int>(status - kTokenWrongPinBase);
  if (tries == 0) {
    return {false, "PinBlocked", 0};
  }
  return {true, "PinRemainTimes", tries};
}

PinRetryStep NextIndicatorStep(uint32_t useType, uint32_t status) {
  PinRetryStep step = NextPinStep(status);
  step.retry = step.retry && useType == PAD_USE_CHECKPIN;
  return step;
}

}  // namespace VKey
