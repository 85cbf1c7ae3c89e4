// Feeds arbitrary bytes to the host loop as its standard input and checks every reply it
// writes: a well-framed JSON object with the reply envelope, never a crash or a lost frame.
#include <rapidjson/document.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dispatcher.h"
#include "loop.h"

namespace {

const koba::host::ActionTable& Table() {
  static const koba::host::ActionTable table{
      koba::host::IsExtensionOkAction(),
      koba::host::TextAction("Echo", {{"text"}}, 64,
                             [](const koba::host::Args& a, char* out, size_t cap) {
                               const auto s = a.Str(0);
                               std::memcpy(out, s.data(), std::min(s.size(), cap - 1));
                               return 0;
                             }),
  };
  return table;
}

void CheckReplies(const std::string& out) {
  size_t pos = 0;
  while (pos < out.size()) {
    if (out.size() - pos < 4)
      std::abort();
    uint32_t n = 0;
    for (int i = 3; i >= 0; --i)
      n = n << 8 | static_cast<unsigned char>(out[pos + i]);
    pos += 4;
    if (n > out.size() - pos)
      std::abort();
    const std::string reply = out.substr(pos, n);
    rapidjson::Document doc;
    doc.Parse<rapidjson::kParseValidateEncodingFlag>(reply.c_str());
    if (doc.HasParseError() || !doc.IsObject() || !doc.HasMember("tabID") ||
        !doc.HasMember("IsOver") || !doc.HasMember("action")) {
      std::abort();
    }
    pos += n;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::FILE* in = std::tmpfile();
  std::FILE* out = std::tmpfile();
  std::fwrite(data, 1, size, in);
  std::rewind(in);
  if (koba::host::RunHost(in, out, Table()) != -1)
    std::abort();
  std::string written(static_cast<size_t>(std::ftell(out)), '\0');
  std::rewind(out);
  if (!written.empty() && std::fread(&written[0], 1, written.size(), out) != written.size()) {
    std::abort();
  }
  std::fclose(in);
  std::fclose(out);
  CheckReplies(written);
  return 0;
}
