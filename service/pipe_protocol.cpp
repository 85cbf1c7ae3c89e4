#include "pipe_protocol.h"

#include <cstring>

namespace koba::service {
namespace {

bool ContainsNoCase(std::string_view text, std::string_view needle) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  if (needle.size() > text.size())
    return false;
  for (size_t i = 0; i + needle.size() <= text.size(); ++i) {
    size_t j = 0;
    while (j < needle.size() && lower(text[i + j]) == needle[j])
      ++j;
    if (j == needle.size())
      return true;
  }
  return false;
}

}  // namespace

bool IsListRequest(const uint8_t* request, size_t length) {
  return length == kListRequestSize && std::memcmp(request, kListRequest, kListRequestSize) == 0;
}

std::wstring KeyPipeName(std::wstring_view device_path) {
  std::wstring name(kPipeNamePrefix);
  if (device_path.size() > 4)
    name.append(device_path.substr(4));
  return name;
}

bool IsKeyDevicePath(std::string_view path) {
  return ContainsNoCase(path, "&ven_korvanet") && ContainsNoCase(path, "&rev_1.");
}

PathList::PathList(char* buffer, size_t capacity) : buffer_(buffer), capacity_(capacity) {}

bool PathList::Append(std::string_view path) {
  if (path.empty() || path.find('\0') != std::string_view::npos)
    return false;
  if (capacity_ < 1 || path.size() + 1 > capacity_ - 1 - used_)
    return false;
  std::memcpy(buffer_ + used_, path.data(), path.size());
  used_ += path.size();
  buffer_[used_++] = '\0';
  return true;
}

size_t PathList::Finish() {
  if (capacity_ == 0)
    return 0;
  buffer_[used_] = '\0';
  return used_ + 1;
}

size_t ExpectedLength(const uint8_t* apdu, size_t length) {
  if (length >= 7 && apdu[4] == 0)
    return (static_cast<size_t>(apdu[5]) << 8 | apdu[6]) + 16;
  if (length == 5 && apdu[4] != 0)
    return apdu[4];
  return 0;
}

}  // namespace koba::service
