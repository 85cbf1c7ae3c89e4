// The enrolment request parser takes any page text without reading outside it; what it
// accepts keeps the grammar's limits.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "enrol_request.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<koba::core::EnrolRequest> requests;
  if (koba::core::ParseEnrolRequests(text, &requests)) {
    if (requests.empty() || requests.size() > 2)
      std::abort();
    for (const auto& r : requests) {
      if (r.common_name.empty() || r.common_name.size() > koba::core::kMaxCommonName ||
          r.certificate_type < 1 || r.certificate_type > 3 ||
          (r.key_bits == 256 && r.certificate_type == 2))
        std::abort();
    }
  }
  return 0;
}
