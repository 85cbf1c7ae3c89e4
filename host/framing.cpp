#include "framing.h"

#include <algorithm>
#include <new>
#include <string>

namespace koba::host {
namespace {

constexpr size_t kReadPiece = 1 << 20;

// Reads and drops `count` bytes; stops early at end of input.
void Discard(std::FILE* in, size_t count) {
  char scratch[4096];
  while (count > 0) {
    const size_t got = std::fread(scratch, 1, std::min(count, sizeof scratch), in);
    if (got == 0)
      return;
    count -= got;
  }
}

// Reads up to `length` payload bytes. The buffer grows with what actually arrives, so a frame
// that announces more than it carries costs only what it carries.
bool ReadPayload(std::FILE* in, size_t length, std::string& text) {
  try {
    while (text.size() < length) {
      const size_t want = std::min(kReadPiece, length - text.size());
      const size_t old = text.size();
      text.resize(old + want);
      const size_t got = std::fread(&text[old], 1, want, in);
      text.resize(old + got);
      if (got < want)
        break;  // end of input inside the payload
    }
    return true;
  } catch (const std::bad_alloc&) {
    const size_t held = text.size();
    std::string().swap(text);
    Discard(in, length - held);
    return false;
  }
}

}  // namespace

bool WithinRequestBounds(const char* text) {
  int depth = 0;
  // Every value but the first follows a comma or a colon, or opens a string or container;
  // counting those bounds what the parser can build.
  size_t values = 1;
  bool in_string = false;
  for (const char* p = text; *p != '\0'; ++p) {
    const char c = *p;
    if (in_string) {
      if (c == '\\' && p[1] != '\0') {
        ++p;
      } else if (c == '"') {
        in_string = false;
      }
      continue;
    }
    switch (c) {
      case '"':
        in_string = true;
        ++values;
        break;
      case '[':
      case '{':
        if (++depth > kMaxRequestDepth)
          return false;
        ++values;
        break;
      case ']':
      case '}':
        if (depth > 0)
          --depth;
        break;
      case ',':
      case ':':
        ++values;
        break;
      default:
        continue;
    }
    if (values > kMaxRequestValues)
      return false;
  }
  return true;
}

int ReadRequest(std::FILE* in, rapidjson::Document& doc) {
  unsigned char prefix[4] = {0, 0, 0, 0};
  if (std::fread(prefix, 1, 4, in) != 4)
    return -1;
  const auto length = static_cast<int32_t>(
      static_cast<uint32_t>(prefix[0]) | static_cast<uint32_t>(prefix[1]) << 8 |
      static_cast<uint32_t>(prefix[2]) << 16 | static_cast<uint32_t>(prefix[3]) << 24);
  if (length <= 0)
    return -1;

  // A fresh document per request, swapped in: the old one's memory pool goes with it.
  rapidjson::Document parsed;
  if (length > kMaxRequestBytes) {
    Discard(in, static_cast<size_t>(length));
  } else {
    std::string text;
    if (ReadPayload(in, static_cast<size_t>(length), text)) {
      // The text ends at its first NUL byte, as a C string would. The iterative parser accepts
      // exactly what the recursive one does but needs no machine stack, so deeply nested
      // input cannot overflow it.
      if (WithinRequestBounds(text.c_str())) {
        parsed.Parse<rapidjson::kParseIterativeFlag>(text.c_str());
        if (parsed.HasParseError())
          parsed.SetNull();
      }
    }
  }
  doc.Swap(parsed);
  return 0;
}

void WriteReply(std::FILE* out, std::string_view reply) {
  const auto n = static_cast<uint32_t>(reply.size());
  std::string frame;
  frame.reserve(reply.size() + 4);
  frame += static_cast<char>(n & 0xFF);
  frame += static_cast<char>((n >> 8) & 0xFF);
  frame += static_cast<char>((n >> 16) & 0xFF);
  frame += static_cast<char>((n >> 24) & 0xFF);
  frame.append(reply);
  std::fwrite(frame.data(), 1, frame.size(), out);
  std::fflush(out);
}

}  // namespace koba::host
