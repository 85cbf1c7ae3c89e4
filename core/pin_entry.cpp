#include "pin_entry.h"

#include <cstring>

#include "token_api.h"

namespace koba::core {

using VKey::PinpadParam;

void PrepareBlock(PinpadParam* block) {
  std::memset(block, 0, sizeof *block);
  block->size = sizeof *block;
  block->param0E = 7;
  block->pollPeriodMs = 500;
}

void FillPinEntry(PinpadParam* block, uint32_t slot, uint32_t use_type) {
  block->deviceHandle = slot | token::kTokenHandleFlag;
  block->pinType = use_type == VKey::PAD_USE_INITDEV ? 0 : 2;
  block->pinMinLength = 6;
  block->pinMaxLength = 30;
  block->flags |= 2;
  block->useType = use_type;
  if (block->param0C == 0)
    block->param0C = 32;
  if (block->param0D == 0)
    block->param0D = 28;
}

}  // namespace koba::core
