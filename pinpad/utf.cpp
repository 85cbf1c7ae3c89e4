#include "utf.h"

namespace VKey {

bool Utf8ToUtf16(std::string_view in, std::u16string* out) {
  std::u16string result;
  result.reserve(in.size());
  size_t i = 0;
  while (i < in.size()) {
    const auto lead = static_cast<unsigned char>(in[i]);
    size_t extra;
    char32_t cp;
    char32_t minimum;
    if (lead < 0x80) {
      result.push_back(lead);
      ++i;
      continue;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1, cp = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2, cp = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3, cp = lead & 0x07, minimum = 0x10000;
    } else {
      return false;
    }
    if (in.size() - i <= extra) {
      return false;
    }
    for (size_t k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(in[i + k]);
      if ((next & 0xC0) != 0x80) {
        return false;
      }
      cp = (cp << 6) | (next & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      result.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      result.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      result.push_back(static_cast<char16_t>(cp));
    }
    i += extra + 1;
  }
  *out = std::move(result);
  return true;
}

bool Utf16ToUtf8(std::u16string_view in, std::string* out) {
  std::string result;
  result.reserve(in.size() * 3);
  for (size_t i = 0; i < in.size(); ++i) {
    char32_t cp = in[i];
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      if (i + 1 >= in.size() || in[i + 1] < 0xDC00 || in[i + 1] > 0xDFFF) {
        return false;
      }
      cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
      return false;
    }
    if (cp < 0x80) {
      result.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      result.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      result.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      result.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      result.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      result.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      result.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      result.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      result.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      result.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  *out = std::move(result);
  return true;
}

}  // namespace VKey
