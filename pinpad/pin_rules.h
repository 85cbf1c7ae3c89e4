// The PIN dialogs' rules: allowed lengths, the checks made when OK is pressed, the strength
// verdicts for a new PIN, and the cutting of a key label to its stored size.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace VKey {

// "%d" with the minimum when both bounds are equal, otherwise "%d-%d".
std::string LengthText(uint32_t minimum, uint32_t maximum);

// Strength verdict of a new PIN: 0 and 1 accept silently; 3..8 name a weakness.
int PinStrength(std::string_view pin);

// The text id of a verdict's warning; nullptr for the silent verdicts 0 and 1.
const char* StrengthTextId(int verdict);

// When OK is enabled in each dialog, from the entered lengths.
bool VerifyOkEnabled(size_t pin, uint32_t minimum);
bool ChangeOkEnabled(size_t oldPin, size_t newPin, size_t repeat, uint32_t minimum);
bool InitOkEnabled(size_t newPin, size_t repeat, uint32_t minimum);

// The outcome of OK in a PIN dialog, in the order the checks are made.
enum class PinCheck {
  kAccepted,         // end the dialog with OK
  kBadLength,        // "DISP_INVALID_PIN_INPUT": the (old) PIN's length is outside the range
  kBadNewLength,     // "DISP_INVALID_NEW_PIN1_INPUT"
  kBadRepeatLength,  // "DISP_INVALID_NEW_PIN2_INPUT"
  kMismatch,         // "DISP_INVALID_NEW_PIN_DIF_INPUT"
  kSameAsOld,        // "DISP_INVALID_OLD_NEW_PIN_SAME"
  kWeak,             // ask with the verdict's text whether to keep the weak PIN
};

struct PinCheckResult {
  PinCheck check;
  int verdict = 0;  // the strength verdict for kWeak
};

PinCheckResult CheckVerifyPin(std::string_view pin, uint32_t minimum, uint32_t maximum);
PinCheckResult CheckChangePin(std::string_view oldPin, std::string_view newPin,
                              std::string_view repeat, uint32_t minimum, uint32_t maximum);
PinCheckResult CheckInitPin(std::string_view newPin, std::string_view repeat, uint32_t minimum,
                            uint32_t maximum);

// The message text id of a failed check; nullptr for kAccepted and kWeak.
const char* CheckTextId(PinCheck check);

// A key label as stored on the key: UTF-8, shortened one character at a time until it takes at
// most maxBytes bytes. nullopt when the text is not valid UTF-16.
std::optional<std::string> CutLabel(std::u16string_view label, size_t maxBytes = 32);

// Doubles every '&' so that a window shows the text as it stands.
std::u16string DoubleAmpersands(std::u16string_view text);

}  // namespace VKey
