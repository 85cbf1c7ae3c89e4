// How the core fills the PIN pad's parameter block for a PIN entry.
#pragma once

#include <cstdint>

#include "pinpad_api.h"

namespace koba::core {

// Zero-filled, then the size, the style byte 7 and the 500 ms poll period.
void PrepareBlock(VKey::PinpadParam* block);

// The fields of one PIN entry on the key in `slot`: the device handle, PIN type (2 for verify
// and change, 0 for initialisation), lengths, the caller flag and the use type; then the
// dialog size bytes (32 and 28) where they are still 0.
void FillPinEntry(VKey::PinpadParam* block, uint32_t slot, uint32_t use_type);

}  // namespace koba::core
