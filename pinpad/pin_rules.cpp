#include "pin_rules.h"

#include "text_encoding.h"

namespace VKey {

namespace {

enum CharClass : unsigned { kDigit = 1, kLetter = 2, kOther = 4 };

CharClass ClassOf(unsigned char c) {
  if (c >= '0' && c <= '9') {
    return kDigit;
  }
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
    return kLetter;
  }
  return kOther;
}

bool InRange(size_t n, uint32_t minimum, uint32_t maximum) {
  return n >= minimum && n <= maximum;
}

}  // namespace

std::string LengthText(uint32_t minimum, uint32_t maximum) {
  if (minimum == maximum) {
    return std::to_string(minimum);
  }
  return std::to_string(minimum) + "-" + std::to_string(maximum);
}

int PinStrength(std::string_view pin) {
  const size_t n = pin.size();
  if (n == 0) {
    return 0;
  }
  if (n >= 11) {
    return 1;
  }
  if (pin.find("567890") != std::string_view::npos) {
    return 5;
  }
  unsigned seen = 0;
  size_t same = 0;
  size_t ascending = 0;
  enum { kNone, kSameRun, kAscendingRun } stop = kNone;
  CharClass stopClass = kOther;
  for (size_t i = 0; i < n; ++i) {
    const auto c = static_cast<unsigned char>(pin[i]);
    const auto previous = i > 0 ? static_cast<unsigned char>(pin[i - 1]) : 0;
    const CharClass cls = ClassOf(c);
    seen |= cls;
    same = (i > 0 && c == previous) ? same + 1 : 1;
    ascending = (i > 0 && c == previous + 1) ? ascending + 1 : 1;
    if (same >= 6) {
      stop = kSameRun;
    } else if (ascending >= 6) {
      stop = kAscendingRun;
    }
    if (stop != kNone) {
      stopClass = cls;
      break;
    }
  }
  if (stop == kSameRun && stopClass != kOther) {
    return stopClass == kDigit ? 7 : 8;
  }
  if (stop == kAscendingRun && stopClass != kOther) {
    return stopClass == kDigit ? 5 : 6;
  }
  if (seen == kDigit || seen == kLetter) {
    return 4;
  }
  return n < 8 ? 3 : 1;
}

const char* StrengthTextId(int verdict) {
  switch (verdict) {
    case 3:
      return "PAD_INPUT_PIN_LESS_8";
    case 4:
      return "PAD_INPUT_PIN_NOT_C_INT";
    case 5:
      return "PAD_INPUT_PIN_STEP_INT";
    case 6:
      return "PAD_INPUT_PIN_STEP_C";
    case 7:
      return "PAD_INPUT_PIN_SAME_INT";
    case 8:
      return "PAD_INPUT_PIN_SAME_C";
    default:
      return nullptr;
  }
}

bool VerifyOkEnabled(size_t pin, uint32_t minimum) {
  return pin >= minimum;
}

bool ChangeOkEnabled(size_t oldPin, size_t newPin, size_t repeat, uint32_t minimum) {
  return newPin >= minimum && newPin == repeat && oldPin >= minimum;
}

bool InitOkEnabled(size_t newPin, size_t repeat, uint32_t minimum) {
  return newPin >= minimum && repeat == newPin;
}

PinCheckResult CheckVerifyPin(std::string_view pin, uint32_t minimum, uint32_t maximum) {
  if (!InRange(pin.size(), minimum, maximum)) {
    return {PinCheck::kBadLength};
  }
  return {PinCheck::kAccepted};
}

PinCheckResult CheckChangePin(std::string_view oldPin, std::string_view newPin,
                              std::string_view repeat, uint32_t minimum, uint32_t maximum) {
  if (!InRange(oldPin.size(), minimum, maximum)) {
    return {PinCheck::kBadLength};
  }
  if (!InRange(newPin.size(), minimum, maximum)) {
    return {PinCheck::kBadNewLength};
  }
  if (!InRange(repeat.size(), minimum, maximum)) {
    return {PinCheck::kBadRepeatLength};
  }
  if (newPin != repeat) {
    return {PinCheck::kMismatch};
  }
  if (newPin == oldPin) {
    return {PinCheck::kSameAsOld};
  }
  const int verdict = PinStrength(newPin);
  if (verdict == 0 || verdict == 1) {
    return {PinCheck::kAccepted, verdict};
  }
  return {PinCheck::kWeak, verdict};
}

PinCheckResult CheckInitPin(std::string_view newPin, std::string_view repeat, uint32_t minimum,
                            uint32_t maximum) {
  if (!InRange(newPin.size(), minimum, maximum)) {
    return {PinCheck::kBadNewLength};
  }
  if (!InRange(repeat.size(), minimum, maximum)) {
    return {PinCheck::kBadRepeatLength};
  }
  if (newPin != repeat) {
    return {PinCheck::kMismatch};
  }
  return {PinCheck::kAccepted};
}

const char* CheckTextId(PinCheck check) {
  switch (check) {
    case PinCheck::kBadLength:
      return "DISP_INVALID_PIN_INPUT";
    case PinCheck::kBadNewLength:
      return "DISP_INVALID_NEW_PIN1_INPUT";
    case PinCheck::kBadRepeatLength:
      return "DISP_INVALID_NEW_PIN2_INPUT";
    case PinCheck::kMismatch:
      return "DISP_INVALID_NEW_PIN_DIF_INPUT";
    case PinCheck::kSameAsOld:
      return "DISP_INVALID_OLD_NEW_PIN_SAME";
    default:
      return nullptr;
  }
}

std::optional<std::string> CutLabel(std::u16string_view label, size_t maxBytes) {
  std::u16string text(label);
  std::string utf8;
  while (true) {
    if (!koba::text::Utf16ToUtf8(text, &utf8)) {
      return std::nullopt;
    }
    if (utf8.size() <= maxBytes) {
      return utf8;
    }
    const bool pair = text.size() >= 2 && text.back() >= 0xDC00 && text.back() <= 0xDFFF;
    text.resize(text.size() - (pair ? 2 : 1));
  }
}

std::u16string DoubleAmpersands(std::u16string_view text) {
  std::u16string out;
  for (char16_t c : text) {
    out.push_back(c);
    if (c == u'&') {
      out.push_back(u'&');
    }
  }
  return out;
}

}  // namespace VKey
