#include "text_encoding.h"

#include <array>
#include <memory>

namespace koba::text {
namespace {

#include "gb18030_two_byte.inc"

constexpr size_t kTrailCount = 190;              // 0x40-0x7E and 0x80-0xFE
constexpr uint32_t kBmpFourByte = 39420;         // four-byte codes 0x81308130 .. 0x8431A439
constexpr uint32_t kSupplementaryBase = 189000;  // linear index of 0x90308130

bool IsSurrogate(uint32_t cp) {
  return cp >= 0xD800 && cp <= 0xDFFF;
}

// Appends the UTF-16 form of a valid code point.
void PutUtf16(uint32_t cp, std::u16string* out) {
  if (cp < 0x10000) {
    out->push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

// Reads one code point from UTF-16 at `i`; false for an unpaired surrogate.
bool GetUtf16(std::u16string_view in, size_t* i, uint32_t* cp) {
  const uint32_t u = in[*i];
  if (u >= 0xD800 && u <= 0xDBFF) {
    if (*i + 1 >= in.size() || in[*i + 1] < 0xDC00 || in[*i + 1] > 0xDFFF)
      return false;
    *cp = 0x10000 + ((u - 0xD800) << 10) + (in[*i + 1] - 0xDC00);
    *i += 2;
    return true;
  }
  if (u >= 0xDC00 && u <= 0xDFFF)
    return false;
  *cp = u;
  *i += 1;
  return true;
}

// The code page's mapping of the basic plane beyond ASCII, built once from the two-byte table:
// the four-byte codes take, in order, every code point that no one- or two-byte code covers.
struct Gb18030Tables {
  // Code point -> two-byte code (high byte lead), or 0x80000000 | four-byte linear index.
  std::array<uint32_t, 0x10000> encode{};
  // Four-byte linear index -> code point.
  std::array<uint16_t, kBmpFourByte> four_byte{};

  Gb18030Tables() {
    for (size_t i = 0; i < std::size(kTwoByte); ++i) {
      const uint32_t lead = 0x81 + static_cast<uint32_t>(i / kTrailCount);
      const uint32_t t = static_cast<uint32_t>(i % kTrailCount);
      encode[kTwoByte[i]] = (lead << 8) | (t < 0x3F ? 0x40 + t : 0x41 + t);
    }
    uint32_t index = 0;
    for (uint32_t cp = 0x80; cp <= 0xFFFF; ++cp) {
      if (IsSurrogate(cp) || encode[cp] != 0)
        continue;
      four_byte[index] = static_cast<uint16_t>(cp);
      encode[cp] = 0x80000000u | index;
      ++index;
    }
  }
};

const Gb18030Tables& Tables() {
  static const auto tables = std::make_unique<Gb18030Tables>();
  return *tables;
}

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z')
    return c - 'A';
  if (c >= 'a' && c <= 'z')
    return c - 'a' + 26;
  if (c >= '0' && c <= '9')
    return c - '0' + 52;
  if (c == '+')
    return 62;
  if (c == '/')
    return 63;
  return -1;
}

}  // namespace

bool Utf8ToUtf16(std::string_view in, std::u16string* out) {
  out->clear();
  out->reserve(in.size());
  size_t i = 0;
  while (i < in.size()) {
    const auto b0 = static_cast<uint8_t>(in[i]);
    uint32_t cp = 0;
    size_t n = 0;
    uint32_t min = 0;
    if (b0 < 0x80) {
      cp = b0;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
      cp = b0 & 0x1F, n = 1, min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      cp = b0 & 0x0F, n = 2, min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      cp = b0 & 0x07, n = 3, min = 0x10000;
    } else {
      out->clear();
      return false;
    }
    if (in.size() - i - 1 < n) {
      out->clear();
      return false;
    }
    for (size_t k = 1; k <= n; ++k) {
      const auto b = static_cast<uint8_t>(in[i + k]);
      if ((b & 0xC0) != 0x80) {
        out->clear();
        return false;
      }
      cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || IsSurrogate(cp)) {
      out->clear();
      return false;
    }
    PutUtf16(cp, out);
    i += n + 1;
  }
  return true;
}

bool Utf16ToUtf8(std::u16string_view in, std::string* out) {
  out->clear();
  out->reserve(in.size());
  size_t i = 0;
  while (i < in.size()) {
    uint32_t cp = 0;
    if (!GetUtf16(in, &i, &cp)) {
      out->clear();
      return false;
    }
    if (cp < 0x80) {
      out->push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return true;
}

bool Gb18030ToUtf16(std::string_view in, std::u16string* out) {
  const Gb18030Tables& t = Tables();
  out->clear();
  out->reserve(in.size());
  size_t i = 0;
  auto fail = [out] {
    out->clear();
    return false;
  };
  while (i < in.size()) {
    const auto b0 = static_cast<uint8_t>(in[i]);
    if (b0 < 0x80) {
      out->push_back(b0);
      ++i;
      continue;
    }
    if (b0 == 0x80 || b0 == 0xFF || i + 1 >= in.size())
      return fail();
    const auto b1 = static_cast<uint8_t>(in[i + 1]);
    if (b1 >= 0x30 && b1 <= 0x39) {
      if (in.size() - i < 4)
        return fail();
      const auto b2 = static_cast<uint8_t>(in[i + 2]);
      const auto b3 = static_cast<uint8_t>(in[i + 3]);
      if (b2 < 0x81 || b2 > 0xFE || b3 < 0x30 || b3 > 0x39)
        return fail();
      const uint32_t linear =
          (((b0 - 0x81) * 10 + (b1 - 0x30)) * 126 + (b2 - 0x81)) * 10 + (b3 - 0x30);
      if (linear < kBmpFourByte) {
        out->push_back(t.four_byte[linear]);
      } else if (linear >= kSupplementaryBase && linear - kSupplementaryBase <= 0xFFFFF) {
        PutUtf16(0x10000 + (linear - kSupplementaryBase), out);
      } else {
        return fail();
      }
      i += 4;
      continue;
    }
    if (b1 < 0x40 || b1 == 0x7F || b1 == 0xFF)
      return fail();
    const size_t index = (b0 - 0x81) * kTrailCount + (b1 < 0x7F ? b1 - 0x40 : b1 - 0x41);
    out->push_back(kTwoByte[index]);
    i += 2;
  }
  return true;
}

bool Utf16ToGb18030(std::u16string_view in, std::string* out) {
  const Gb18030Tables& t = Tables();
  out->clear();
  out->reserve(in.size() * 2);
  size_t i = 0;
  while (i < in.size()) {
    uint32_t cp = 0;
    if (!GetUtf16(in, &i, &cp)) {
      out->clear();
      return false;
    }
    if (cp < 0x80) {
      out->push_back(static_cast<char>(cp));
      continue;
    }
    uint32_t linear = 0;
    if (cp >= 0x10000) {
      linear = kSupplementaryBase + (cp - 0x10000);
    } else if (const uint32_t code = t.encode[cp]; (code & 0x80000000u) == 0) {
      out->push_back(static_cast<char>(code >> 8));
      out->push_back(static_cast<char>(code & 0xFF));
      continue;
    } else {
      linear = code & 0x7FFFFFFFu;
    }
    const char bytes[4] = {
        static_cast<char>(0x81 + linear / 12600), static_cast<char>(0x30 + linear / 1260 % 10),
        static_cast<char>(0x81 + linear / 10 % 126), static_cast<char>(0x30 + linear % 10)};
    out->append(bytes, 4);
  }
  return true;
}

size_t Base64EncodedSize(size_t n) {
  return (n + 2) / 3 * 4;
}

void Base64EncodeTo(std::string_view bytes, char* out) {
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t v = (static_cast<uint8_t>(bytes[i]) << 16) |
                       (static_cast<uint8_t>(bytes[i + 1]) << 8) |
                       static_cast<uint8_t>(bytes[i + 2]);
    *out++ = kBase64Alphabet[v >> 18];
    *out++ = kBase64Alphabet[(v >> 12) & 63];
    *out++ = kBase64Alphabet[(v >> 6) & 63];
    *out++ = kBase64Alphabet[v & 63];
  }
  const size_t rest = bytes.size() - i;
  if (rest != 0) {
    uint32_t v = static_cast<uint8_t>(bytes[i]) << 16;
    if (rest == 2)
      v |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    *out++ = kBase64Alphabet[v >> 18];
    *out++ = kBase64Alphabet[(v >> 12) & 63];
    *out++ = rest == 2 ? kBase64Alphabet[(v >> 6) & 63] : '=';
    *out++ = '=';
  }
}

std::string Base64Encode(std::string_view bytes) {
  std::string out(Base64EncodedSize(bytes.size()), '\0');
  Base64EncodeTo(bytes, out.data());
  return out;
}

bool Base64Decode(std::string_view text, std::string* out) {
  out->clear();
  if (text.size() % 4 != 0)
    return false;
  out->reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    const size_t pad = last ? (text[i + 3] == '=') + (text[i + 2] == '=' && text[i + 3] == '=') : 0;
    uint32_t v = 0;
    for (size_t k = 0; k < 4; ++k) {
      const int d = k < 4 - pad ? Base64Value(text[i + k]) : 0;
      if (d < 0) {
        out->clear();
        return false;
      }
      v = (v << 6) | static_cast<uint32_t>(d);
    }
    // The bits a padded group leaves over must be zero, or two texts would decode alike.
    if ((pad == 1 && (v & 0xFF) != 0) || (pad == 2 && (v & 0xFFFF) != 0)) {
      out->clear();
      return false;
    }
    out->push_back(static_cast<char>(v >> 16));
    if (pad < 2)
      out->push_back(static_cast<char>((v >> 8) & 0xFF));
    if (pad < 1)
      out->push_back(static_cast<char>(v & 0xFF));
  }
  return true;
}

int HexDigitValue(char32_t c) {
  if (c >= U'0' && c <= U'9')
    return static_cast<int>(c - U'0');
  if (c >= U'A' && c <= U'F')
    return static_cast<int>(c - U'A' + 10);
  if (c >= U'a' && c <= U'f')
    return static_cast<int>(c - U'a' + 10);
  return -1;
}

namespace {

template <class String>
String HexUpperAs(const uint8_t* bytes, size_t size) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  String out(size * 2, '0');
  for (size_t i = 0; i < size; ++i) {
    out[2 * i] = kDigits[bytes[i] >> 4];
    out[2 * i + 1] = kDigits[bytes[i] & 0xF];
  }
  return out;
}

}  // namespace

std::string HexUpper(const uint8_t* bytes, size_t size) {
  return HexUpperAs<std::string>(bytes, size);
}

std::wstring HexUpperWide(const uint8_t* bytes, size_t size) {
  return HexUpperAs<std::wstring>(bytes, size);
}

}  // namespace koba::text
