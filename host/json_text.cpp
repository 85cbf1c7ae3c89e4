#include "json_text.h"

#include <cstdint>

namespace koba::host {
namespace {

// Length of the well-formed UTF-8 sequence at the start of `s`, or 0 when it is not one
// (overlong forms, surrogates and values above U+10FFFF are not well-formed).
size_t Utf8SequenceLength(std::string_view s) {
  const auto b0 = static_cast<uint8_t>(s[0]);
  size_t len;
  uint32_t lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (b0 < 0x80)
    return 1;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    if (b0 == 0xE0)
      lo = 0xA0;
    if (b0 == 0xED)
      hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    if (b0 == 0xF0)
      lo = 0x90;
    if (b0 == 0xF4)
      hi = 0x8F;
  } else {
    return 0;
  }
  if (s.size() < len)
    return 0;
  const auto b1 = static_cast<uint8_t>(s[1]);
  if (b1 < lo || b1 > hi)
    return 0;
  for (size_t i = 2; i < len; ++i) {
    if ((static_cast<uint8_t>(s[i]) & 0xC0) != 0x80)
      return 0;
  }
  return len;
}

}  // namespace

void AppendJsonEscaped(std::string& out, std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  out.reserve(out.size() + text.size());
  while (!text.empty()) {
    const auto c = static_cast<uint8_t>(text[0]);
    if (c >= 0x80) {
      const size_t len = Utf8SequenceLength(text);
      if (len == 0) {
        out += "\\ufffd";
        text.remove_prefix(1);
      } else {
        out.append(text.data(), len);
        text.remove_prefix(len);
      }
      continue;
    }
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 0xF];
        } else {
          out += static_cast<char>(c);
        }
    }
    text.remove_prefix(1);
  }
}

}  // namespace koba::host
