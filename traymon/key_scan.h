// The scan that keeps the user's personal certificate store in step with the inserted keys:
// the per-key records, the removal of keys that have gone, the registration of every
// container's certificates of keys that are new, and the records written on the way. The scan
// reaches the token library, the CSP, the stores, the logs and the registry only through a
// ScanEnvironment, so it is Windows-free and tested without any of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "monitor_rules.h"
#include "usage_record.h"

namespace koba::traymon {

constexpr char kKeyCspName[] = "Korvanet Vexlo CSP KOBA v1.0";
// The model whose special certificates (kind 1) are not registered.
constexpr char kSpecialModel[] = "4857";
constexpr uint32_t kCertificateKindSpecial = 1;
constexpr uint32_t kKeyAlgorithmSm2 = 2;

// One key seen since the monitor started. Slot 0: the record is free.
struct KeyRecord {
  uint32_t slot = 0;
  std::string prefix;  // "\\.\Korvanet <device identifier>\"
  std::string serial;  // trailing spaces removed
};

// What the scan takes from the device-information record.
struct DeviceFields {
  std::string identifier;
  std::string serial;
  bool special_model = false;
};

// `record` holds at least 264 bytes (the fields the scan reads).
DeviceFields ReadDeviceFields(const uint8_t* record);

// The certificate of one key of a container, as the CSP reports it.
struct ContainerKey {
  uint32_t certificate_kind = 0;
  uint32_t key_algorithm = 0;
  std::vector<uint8_t> certificate;
};

// Whether a container key's certificate goes into the store: it has one, it is not SM2, and
// on the special model it is not the special certificate.
bool ShouldRegister(const ContainerKey& key, bool special_model);

class ScanEnvironment {
 public:
  virtual ~ScanEnvironment() = default;
  // Token library. GetSlotList false: the list is unreadable.
  virtual bool GetSlotList(std::vector<uint32_t>* slots) = 0;
  virtual bool StillPresent(uint32_t slot) = 0;
  // Fills the record (zeroed before); the status is not the scan's concern.
  virtual void ReadDeviceInfo(uint32_t slot, std::vector<uint8_t>* record) = 0;
  // Tells the key whether the font library may be used: parameter 33's bit 0x20 and the
  // install folder's font map.
  virtual void UpdateFontLibrary(uint32_t slot) = 0;
  // CSP and personal store.
  virtual bool EnumContainers(const std::string& token_path, std::vector<std::string>* names) = 0;
  virtual bool GetContainerKey(const std::string& container, uint32_t key_spec,
                               ContainerKey* key) = 0;
  virtual void RegisterCertificate(const std::string& container, uint32_t key_spec,
                                   const std::vector<uint8_t>& certificate) = 0;
  // Selector as DeleteStoredCertificates takes it; an empty prefix is no prefix.
  virtual void DeleteCertificates(const std::string& prefix, int selector) = 0;
  // Logs, registry, broadcast.
  virtual void WriteUsageRecord(UsageEvent event, const std::string& serial) = 0;
  virtual void AppendDiagRecord(const std::string& serial, const char* name) = 0;
  virtual void WriteMachineValue(const std::string& name, uint32_t data) = 0;
  virtual void DeleteUiLanguage() = 0;
  virtual void Broadcast(uint32_t wparam) = 0;
};

class KeyScanner {
 public:
  explicit KeyScanner(ScanEnvironment& env) : env_(env) {}

  // One scan for `code`: the number of keys found gone, or -1 when the slot list is
  // unreadable (then nothing else happens).
  int Scan(uint32_t code);
  // Every record freed (the monitor ends).
  void Clear() { records_.clear(); }
  const std::vector<KeyRecord>& records() const { return records_; }

 private:
  void RegisterKey(bool special_model, const std::string& prefix, const std::string& token_path);

  ScanEnvironment& env_;
  std::vector<KeyRecord> records_;
};

// Container paths of a key.
std::string TokenPath(uint32_t slot);
std::string ContainerPrefix(const std::string& identifier);

}  // namespace koba::traymon
