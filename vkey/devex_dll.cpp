// Q2DevEx01_koba.dll: the device extension library. Besides existing (and carrying a code
// signature) for the system's guards, it offers the virtual key's SCSI side (scsi.h), so that the
// device monitor can talk to a virtual key without the bus driver (vkey/driver/):
//   VkeyScsi_DevicePath(slot, out, capacity): the storage interface path of the key in `slot`,
//     the path the bus driver's device for the key has
//     ("\\?\usbstor#cdrom&ven_korvanet&prod_<model>&rev_1.00#<serial>&0#{53f56308-...}").
//   VkeyScsi_PassThrough(path, buffer, size): what DeviceIoControl(IOCTL_SCSI_PASS_THROUGH_DIRECT)
//     does on that key with the SCSI_PASS_THROUGH_DIRECT + filler + sense buffer. Returns TRUE
//     with ScsiStatus 0, or 2 for an unknown CDB or direction; FALSE with
//     ERROR_DEVICE_NOT_CONNECTED when the key is absent.
#include <windows.h>

#include <ntddscsi.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "device.h"
#include "scsi.h"
#include "store.h"

using namespace vkey;

#define DEVEX_EXPORT extern "C" __declspec(dllexport)

namespace {

constexpr char kPathFormat[] =
    "\\\\?\\usbstor#cdrom&ven_korvanet&prod_%s&rev_1.00#%s&0#"
    "{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";

std::string Lower(std::string s) {
  for (char& c : s)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool SlotOfPath(const char* path, uint32_t* slot) {
  if (!path)
    return false;
  const std::string p(path);
  const size_t a = p.find("rev_1.00#");
  if (a == std::string::npos)
    return false;
  const size_t b = p.find("&0#", a);
  if (b == std::string::npos)
    return false;
  const std::string serial = Lower(p.substr(a + 9, b - a - 9));
  bool found = false;
  Transact([&](Store& store) {
    for (const Key& k : store.keys)
      if (Lower(TrimmedSerial(k.serial)) == serial) {
        *slot = k.slot;
        found = true;
      }
    return false;
  });
  return found;
}

}  // namespace

DEVEX_EXPORT uint32_t WINAPI VkeyScsi_DevicePath(uint32_t slot, char* out, uint32_t capacity) {
  if (!out)
    return ERROR_INVALID_PARAMETER;
  std::string serial, model;
  const uint32_t status = WithKey("VkeyScsi_DevicePath", slot, [&](Store&, Key& key, bool&) {
    serial = Lower(TrimmedSerial(key.serial));
    model = Lower(key.model);
    return 0u;
  });
  if (status)
    return status;
  const int n = std::snprintf(out, capacity, kPathFormat, model.c_str(), serial.c_str());
  return n > 0 && static_cast<uint32_t>(n) < capacity ? 0 : ERROR_INSUFFICIENT_BUFFER;
}

DEVEX_EXPORT BOOL WINAPI VkeyScsi_PassThrough(const char* path, void* buffer, uint32_t size) {
  auto* sptd = static_cast<SCSI_PASS_THROUGH_DIRECT*>(buffer);
  uint32_t slot = 0;
  if (!sptd || size < sizeof(SCSI_PASS_THROUGH_DIRECT) || sptd->CdbLength < 6 ||
      (sptd->DataTransferLength && !sptd->DataBuffer)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!SlotOfPath(path, &slot)) {
    SetLastError(ERROR_DEVICE_NOT_CONNECTED);
    return FALSE;
  }
  uint32_t transferred = 0;
  const uint32_t status = ScsiCommand(ScsiTarget{slot, {}}, sptd->Cdb[0], sptd->DataIn,
                                      static_cast<uint8_t*>(sptd->DataBuffer),
                                      sptd->DataTransferLength, &sptd->ScsiStatus, &transferred);
  if (status) {
    SetLastError(ScsiError(status));
    return FALSE;
  }
  return TRUE;
}
