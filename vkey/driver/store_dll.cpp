// vkeybus_store.dll: the user-mode half of the virtual key bus (TEST DOUBLE, Wine only). The bus
// driver loads it into its host process (winedevice.exe) and asks it which keys the store has
// present and to run the vendor SCSI commands on them, exactly as the key's SCSI side in
// Q2DevEx01_koba.dll runs them (scsi.h), scripted faults included. The store is the machine's
// (store.h): the driver's host has no test environment of its own.
#include <windows.h>

#include <cstring>
#include <string>

#include "scsi.h"
#include "store.h"
#include "vkeybus_protocol.h"

using namespace vkey;

#define VKEYBUS_EXPORT extern "C" __declspec(dllexport)

namespace {

void Describe(const Key& key, VKEYBUS_KEY* out) {
  std::memset(out, 0, sizeof *out);
  const std::string serial = TrimmedSerial(key.serial);
  std::memcpy(out->serial, serial.data(), std::min(serial.size(), sizeof out->serial - 1));
  std::memcpy(out->model, key.model.data(), std::min(key.model.size(), sizeof out->model - 1));
}

// The key whose trimmed serial is `serial`: its slot and presence. False when there is none
// (or the store cannot be read).
bool Lookup(const char* serial, uint32_t* slot, VKEYBUS_KEY* description, bool* present) {
  bool found = false;
  const std::string wanted(serial);
  Transact([&](Store& store) {
    for (const Key& k : store.keys)
      if (TrimmedSerial(k.serial) == wanted) {
        *slot = k.slot;
        *present = k.present;
        if (description)
          Describe(k, description);
        found = true;
      }
    return false;
  });
  return found;
}

}  // namespace

VKEYBUS_EXPORT uint32_t WINAPI VkeyBus_PresentKeys(VKEYBUS_KEY* keys, uint32_t capacity,
                                                   uint32_t* count) {
  if (!keys || !count)
    return ERROR_INVALID_PARAMETER;
  *count = 0;
  std::string error;
  const bool ok = Transact(
      [&](Store& store) {
        for (const Key& k : store.keys)
          if (k.present && *count < capacity)
            Describe(k, &keys[(*count)++]);
        return false;
      },
      &error);
  return ok ? 0 : ERROR_GEN_FAILURE;
}

VKEYBUS_EXPORT uint32_t WINAPI VkeyBus_FindKey(const char* serial, VKEYBUS_KEY* key) {
  if (!serial || !key)
    return ERROR_INVALID_PARAMETER;
  uint32_t slot = 0;
  bool present = false;
  if (!Lookup(serial, &slot, key, &present))
    return ERROR_FILE_NOT_FOUND;
  return present ? 0 : ERROR_DEVICE_NOT_CONNECTED;
}

VKEYBUS_EXPORT uint32_t WINAPI VkeyBus_Command(const char* serial, uint8_t opcode, uint8_t data_in,
                                               uint8_t* data, uint32_t length,
                                               uint32_t* transferred, uint8_t* scsi_status) {
  if (!serial || !transferred || !scsi_status || (length && !data))
    return ERROR_INVALID_PARAMETER;
  bool pulled_out = false;
  const uint32_t status = ScsiCommand(ScsiTarget{0, serial}, opcode, data_in, data, length,
                                      scsi_status, transferred, &pulled_out);
  if (pulled_out)
    return ERROR_DEVICE_NOT_CONNECTED;
  return status ? ScsiError(status) : 0;
}
