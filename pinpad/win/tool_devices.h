// What the management tool knows of the inserted keys: its own binding of the token library,
// and the device records built from the token library and the key's CSP.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "token_api.h"
#include "win_handles.h"

namespace VKey {

// The token library entry points the tool calls; all null when the library or a name is
// missing.
class ToolToken {
 public:
  ToolToken();
  bool bound() const { return getSlotList != nullptr; }

  koba::token::PFN_VexloT_GetSlotList getSlotList = nullptr;
  koba::token::PFN_VexloT_GetDeviceInfo getDeviceInfo = nullptr;
  koba::token::PFN_VexloT_ManTokenParam manTokenParam = nullptr;
  koba::token::PFN_VexloT_Login login = nullptr;
  koba::token::PFN_VexloT_ChangePin changePin = nullptr;

 private:
  Module module_;
};

struct ToolContainer {
  std::string name;
  uint32_t keySpec = 0;
  uint32_t keyType = 0;
  std::vector<uint8_t> certificate;  // empty when the container has none
};

struct ToolDevice {
  std::string serial;
  std::string label;  // UTF-8
  uint32_t slot = 0;
  std::string identifier;
  uint32_t usbMode = 0;
  std::vector<ToolContainer> containers;
};

// The reader path of a slot followed by a container name.
std::string ContainerPath(uint32_t slot, const std::string& name);

// Lists the inserted keys. False (and devices unchanged) when the slot list cannot be read.
bool EnumerateDevices(const ToolToken& token, std::vector<ToolDevice>* devices);

// The 577-byte information record of a slot; false when the key does not answer.
bool ReadDeviceInfo(const ToolToken& token, uint32_t slot, uint32_t flags,
                    std::vector<uint8_t>* record);

// Deletes one container's key and certificate: through the batch call on keys that report the
// device kind flag, else through the container's own deletion. 0 or the CSP's error.
uint32_t DeleteContainer(const ToolToken& token, const ToolDevice& device,
                         const ToolContainer& container);

}  // namespace VKey
