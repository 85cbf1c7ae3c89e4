#include "pin_entry.h"

#include <cstring>

#include "token_api.h"

namespace koba::core {

using pinpad::PinpadParam;

void PrepareBlock(PinpadParam* block) {
  std::memset(block->bytes, 0, sizeof block->bytes);
  block->SetU32(PinpadParam::kOffSize, PinpadParam::kSize);
  block->bytes[PinpadParam::kOffStyle] = 7;
  block->SetU32(PinpadParam::kOffPollPeriod, 500);
}

void FillPinEntry(PinpadParam* block, uint32_t slot, uint32_t use_type) {
  block->SetU32(PinpadParam::kOffDevice, slot | token::kTokenHandleFlag);
  block->SetU32(PinpadParam::kOffPinType, use_type == pinpad::kUseInitDevice ? 0 : 2);
  block->bytes[PinpadParam::kOffMinLength] = 6;
  block->bytes[PinpadParam::kOffMaxLength] = 30;
  block->SetU32(PinpadParam::kOffFlags,
                block->U32(PinpadParam::kOffFlags) | PinpadParam::kFlagCaller);
  block->SetU32(PinpadParam::kOffUseType, use_type);
  if (block->bytes[PinpadParam::kOffWidth] == 0)
    block->bytes[PinpadParam::kOffWidth] = 32;
  if (block->bytes[PinpadParam::kOffHeight] == 0)
    block->bytes[PinpadParam::kOffHeight] = 28;
}

}  // namespace koba::core
