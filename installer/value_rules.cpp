#include "value_rules.h"

#include <limits>

#include "text_encoding.h"

namespace koba::installer {
namespace {

constexpr uint64_t kSaturated = std::numeric_limits<uint32_t>::max();

uint32_t PieceNumber(std::string_view piece) {
  uint64_t sum = 0;
  for (size_t i = 0; i < piece.size(); ++i) {
    const char c = piece[i];
    if (c < '0' || c > '9' || c == '0')
      continue;
    uint64_t term = static_cast<uint64_t>(c - '0');
    for (size_t places = piece.size() - 1 - i; places > 0 && term <= kSaturated; --places)
      term *= 10;
    sum += term;
    if (sum > kSaturated)
      return static_cast<uint32_t>(kSaturated);
  }
  return static_cast<uint32_t>(sum);
}

}  // namespace

uint32_t ParseDecimalDword(std::wstring_view text) {
  size_t i = 0;
  const bool negative = !text.empty() && text[0] == L'-';
  if (negative)
    i = 1;
  uint32_t value = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i)
    value = value * 10u + static_cast<uint32_t>(text[i] - L'0');
  return negative ? 0u - value : value;
}

std::vector<uint8_t> ParseHexBytes(std::wstring_view text) {
  std::vector<uint8_t> bytes;
  bytes.reserve((text.size() + 1) / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = koba::text::HexDigitValue(text[i]);
    const int low = i + 1 < text.size() ? koba::text::HexDigitValue(text[i + 1]) : 0;
    if (high < 0 || low < 0)
      return {};
    bytes.push_back(static_cast<uint8_t>(high << 4 | low));
  }
  return bytes;
}

std::wstring FormatHexBytes(const uint8_t* bytes, size_t size) {
  return text::HexUpperWide(bytes, size);
}

Version ParseVersion(std::string_view text) {
  Version version{};
  for (size_t place = 0; place < version.size() && !text.empty(); ++place) {
    size_t end = place + 1 < version.size() ? text.find_first_of(".,") : std::string_view::npos;
    version[place] = PieceNumber(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  }
  return version;
}

bool IsOlderAtAnyPlace(const Version& installed, const Version& required) {
  for (size_t i = 0; i < installed.size(); ++i) {
    if (installed[i] < required[i])
      return true;
  }
  return false;
}

}  // namespace koba::installer
