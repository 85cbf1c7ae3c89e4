// Feeds arbitrary texts to the argument grammar, the value rules and the file text rule.
#include <cstddef>
#include <cstdint>
#include <string>

#include "file_text.h"
#include "reg_args.h"
#include "value_rules.h"

using namespace koba::installer;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2)
    return 0;
  const std::string bytes(reinterpret_cast<const char*>(data) + 2, size - 2);
  const std::wstring wide(bytes.begin(), bytes.end());

  RegArgGrammar grammar(static_cast<RegExport>(data[0] % 8), data[1] & 1);
  size_t start = 0;
  for (size_t i = 0; i <= wide.size(); ++i) {
    if (i == wide.size() || wide[i] == L'|') {
      if (grammar.Feed(std::wstring_view(wide).substr(start, i - start), data[1] & 2) !=
          RegArgGrammar::Step::kMore)
        break;
      start = i + 1;
    }
  }

  ParseDecimalDword(wide);
  const std::vector<uint8_t> parsed = ParseHexBytes(wide);
  if (FormatHexBytes(parsed.data(), parsed.size()).size() != parsed.size() * 2)
    __builtin_trap();
  const Version version = ParseVersion(bytes);
  if (IsOlderAtAnyPlace(version, version))
    __builtin_trap();

  const size_t split = data[1] % (bytes.size() + 1);
  std::string content = bytes.substr(split);
  const std::string text = bytes.substr(0, split % 8);
  const size_t before = content.size();
  const bool removed = RemoveTextEverywhere(&content, text);
  if (removed != (content.size() != before))
    __builtin_trap();
  return 0;
}
