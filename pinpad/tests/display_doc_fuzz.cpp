// Feeds arbitrary bytes to the signing display's document reader, in both charsets, with and
// without rows and a highlight list taken from the input's tail.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "display_doc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t split = size / 4 * 3;
  const VKey::MeasureText measure = [](std::u16string_view text, bool bold) {
    return static_cast<int>(text.size()) * (bold ? 2 : 1);
  };
  VKey::DisplayRows rows;
  for (const bool utf8 : {true, false}) {
    VKey::ReadDisplayDocument(utf8, input, {}, nullptr, nullptr);
    VKey::ReadDisplayDocument(utf8, input.substr(0, split), input.substr(split), &measure, &rows);
  }
  return 0;
}
