// The SCSI side of a virtual key: the vendor commands a USB key takes through the storage stack
// (IOCTL_SCSI_PASS_THROUGH_DIRECT). CDB F1 (data out) sends one command APDU; CDB F2 (data in)
// returns the answer to the last one as a 2-byte big-endian length N and N bytes (data and
// status word), cut to the transfer length. Served by Q2DevEx01_koba.dll's VkeyScsi_PassThrough
// and by the virtual key bus driver's store half (vkey/driver/), with the same scripted faults
// (entry "VkeyScsi_PassThrough").
//
// APDUs: 00 A4 04 00 Lc AID (SELECT) -> 90 00; 80 CA 00 01 00 (GET DATA serial) -> 16 bytes;
// 80 CA 00 02 00 (GET DATA device identifier) -> 16 bytes; 00 84 00 00 Le (GET CHALLENGE) ->
// Le random bytes (8 when Le is 0); each answer ends with 90 00. Errors: 67 00 (length),
// 6A 88 (unknown data object), 6D 00 (instruction), 6E 00 (class).
#pragma once

#include <cstdint>
#include <string>

#include "store.h"

namespace vkey {

constexpr uint8_t kScsiSendApdu = 0xF1;
constexpr uint8_t kScsiReceive = 0xF2;
constexpr uint8_t kScsiDataOut = 0;
constexpr uint8_t kScsiDataIn = 1;
constexpr uint8_t kScsiGood = 0;
constexpr uint8_t kScsiCheckCondition = 2;
constexpr char kScsiEntry[] = "VkeyScsi_PassThrough";

// The serial without its padding, as device paths carry it.
std::string TrimmedSerial(const std::string& serial);

// The answer of the key to one command APDU.
Bytes AnswerApdu(Key& key, const Bytes& apdu);

// The key a command goes to: by slot (the device extension library) or, when `serial` is not
// empty, by its serial without padding (the bus driver's devices).
struct ScsiTarget {
  uint32_t slot = 0;
  std::string serial;
};

// Runs one vendor command on the key within one store transaction. `direction` is the record's
// DataIn: 0 data out (the key reads `data`), 1 data in (the key fills `data`). Sets
// `scsi_status` (CHECK CONDITION for an unknown opcode or direction) and `transferred`. Returns
// the token status: 0, kStatusNoDevice when the key is absent or a removal fault pulled it out,
// another status for a scripted failure; `pulled_out` (optional) tells that the key is gone
// after the call, whatever status the fault gave.
uint32_t ScsiCommand(const ScsiTarget& target, uint8_t opcode, uint8_t direction, uint8_t* data,
                     uint32_t length, uint8_t* scsi_status, uint32_t* transferred,
                     bool* pulled_out = nullptr);

// The Win32 error a failed command gives its caller: ERROR_DEVICE_NOT_CONNECTED for an absent
// key, ERROR_GEN_FAILURE otherwise.
uint32_t ScsiError(uint32_t status);

}  // namespace vkey
