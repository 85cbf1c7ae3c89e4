#include "key_deletion.h"

#include <cstring>

#include "token_api.h"

namespace koba::core {

int MapDeletionStatus(uint32_t status) {
  switch (status) {
    case 0:
      return 0;
    case csp::kErrorCancelled:
      return -100;
    case token::kStatusTimeout:
    case csp::kErrorTimeout:
      return -105;
    case csp::kErrorNoDevice:
      return -102;
    case token::kStatusPinLocked:
    case csp::kErrorLocked:
      return -221;
    case token::kStatusEnvironment:
      return -393;
    default:
      return -300;
  }
}

int MapShortDeletionStatus(uint32_t status) {
  switch (status) {
    case 0:
      return 0;
    case csp::kErrorCancelled:
      return -100;
    case csp::kErrorTimeout:
      return -105;
    default:
      return -300;
  }
}

DeletionBatch::DeletionBatch(uint32_t slot) {
  record_.slot = slot;
  record_.list = list_.data();
  record_.key_types = key_types_.data();
  record_.key_specs = key_specs_.data();
}

bool DeletionBatch::Add(std::string_view container, uint8_t key_type, uint8_t key_spec) {
  // A length byte, the name, and room for the list's final NUL.
  if (container.empty() || container.size() > 255 || record_.count == csp::kBatchEntries ||
      record_.list_length + 1 + container.size() + 1 > list_.size()) {
    return false;
  }
  // The previous entry's terminator becomes this entry's length byte.
  size_t pos = record_.list_length == 0 ? 0 : record_.list_length - 1;
  list_[pos++] = static_cast<uint8_t>(container.size());
  std::memcpy(list_.data() + pos, container.data(), container.size());
  pos += container.size();
  list_[pos++] = 0;
  record_.list_length = static_cast<uint32_t>(pos);
  key_types_[record_.count] = key_type;
  key_specs_[record_.count] = key_spec;
  ++record_.count;
  return true;
}

bool DeletionBatch::Contains(std::string_view container, uint8_t key_spec) const {
  size_t pos = 0;
  for (uint32_t i = 0; i < record_.count; ++i) {
    const size_t n = list_[pos];
    if (key_specs_[i] == key_spec &&
        std::string_view(reinterpret_cast<const char*>(list_.data() + pos + 1), n) == container) {
      return true;
    }
    pos += 1 + n;
  }
  return false;
}

}  // namespace koba::core
