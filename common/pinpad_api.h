// Call shapes of the PIN pad library Q2Pinpad_KOBA.dll as its callers (token core, browser
// controls, tool launcher) use it: the exports, their statuses and the PinpadParam block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(_WIN32)
#define KOBA_PINPAD_CALL __stdcall
#else
#define KOBA_PINPAD_CALL
#endif

namespace koba::pinpad {

// Statuses of the exports.
constexpr uint32_t kCancelled = 0xE011F001;  // PINPAD_E_CANCELLED
constexpr uint32_t kFailed = 0xE011FFFF;     // PINPAD_E_FAILED
constexpr uint32_t kDevicePending = 0xA0112002;
constexpr uint32_t kPinCancelled = static_cast<uint32_t>(-100);

// Use types of Pinpad_Indicator.
constexpr uint32_t kUseCheckPin = 0x100001;    // PAD_USE_CHECKPIN
constexpr uint32_t kUseChangePin = 0x100002;   // PAD_USE_CHANGEPIN
constexpr uint32_t kUseInitDevice = 0x100004;  // PAD_USE_INITDEV

// The 208-byte parameter block of Pinpad_Indicator and Pinpad_CreateKeyEx: an interface record
// with fixed little-endian offsets, the same in 32-bit and 64-bit processes except for the
// display request pointer at 0xAC.
struct PinpadParam {
  static constexpr size_t kSize = 208;
  static constexpr size_t kOffSize = 0x00;
  static constexpr size_t kOffWidth = 0x0C;   // u8
  static constexpr size_t kOffHeight = 0x0D;  // u8
  static constexpr size_t kOffStyle = 0x0E;   // u8
  static constexpr size_t kOffFlags = 0x10;
  static constexpr size_t kOffPollPeriod = 0x14;
  static constexpr size_t kOffUseType = 0x18;
  static constexpr size_t kOffPinType = 0x1C;
  static constexpr size_t kOffDevice = 0x20;
  static constexpr size_t kOffMinLength = 0x24;  // u8
  static constexpr size_t kOffMaxLength = 0x25;  // u8
  static constexpr size_t kOffDisplayRequest = 0xAC;

  static constexpr uint32_t kFlagCaller = 2;
  static constexpr uint32_t kFlagBrowserHost = 0xF0000000;

  uint8_t bytes[kSize];

  uint32_t U32(size_t off) const {
    uint32_t v;
    std::memcpy(&v, bytes + off, 4);
    return v;
  }
  void SetU32(size_t off, uint32_t v) { std::memcpy(bytes + off, &v, 4); }
};
static_assert(sizeof(PinpadParam) == 208, "PinpadParam is 208 bytes");

extern "C" {
// (reserved 0, token function, key information, block): the token function's status, -100 on
// cancel, kFailed when the block is missing or the call is refused.
typedef uint32_t(KOBA_PINPAD_CALL* PFN_Pinpad_Indicator)(uint32_t reserved, void* token_function,
                                                         uint32_t key_info, PinpadParam* block);
typedef uint32_t(KOBA_PINPAD_CALL* PFN_Pinpad_ShowDialog)(uint32_t type, void* record);
typedef uint32_t(KOBA_PINPAD_CALL* PFN_Pinpad_CreateKeyEx)(void* context, void* callback,
                                                           void* reserved, PinpadParam* block,
                                                           uint32_t kind);
typedef uint32_t(KOBA_PINPAD_CALL* PFN_Pinpad_VerifyData)(uint32_t utf8, const char* document,
                                                          uint32_t length);
typedef uint32_t(KOBA_PINPAD_CALL* PFN_Pinpad_Param)(uint32_t* language, uint32_t mode);
typedef uint32_t(KOBA_PINPAD_CALL* PFN_Pinpad_GetKeyInfo)(uint32_t what);
typedef uint32_t(KOBA_PINPAD_CALL* PFN_Pinpad_SetHwnd)(void* hwnd);
}

}  // namespace koba::pinpad
