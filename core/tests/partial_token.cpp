// A token library with the device-set entry points only (no signing names): one key, serial
// "PART". The core must serve device operations with it and refuse the others with -101.
#include <cstring>

#include "token_api.h"

using namespace koba::token;

extern "C" {

__declspec(dllexport) uint32_t
    __stdcall VexloT_GetSlotList(uint32_t, uint32_t* slots, uint32_t* count) {
  slots[0] = 3;
  *count = 1;
  return 0;
}

__declspec(dllexport) uint32_t __stdcall VexloT_GetDeviceInfo(uint32_t, uint32_t, uint8_t* record) {
  std::memset(record, 0, devinfo::kSize);
  std::memcpy(record + devinfo::kSerial, "PART            ", devinfo::kSerialSize);
  return 0;
}

__declspec(dllexport) uint32_t
    __stdcall VexloT_ChangePin(uint32_t, uint32_t, const char*, uint32_t, const char*, uint32_t) {
  return 0;
}
__declspec(dllexport) uint32_t
    __stdcall VexloT_InitToken(uint32_t, uint32_t, const char*, uint32_t) {
  return 0;
}
__declspec(dllexport) uint32_t __stdcall VexloT_ManTokenParam(uint32_t, uint32_t, void*) {
  return 0;
}
__declspec(dllexport) int32_t __stdcall VexloT_GetRandBytes(uint32_t, uint8_t*, uint32_t) {
  return 0;
}
__declspec(dllexport) uint32_t __stdcall VexloT_Logout(uint32_t, uint32_t) {
  return 0;
}
}
