// The PIN operation of Pinpad_Indicator: read the device value, show the PIN dialog of the use
// type, run the token library's PIN function with the entered PIN(s), and after a wrong PIN tell
// the user the tries left and ask again.
#pragma once

#include <cstdint>

#include "pinpad_api.h"

namespace VKey {

// For a block whose size and use type were checked. Returns the token function's status,
// kPinpadUserCancel when the user cancels, or PINPAD_E_FAILED when the block's lengths are
// unusable, the token library cannot be bound or a dialog cannot start.
uint32_t RunPinOperation(void* tokenFunction, const PinpadParam& param);

}  // namespace VKey
