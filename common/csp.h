// The key's CryptoAPI provider called directly through its CSP entry points: the binding and
// the container operations the token core, the tray monitor, the page helper and the tool use.
#pragma once

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "csp_api.h"

namespace koba::csp {

// What GetContainerKeyInfo reports of one key of a container.
struct KeyInfo {
  uint32_t key_spec = 0;
  uint32_t certificate_kind = 0;
  uint32_t key_algorithm = 0;
  uint8_t key_type = 0;
  std::vector<uint8_t> public_key;
  std::vector<uint8_t> certificate;  // empty when the key has none
};

// No list that names containers can show more than this many: the longest one holds 12288
// bytes and every container takes at least 48 of them (key id, Base64 key, separator). A
// provider that goes on naming containers is not followed further.
constexpr size_t kMaxContainerNames = 256;

// The buffers callers give the key-information call.
constexpr uint32_t kKeyInfoPublicKeyCapacity = 400;
constexpr uint32_t kKeyInfoCertificateCapacity = 4096;

class CspInterface {
 public:
  // The provider from the system folder.
  CspInterface();
  explicit CspInterface(std::wstring library_path);
  ~CspInterface();
  CspInterface(const CspInterface&) = delete;
  CspInterface& operator=(const CspInterface&) = delete;

  // The container names of a reader path ("\\.\Korvanet VexloToken <slot>\"), in the
  // provider's order, at most kMaxContainerNames of them. Returns 0, or the provider's last
  // error.
  uint32_t EnumContainerNames(const std::string& reader_path, std::vector<std::string>* names);
  // The key of `key_spec` (1 exchange, 2 signature) in the container at `container_path`.
  uint32_t GetContainerKeyInfo(const std::string& container_path, uint32_t key_spec, KeyInfo* info,
                               uint32_t public_key_capacity = kKeyInfoPublicKeyCapacity,
                               uint32_t certificate_capacity = kKeyInfoCertificateCapacity);
  uint32_t ExportUserPublicKey(const std::string& container_path, uint32_t key_spec,
                               std::vector<uint8_t>* blob);
  uint32_t GetUserKeyCertificate(const std::string& container_path, uint32_t key_spec,
                                 std::vector<uint8_t>* certificate);
  uint32_t DeleteContainerKey(const std::string& container_path, uint32_t key_spec);
  // The batch calls take the record as the provider defines it (no context).
  uint32_t DeleteKeyBatch(BatchRecord* record);
  uint32_t ListKeyBatch(BatchRecord* record);

 private:
  class Context;
  bool Load();
  // A batch call: no context, the record and the address of its size.
  uint32_t Batch(uint32_t param, BatchRecord* record);
  template <class Read>
  uint32_t ReadUserKey(const std::string& container_path, uint32_t key_spec,
                       std::vector<uint8_t>* out, Read read);

  std::wstring path_;
  std::mutex mutex_;
  HMODULE module_ = nullptr;
  PFN_CPAcquireContext acquire_ = nullptr;
  PFN_CPGetProvParam get_prov_param_ = nullptr;
  PFN_CPReleaseContext release_ = nullptr;
  PFN_CPGetUserKey get_user_key_ = nullptr;
  PFN_CPExportKey export_key_ = nullptr;
  PFN_CPGetKeyParam get_key_param_ = nullptr;
  PFN_CPDestroyKey destroy_key_ = nullptr;
};

// The process-wide binding of the system folder's provider.
CspInterface& SystemCsp();

// Container paths of a key.
std::string ReaderPath(uint32_t slot);
std::string ContainerPrefix(const std::string& identifier16);

}  // namespace koba::csp
