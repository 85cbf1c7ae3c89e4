// The PKCS#7 reply text preparation takes any page text; it never grows a part by more than
// its line feeds and keeps the parts inside the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "pkcs7_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> parts;
  if (!koba::core::SplitPkcs7Parts(text, &parts))
    return 0;
  if (parts.empty() || parts.size() > 2)
    std::abort();
  for (std::string_view part : parts) {
    const std::string prepared = koba::core::PreparePkcs7Text(part);
    if (prepared.size() > part.size() + part.size() / 64 + 1)
      std::abort();
  }
  return 0;
}
