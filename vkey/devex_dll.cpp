// Q2DevEx01_koba.dll: the device extension library. Besides existing (and carrying a code
// signature) for the system's guards, it offers the virtual key's SCSI side, so that the device
// monitor can talk to a virtual key instead of a USB storage device:
//   VkeyScsi_DevicePath(slot, out, capacity): the storage interface path of the key in `slot`
//     ("\\?\usbstor#cdrom&ven_korvanet&prod_vexlotoken&rev_1.00#<serial>&0#{53f56308-...}").
//   VkeyScsi_PassThrough(path, buffer, size): what DeviceIoControl(IOCTL_SCSI_PASS_THROUGH_DIRECT)
//     does on that key with the 80-byte SCSI_PASS_THROUGH_DIRECT + filler + sense buffer. CDB F1
//     (data out) sends one command APDU; CDB F2 (data in) returns the response as a 2-byte
//     big-endian length N and N bytes (data and status word), cut to the transfer length.
//     Returns TRUE with ScsiStatus 0, or 2 for an unknown CDB or direction; FALSE with
//     ERROR_DEVICE_NOT_CONNECTED when the key is absent.
// APDUs: 00 A4 04 00 Lc AID (SELECT) -> 90 00; 80 CA 00 01 00 (GET DATA serial) -> 16 bytes;
// 80 CA 00 02 00 (GET DATA device identifier) -> 16 bytes; 00 84 00 00 Le (GET CHALLENGE) ->
// Le random bytes (8 when Le is 0); each answer ends with 90 00. Errors: 67 00 (length),
// 6A 88 (unknown data object), 6D 00 (instruction), 6E 00 (class).
#include <windows.h>

#include <ntddscsi.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "crypto.h"
#include "device.h"
#include "store.h"

using namespace vkey;

#define DEVEX_EXPORT extern "C" __declspec(dllexport)

namespace {

constexpr char kPathFormat[] =
    "\\\\?\\usbstor#cdrom&ven_korvanet&prod_vexlotoken&rev_1.00#%s&0#"
    "{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";

std::string Trimmed(const std::string& serial) {
  std::string s = serial;
  while (!s.empty() && s.back() == ' ')
    s.pop_back();
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
  const std::string serial = p.substr(a + 9, b - a - 9);
  bool found = false;
  Transact([&](Store& store) {
    for (const Key& k : store.keys)
      if (Trimmed(k.serial) == serial) {
        *slot = k.slot;
        found = true;
      }
    return false;
  });
  return found;
}

Bytes Answer(Key& key, const Bytes& apdu) {
  auto sw = [](Bytes data, uint8_t a, uint8_t b) {
    data.push_back(a);
    data.push_back(b);
    return data;
  };
  if (apdu.size() < 4)
    return sw({}, 0x67, 0x00);
  const uint8_t cla = apdu[0], ins = apdu[1], p1 = apdu[2], p2 = apdu[3];
  if (cla != 0x00 && cla != 0x80)
    return sw({}, 0x6E, 0x00);
  if (cla == 0x00 && ins == 0xA4) {
    if (apdu.size() < 5 || apdu.size() < 5u + apdu[4] || p1 != 0x04)
      return sw({}, 0x67, 0x00);
    return sw({}, 0x90, 0x00);
  }
  if (cla == 0x80 && ins == 0xCA && p1 == 0x00) {
    if (p2 == 0x01) {
      std::string s = key.serial;
      s.resize(16, ' ');
      return sw(Bytes(s.begin(), s.end()), 0x90, 0x00);
    }
    if (p2 == 0x02)
      return sw(key.device_id, 0x90, 0x00);
    return sw({}, 0x6A, 0x88);
  }
  if (cla == 0x00 && ins == 0x84) {
    const size_t n = apdu.size() >= 5 && apdu[4] ? apdu[4] : 8;
    return sw(RandomBytes(n), 0x90, 0x00);
  }
  return sw({}, 0x6D, 0x00);
}

}  // namespace

DEVEX_EXPORT uint32_t WINAPI VkeyScsi_DevicePath(uint32_t slot, char* out, uint32_t capacity) {
  if (!out)
    return ERROR_INVALID_PARAMETER;
  std::string serial;
  const uint32_t status = WithKey("VkeyScsi_DevicePath", slot, [&](Store&, Key& key, bool&) {
    serial = Trimmed(key.serial);
    return 0u;
  });
  if (status)
    return status;
  const int n = std::snprintf(out, capacity, kPathFormat, serial.c_str());
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
  auto* data = static_cast<uint8_t*>(sptd->DataBuffer);
  const uint32_t status = WithKey("VkeyScsi_PassThrough", slot, [&](Store&, Key& key, bool& dirty) {
    sptd->ScsiStatus = 0;
    if (sptd->Cdb[0] == 0xF1 && sptd->DataIn == SCSI_IOCTL_DATA_OUT) {
      key.scsi_response = Answer(key, Bytes(data, data + sptd->DataTransferLength));
      dirty = true;
    } else if (sptd->Cdb[0] == 0xF2 && sptd->DataIn == SCSI_IOCTL_DATA_IN) {
      Bytes reply{static_cast<uint8_t>(key.scsi_response.size() >> 8),
                  static_cast<uint8_t>(key.scsi_response.size())};
      reply.insert(reply.end(), key.scsi_response.begin(), key.scsi_response.end());
      const size_t n = std::min<size_t>(reply.size(), sptd->DataTransferLength);
      std::memcpy(data, reply.data(), n);
    } else {
      sptd->ScsiStatus = 2;
    }
    return 0u;
  });
  if (status) {
    SetLastError(status == koba::token::kStatusNoDevice ? ERROR_DEVICE_NOT_CONNECTED
                                                        : ERROR_GEN_FAILURE);
    return FALSE;
  }
  return TRUE;
}
