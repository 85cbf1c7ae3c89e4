// Feeds arbitrary bytes to the converters and the log reader: no crash, no overread, and every
// accepted input survives a round trip.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "log_text.h"
#include "text_encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string in(reinterpret_cast<const char*>(data), size);
  std::u16string u16;
  std::string back;
  if (koba::text::Gb18030ToUtf16(in, &u16) &&
      (!koba::text::Utf16ToGb18030(u16, &back) || back != in))
    std::abort();
  if (koba::text::Utf8ToUtf16(in, &u16) && (!koba::text::Utf16ToUtf8(u16, &back) || back != in))
    std::abort();
  if (koba::text::Base64Decode(in, &back) && koba::text::Base64Encode(back) != in)
    std::abort();
  const std::string tail = koba::diaglog::TailText(in, static_cast<int>(size % 50) - 5);
  if (tail.size() > in.size())
    std::abort();
  const size_t cut = koba::diaglog::TrimOffset(in);
  if (cut != std::string::npos && cut >= in.size())
    std::abort();
  return 0;
}
