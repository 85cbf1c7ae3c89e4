// The page helper's own binding of the token library: the device entry points only, with the
// PIN pad library beside it, held by one control object for the length of one method.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>

#include "pinpad_api.h"
#include "token_api.h"

namespace koba::pagehelper {

using DeviceInfo = std::array<uint8_t, token::devinfo::kReserve>;

class PageBinding {
 public:
  PageBinding() = default;
  ~PageBinding() { Unbind(); }
  PageBinding(const PageBinding&) = delete;
  PageBinding& operator=(const PageBinding&) = delete;

  // Loads both libraries from the system folder and resolves the names in order; the first
  // one missing gives -101.
  int Bind();
  // Frees whichever library is loaded.
  void Unbind();
  // Binds, finds the single inserted key and reads its device information: -101, -102 no
  // key, -104 several keys, -302 unreadable information.
  int FindKey(uint32_t* slot, DeviceInfo* info);

  token::PFN_VexloT_GetSlotList GetSlotList = nullptr;
  token::PFN_VexloT_GetDeviceInfo GetDeviceInfo = nullptr;
  token::PFN_VexloT_ChangePin ChangePin = nullptr;
  token::PFN_VexloT_InitToken InitToken = nullptr;
  token::PFN_VexloT_ManTokenParam ManTokenParam = nullptr;
  token::PFN_VexloT_Logout Logout = nullptr;

 private:
  HMODULE token_ = nullptr;
  HMODULE pinpad_ = nullptr;
  // Required of the PIN pad library, never called.
  VKey::Pinpad_ShowDialog_t show_dialog_ = nullptr;
};

// Runs the PIN pad over `token_function` for the key in `slot`, which the block names by its
// plain slot number; returns the PIN pad's status. `language` is the key's language index.
uint32_t RunPinEntry(uint32_t slot, uint32_t use_type, uint32_t language, void* token_function);

}  // namespace koba::pagehelper
