// The owner-window rules and the waiting window's text rules on arbitrary UTF-16 text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "owner_rules.h"
#include "wait_layout.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string text(size / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
  const std::u16string_view name = VKey::ExecutableFileName(text);
  if (name.size() > text.size())
    std::abort();
  VKey::OwnerSourceFor(name);
  VKey::DropsForeignOwner(name);
  VKey::IsEdgePageTitle(text);
  if (VKey::WaitingTitle(text).size() > text.size())
    std::abort();
  VKey::WaitingMessage(text);
  VKey::WaitingParagraph(text);
  return 0;
}
