// The PIN pad library's interface as its callers see it: the parameter block, the status codes,
// the use types and the shapes of the exports.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define KOBA_PINPAD_CALL __stdcall
#else
#define KOBA_PINPAD_CALL
#endif

namespace VKey {

constexpr uint32_t PINPAD_E_CANCELLED = 0xE011F001;
constexpr uint32_t PINPAD_E_FAILED = 0xE011FFFF;
constexpr uint32_t PAD_DEVICE_PENDING = 0xA0112002;
// Pinpad_Indicator's result when the user cancels the PIN dialog.
constexpr uint32_t kPinpadUserCancel = static_cast<uint32_t>(-100);

constexpr uint32_t PAD_USE_CHECKPIN = 0x100001;
constexpr uint32_t PAD_USE_CHANGEPIN = 0x100002;
constexpr uint32_t PAD_USE_INITDEV = 0x100004;

// Token-library statuses that Pinpad_Indicator passes through.
constexpr uint32_t kTokenTimeout = 0xE011000F;
constexpr uint32_t kTokenWrongPinBase = 0xE0110010;  // low part: tries left

constexpr uint32_t kBrowserHostFlags = 0xF0000000;
constexpr uint32_t kCreateKindDeviceConfirm = 999;
constexpr uint32_t kCreateKindSignDisplay = 204;

constexpr uint32_t kPadCommandBytes = 128;

// What the signing display shows: the prompt, the document of fields and the list of fields to
// show in bold (document and list in the charset the flag names).
#pragma pack(push, 4)
struct PinpadDisplayRequest {
  uint8_t reserved00[8];
  uint32_t utf8;          // 0x08: non-zero UTF-8, zero GB18030
  const wchar_t* prompt;  // 0x0C
  uint32_t documentLength;
  const char* document;
  uint32_t highlightLength;
  const char* highlights;
};
#pragma pack(pop)
#if !defined(_WIN64) && defined(_WIN32)
static_assert(offsetof(PinpadDisplayRequest, prompt) == 0x0C);
static_assert(offsetof(PinpadDisplayRequest, documentLength) == 0x10);
static_assert(offsetof(PinpadDisplayRequest, document) == 0x14);
static_assert(offsetof(PinpadDisplayRequest, highlightLength) == 0x18);
static_assert(offsetof(PinpadDisplayRequest, highlights) == 0x1C);
#endif

// The parameter block of Pinpad_Indicator and Pinpad_CreateKeyEx: 208 bytes with fixed offsets
// on both pointer widths, zero-filled by the caller.
#pragma pack(push, 4)
struct PinpadParam {
  uint32_t size;  // 208
  uint8_t reserved04[8];
  uint8_t param0C;  // 64 for key kind 1, else 32
  uint8_t param0D;  // 64 for key kind 1, else 28
  uint8_t param0E;  // 7
  uint8_t reserved0F;
  uint32_t flags;         // the caller ORs in 2; browser hosts get 0xF0000000
  uint32_t pollPeriodMs;  // timer period of the device dialogs
  uint32_t useType;       // PAD_USE_* or the device operation of kind 999
  uint32_t pinType;       // 2 for verify and change, 0 for initialisation
  uint32_t deviceHandle;  // token-library slot OR 0x20000000
  uint8_t pinMinLength;   // 0x24: 6
  uint8_t pinMaxLength;   // 0x25: 30
  uint8_t reserved26[0xAC - 0x26];
  const PinpadDisplayRequest* displayRequest;  // 0xAC, kind 204
  uint8_t reservedAfterRequest[0xB8 - 0xAC - sizeof(void*)];
  uint8_t displayArg1;  // 0xB8
  uint8_t reservedB9[3];
  uint32_t displayArg2;    // 0xBC
  uint8_t displayArg3[4];  // 0xC0, passed by address
  uint32_t displayArg4;    // 0xC4
  uint32_t displayArg5;    // 0xC8
  uint32_t displayArg6;    // 0xCC
};
#pragma pack(pop)

static_assert(sizeof(PinpadParam) == 208, "PinpadParam is 208 bytes");
static_assert(offsetof(PinpadParam, param0C) == 0x0C);
static_assert(offsetof(PinpadParam, flags) == 0x10);
static_assert(offsetof(PinpadParam, pollPeriodMs) == 0x14);
static_assert(offsetof(PinpadParam, useType) == 0x18);
static_assert(offsetof(PinpadParam, pinType) == 0x1C);
static_assert(offsetof(PinpadParam, deviceHandle) == 0x20);
static_assert(offsetof(PinpadParam, pinMinLength) == 0x24);
static_assert(offsetof(PinpadParam, pinMaxLength) == 0x25);
static_assert(offsetof(PinpadParam, displayRequest) == 0xAC);
static_assert(offsetof(PinpadParam, displayArg1) == 0xB8);
static_assert(offsetof(PinpadParam, displayArg2) == 0xBC);
static_assert(offsetof(PinpadParam, displayArg3) == 0xC0);
static_assert(offsetof(PinpadParam, displayArg4) == 0xC4);
static_assert(offsetof(PinpadParam, displayArg5) == 0xC8);
static_assert(offsetof(PinpadParam, displayArg6) == 0xCC);

// The caller's record of the waiting window of Pinpad_ShowDialog type 5.
struct GenKeyWaitHandle {
  uint32_t magic;  // kGenKeyWaitMagic while the window is open
  uint32_t threadId;
  uint32_t threadHandle;
};
static_assert(sizeof(GenKeyWaitHandle) == 12, "GenKeyWaitHandle is 12 bytes");
constexpr uint32_t kGenKeyWaitMagic = 0x434F5250;  // "PROC" in memory

extern "C" {
// The caller's PadDeviceCallback of Pinpad_CreateKeyEx, in its two shapes. The command buffer
// holds kPadCommandBytes bytes: the command in bytes 0-3, the device's answer in byte 4.
typedef uint32_t(KOBA_PINPAD_CALL* PadDeviceConfirmCallback)(void* context, uint8_t* command,
                                                             uint32_t commandBytes,
                                                             uint32_t operation);
typedef uint32_t(KOBA_PINPAD_CALL* PadDeviceDisplayCallback)(void* context, uint8_t* command,
                                                             uint32_t commandBytes, uint8_t arg1,
                                                             uint32_t arg2, uint32_t arg4,
                                                             uint8_t* arg3, uint32_t arg6,
                                                             uint32_t arg5, uint32_t zero);
typedef uint32_t(KOBA_PINPAD_CALL* Pinpad_Indicator_t)(uint32_t reserved, void* tokenFunction,
                                                       uint32_t keyInfo, PinpadParam* param);
typedef uint32_t(KOBA_PINPAD_CALL* Pinpad_ShowDialog_t)(uint32_t type, void* record);
typedef uint32_t(KOBA_PINPAD_CALL* Pinpad_CreateKeyEx_t)(void* context, void* callback,
                                                         void* reserved, PinpadParam* param,
                                                         uint32_t kind);
typedef uint32_t(KOBA_PINPAD_CALL* Pinpad_VerifyData_t)(uint32_t utf8, const char* document,
                                                        uint32_t length);
typedef uint32_t(KOBA_PINPAD_CALL* Pinpad_Param_t)(uint32_t* language, uint32_t mode);
typedef uint32_t(KOBA_PINPAD_CALL* Pinpad_GetKeyInfo_t)(uint32_t);
typedef uint32_t(KOBA_PINPAD_CALL* Pinpad_CreateKey_t)(uint32_t, uint32_t, uint32_t, uint32_t);
typedef uint32_t(KOBA_PINPAD_CALL* Pinpad_MLGetText_t)(uint32_t, uint32_t, uint32_t, uint32_t);
typedef uint32_t(KOBA_PINPAD_CALL* Pinpad_MLChangeDlgRes_t)(uint32_t, uint32_t);
typedef uint32_t(KOBA_PINPAD_CALL* ToolsShowInit_t)(void* owner);
}

}  // namespace VKey
