#include "key_lists.h"

#include "text_encoding.h"

namespace koba::pagehelper {
namespace {

constexpr size_t kWorkBufferBytes = 512;
constexpr char kHeader1024[] = "\x30\x81\x89\x02\x81\x81\x00";
constexpr char kHeader2048[] = "\x30\x82\x01\x0A\x02\x82\x01\x01\x00";
constexpr char kExponent[] = "\x02\x03\x01\x00\x01";

uint32_t ReadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string text;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i != 0)
      text += "||";
    text += parts[i];
  }
  return text;
}

}  // namespace

bool ParseKeyList(const uint8_t* data, size_t size, std::vector<std::string_view>* entries) {
  entries->clear();
  if (size < 4)
    return false;
  const uint32_t total = ReadLe32(data);
  if (total > size - 4)
    return false;
  size_t at = 4;
  const size_t end = 4 + static_cast<size_t>(total);
  while (at < end) {
    if (end - at < 4) {
      entries->clear();
      return false;
    }
    const uint32_t length = ReadLe32(data + at);
    at += 4;
    if (length > end - at) {
      entries->clear();
      return false;
    }
    entries->emplace_back(reinterpret_cast<const char*>(data + at), length);
    at += length;
  }
  return true;
}

bool RsaPublicKeyText(const std::vector<std::string_view>& moduli, std::string* text) {
  std::vector<std::string> parts;
  for (std::string_view modulus : moduli) {
    std::string_view header;
    if (modulus.size() == 128)
      header = std::string_view(kHeader1024, sizeof kHeader1024 - 1);
    else if (modulus.size() == 256)
      header = std::string_view(kHeader2048, sizeof kHeader2048 - 1);
    const std::string_view exponent(kExponent, sizeof kExponent - 1);
    if (header.size() + modulus.size() + exponent.size() > kWorkBufferBytes) {
      text->clear();
      return false;
    }
    std::string der;
    der.append(header).append(modulus).append(exponent);
    parts.push_back(text::Base64Encode(der));
  }
  *text = Joined(parts);
  return true;
}

std::string KeyListText(const std::vector<std::string_view>& entries) {
  std::vector<std::string> parts;
  for (std::string_view entry : entries) {
    std::string part;
    for (char c : entry) {
      if (c != '\0')
        part += c;
    }
    parts.push_back(std::move(part));
  }
  return Joined(parts);
}

}  // namespace koba::pagehelper
