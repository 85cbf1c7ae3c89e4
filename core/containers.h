// Walking a key's containers through the CSP, and the device facts most operations start
// from: the opened device's handle and the administrator flag.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "csp.h"
#include "token_api.h"
#include "token_core.h"

namespace koba::core {

inline uint32_t DeviceHandle(uint32_t slot) {
  return slot | token::kTokenHandleFlag;
}

// The key's 16-character identifier in its device information, which names its containers
// ("\\.\Korvanet <identifier>\<container>").
inline std::string DeviceIdentifier(const DeviceInfo& info) {
  return std::string(reinterpret_cast<const char*>(info.data() + token::devinfo::kDeviceId), 16);
}

// Device parameter 100303; a failed read leaves it 0 (a user key).
inline uint32_t AdminFlag(TokenCore& core, uint32_t slot) {
  int32_t flag = 0;
  core.api().ManTokenParam(DeviceHandle(slot), token::kParamAdminFlag, &flag);
  return static_cast<uint32_t>(flag);
}

// The device mode check: an administrator key must carry "00" at the third and fourth
// characters of its information text (parameter 19). A flag that cannot be read counts as a
// user key, which passes.
inline bool PassesModeCheck(TokenCore& core, uint32_t slot) {
  if (AdminFlag(core, slot) != 1)
    return true;
  char info[token::kAdminInfoSize + 1] = {};
  core.api().ManTokenParam(DeviceHandle(slot), token::kParamAdminInfo, info);
  return info[2] == '0' && info[3] == '0';
}

// Runs `fn(container_name, key)` for every container of the key in `slot` and each key spec
// (1, then 2) whose key information can be read; returns the enumeration's status.
template <class Fn>
uint32_t ForEachContainerKey(csp::CspInterface& csp, uint32_t slot, Fn fn,
                             uint32_t key_capacity = csp::kKeyInfoPublicKeyCapacity,
                             uint32_t certificate_capacity = csp::kKeyInfoCertificateCapacity) {
  constexpr uint32_t kKeySpecs[] = {token::kKeySpecExchange, token::kKeySpecSignature};
  const std::string reader = csp::ReaderPath(slot);
  std::vector<std::string> names;
  const uint32_t status = csp.EnumContainerNames(reader, &names);
  for (const std::string& name : names) {
    for (uint32_t spec : kKeySpecs) {
      csp::KeyInfo key;
      if (csp.GetContainerKeyInfo(reader + name, spec, &key, key_capacity, certificate_capacity) ==
          0) {
        fn(name, key);
      }
    }
  }
  return status;
}

}  // namespace koba::core
