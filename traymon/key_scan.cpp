#include "key_scan.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "token_api.h"

namespace koba::traymon {
namespace {

namespace di = token::devinfo;

// A field of the device record as the C string a zeroed 20-byte copy of it gives.
std::string Field(const uint8_t* record, size_t offset, size_t size) {
  const char* p = reinterpret_cast<const char*>(record + offset);
  return std::string(p, strnlen(p, size));
}

constexpr size_t kRegistryNameChars = 10;

}  // namespace

DeviceFields ReadDeviceFields(const uint8_t* record) {
  DeviceFields fields;
  fields.identifier = Field(record, di::kDeviceId, 16);
  fields.serial = Field(record, di::kSerial, di::kSerialSize);
  while (!fields.serial.empty() && fields.serial.back() == ' ')
    fields.serial.pop_back();
  fields.special_model = std::memcmp(record + di::kModelCode, kSpecialModel, 4) == 0;
  return fields;
}

bool ShouldRegister(const ContainerKey& key, bool special_model) {
  if (key.certificate.empty() || key.key_algorithm == kKeyAlgorithmSm2)
    return false;
  return !(special_model && key.certificate_kind == kCertificateKindSpecial);
}

std::string TokenPath(uint32_t slot) {
  char path[64];
  std::snprintf(path, sizeof path, "\\\\.\\Korvanet VexloToken %u\\", slot);
  return path;
}

std::string ContainerPrefix(const std::string& identifier) {
  return "\\\\.\\Korvanet " + identifier + "\\";
}

int KeyScanner::Scan(uint32_t code) {
  std::vector<uint32_t> slots;
  if (!env_.GetSlotList(&slots))
    return -1;
  const ScanActions& actions = ActionsFor(code);

  // Removal phase.
  int known = 0;
  int gone = 0;
  int refreshed = 0;
  for (KeyRecord& record : records_) {
    if (record.slot == 0)
      continue;
    ++known;
    if (!actions.forget_all) {
      const auto listed = std::find(slots.begin(), slots.end(), record.slot);
      if (listed != slots.end() && env_.StillPresent(record.slot)) {
        if (actions.refresh_present) {
          // The key's certificates may have changed since it was registered: its entries are
          // registered again from what the key holds now.
          env_.DeleteCertificates(record.prefix, 0);
          std::vector<uint8_t> info(di::kReserve, 0);
          env_.ReadDeviceInfo(record.slot, &info);
          const DeviceFields fields = ReadDeviceFields(info.data());
          RegisterKey(fields.special_model, record.prefix, TokenPath(record.slot));
          ++refreshed;
        }
        *listed = 0;
        continue;
      }
      env_.DeleteCertificates(record.prefix, -1);
      if (actions.usage_remove) {
        env_.WriteUsageRecord(UsageEvent::kRemove, record.serial);
        env_.DeleteUiLanguage();
      }
      if (actions.diag_remove) {
        env_.AppendDiagRecord(record.serial, "remove");
        env_.WriteMachineValue(record.serial.substr(0, kRegistryNameChars), kScanRemoval);
      }
    }
    record = KeyRecord{};
    ++gone;
  }
  if (gone == known)
    env_.DeleteCertificates(std::string(), 0);

  // Registration phase.
  int registered = 0;
  for (const uint32_t slot : slots) {
    if (slot == 0)
      continue;
    std::vector<uint8_t> info(di::kReserve, 0);
    env_.ReadDeviceInfo(slot, &info);
    const DeviceFields fields = ReadDeviceFields(info.data());
    const std::string token_path = TokenPath(slot);
    const std::string prefix = ContainerPrefix(fields.identifier);
    auto free_record = std::find_if(records_.begin(), records_.end(),
                                    [](const KeyRecord& r) { return r.slot == 0; });
    if (free_record == records_.end())
      free_record = records_.insert(records_.end(), KeyRecord{});
    if (actions.usage_insert)
      env_.WriteUsageRecord(UsageEvent::kInsert, fields.serial);
    if (actions.diag_insert)
      env_.AppendDiagRecord(fields.serial, "insert");
    free_record->slot = slot;
    free_record->prefix = prefix;
    free_record->serial = fields.serial;
    RegisterKey(fields.special_model, prefix, token_path);
    ++registered;
    env_.UpdateFontLibrary(slot);
    if (actions.registry_insert)
      env_.WriteMachineValue(fields.serial, kScanArrival);
  }

  if (gone > 0 || registered > 0 || refreshed > 0)
    env_.Broadcast(gone > 0 ? kScanRemoval : kScanArrival);
  return gone;
}

void KeyScanner::RegisterKey(bool special_model, const std::string& prefix,
                             const std::string& token_path) {
  std::vector<std::string> containers;
  if (!env_.EnumContainers(token_path, &containers))
    return;
  for (const std::string& name : containers) {
    const std::string container = prefix + name;
    for (const uint32_t key_spec : {token::kKeySpecExchange, token::kKeySpecSignature}) {
      ContainerKey key;
      if (!env_.GetContainerKey(container, key_spec, &key) || !ShouldRegister(key, special_model))
        continue;
      env_.RegisterCertificate(container, key_spec, key.certificate);
    }
  }
}

}  // namespace koba::traymon
