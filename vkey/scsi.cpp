#include "scsi.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "crypto.h"
#include "device.h"

namespace vkey {

namespace tk = koba::token;

std::string TrimmedSerial(const std::string& serial) {
  std::string s = serial;
  while (!s.empty() && s.back() == ' ')
    s.pop_back();
  return s;
}

Bytes AnswerApdu(Key& key, const Bytes& apdu) {
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

uint32_t ScsiCommand(const ScsiTarget& target, uint8_t opcode, uint8_t direction, uint8_t* data,
                     uint32_t length, uint8_t* scsi_status, uint32_t* transferred,
                     bool* pulled_out) {
  *scsi_status = kScsiGood;
  *transferred = 0;
  uint32_t status = tk::kStatusDeviceError;
  bool gone = false;
  const bool ok = Transact([&](Store& store) {
    Key* key = nullptr;
    if (target.serial.empty()) {
      key = store.BySlot(SlotOf(target.slot));
    } else {
      for (Key& k : store.keys)
        if (TrimmedSerial(k.serial) == target.serial)
          key = &k;
    }
    if (!key || !key->present) {
      status = tk::kStatusNoDevice;
      gone = true;
      return false;
    }
    bool dirty = false;
    status = TakeFault(store, *key, kScsiEntry, &dirty);
    gone = !key->present;
    if (status)
      return dirty;
    if (opcode == kScsiSendApdu && direction == kScsiDataOut) {
      key->scsi_response = AnswerApdu(*key, Bytes(data, data + length));
      *transferred = length;
      dirty = true;
    } else if (opcode == kScsiReceive && direction == kScsiDataIn) {
      Bytes reply{static_cast<uint8_t>(key->scsi_response.size() >> 8),
                  static_cast<uint8_t>(key->scsi_response.size())};
      reply.insert(reply.end(), key->scsi_response.begin(), key->scsi_response.end());
      *transferred = static_cast<uint32_t>(std::min<size_t>(reply.size(), length));
      std::memcpy(data, reply.data(), *transferred);
    } else {
      *scsi_status = kScsiCheckCondition;
    }
    return dirty;
  });
  if (pulled_out)
    *pulled_out = gone;
  return ok ? status : tk::kStatusDeviceError;
}

uint32_t ScsiError(uint32_t status) {
  return status == koba::token::kStatusNoDevice ? ERROR_DEVICE_NOT_CONNECTED : ERROR_GEN_FAILURE;
}

}  // namespace vkey
