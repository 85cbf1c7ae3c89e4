// A PIN pad library for the core's tests: records what the core hands to Pinpad_Indicator and
// answers as the test scripted it, either by running the token function with a PIN (as the
// real PIN pad does after the user typed it) or by returning a fixed status.
#include <windows.h>

#include <cstring>
#include <string>

#include "pinpad_api.h"
#include "token_api.h"

namespace {

using VKey::PinpadParam;

PinpadParam g_block;
bool g_called = false;
void* g_function = nullptr;
uint32_t g_key_info = 0xFFFFFFFF;
uint32_t g_language = 0xFFFFFFFF;
std::string g_pin;
uint32_t g_status = 0;

}  // namespace

extern "C" {

// Test controls: the next Pinpad_Indicator enters `pin` (when not null) or returns `status`.
__declspec(dllexport) void __stdcall Recording_Script(const char* pin, uint32_t status) {
  g_pin = pin != nullptr ? pin : "";
  g_status = pin != nullptr ? 0 : status;
  g_called = false;
}

// What the last Pinpad_Indicator received; false when it was not called.
__declspec(dllexport) BOOL __stdcall Recording_Last(PinpadParam* block, void** function,
                                                    uint32_t* key_info, uint32_t* language) {
  *block = g_block;
  *function = g_function;
  *key_info = g_key_info;
  *language = g_language;
  return g_called;
}

__declspec(dllexport) uint32_t __stdcall Pinpad_Indicator(uint32_t, void* token_function,
                                                          uint32_t key_info, PinpadParam* block) {
  if (block == nullptr)
    return VKey::PINPAD_E_FAILED;
  g_called = true;
  g_block = *block;
  g_function = token_function;
  g_key_info = key_info;
  if (g_pin.empty())
    return g_status;
  auto login =
      reinterpret_cast<koba::token::PFN_VexloT_Login>(reinterpret_cast<void (*)()>(token_function));
  return login(block->deviceHandle, koba::token::kUserTypeUser, g_pin.data(),
               static_cast<uint32_t>(g_pin.size()));
}

__declspec(dllexport) uint32_t __stdcall Pinpad_GetKeyInfo(uint32_t) {
  return 0;
}

__declspec(dllexport) uint32_t __stdcall Pinpad_Param(uint32_t* language, uint32_t) {
  g_language = language != nullptr ? *language : 0xFFFFFFFE;
  return 0;
}
}
