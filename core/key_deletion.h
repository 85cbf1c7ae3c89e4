// Deleting key pairs: the batch an administrator key deletes through in one confirmation, and
// the mappings of the provider's deletion statuses to result codes. Windows-free.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "csp_api.h"

namespace koba::core {

// The full mapping (temporary keys, GMJudgeAndDelOlderDN): 0 → 0, cancelled -100, timeout
// -105, no key -102, locked -221, session gone -393, anything else -300.
int MapDeletionStatus(uint32_t status);
// The shorter mapping of GMWritePKCS7 and GMDelTempKey: cancelled -100, timeout -105, any
// other failure -300.
int MapShortDeletionStatus(uint32_t status);

// Key pairs to delete together: per entry a length byte and the container name in the list,
// the key-type byte and the key spec in the two arrays.
class DeletionBatch {
 public:
  explicit DeletionBatch(uint32_t slot);
  DeletionBatch(const DeletionBatch&) = delete;
  DeletionBatch& operator=(const DeletionBatch&) = delete;

  // False when the batch is full or the name does not fit; nothing is added then.
  bool Add(std::string_view container, uint8_t key_type, uint8_t key_spec);
  bool Contains(std::string_view container, uint8_t key_spec) const;
  bool empty() const { return record_.count == 0; }
  uint32_t count() const { return record_.count; }
  // The record for DeleteKeyBatch; it points into this batch.
  csp::BatchRecord* record() { return &record_; }

 private:
  std::array<uint8_t, csp::kBatchListCapacity> list_{};
  std::array<uint8_t, csp::kBatchEntries> key_types_{};
  std::array<uint8_t, csp::kBatchEntries> key_specs_{};
  csp::BatchRecord record_{};
};

}  // namespace koba::core
