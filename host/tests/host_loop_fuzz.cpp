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
#include "reply.h"

namespace {

namespace host = koba::host;
using host::MemberType;

// Rows of the shapes the real table has: plain text, byte limits and exact lengths, integer and
// number members, an optional member of any type, code results and chunked results.
const host::ActionTable& Table() {
  static const host::ActionTable table{
      host::TextAction("GetMediaID", {}, 60,
                       [](const host::Args&, char* out, size_t) {
                         std::strcpy(out, "AB12");
                         return 0;
                       }),
      host::IsExtensionOkAction(),
      host::TextAction("Echo", {{"text"}}, 64,
                       [](const host::Args& a, char* out, size_t cap) {
                         const auto s = a.Str(0);
                         std::memcpy(out, s.data(), std::min(s.size(), cap - 1));
                         return 0;
                       }),
      host::CodeAction("Code", {{"code", MemberType::kInt32}},
                       [](const host::Args& a) { return a.Int(0); }),
      host::CodeAction("SignFile",
                       {{"certDN", MemberType::kString, false, 63},
                        {"hashType"},
                        {"fileP7", MemberType::kAny, true}},
                       [](const host::Args& a) { return a.Str(0).empty() ? -106 : 0; }),
      host::Action{"Pieces",
                   {{"signedFileToken", MemberType::kString, false, 0, 64},
                    {"maxLength", MemberType::kInt32},
                    {"fileOffset", MemberType::kInt32}},
                   [](const host::Args& a, const host::Reply& reply) {
                     const int32_t length = a.Int(1);
                     if (length < 0 || length > 64 || a.Int(2) < 0) {
                       reply.Number(-106);
                       return;
                     }
                     reply.Chunked(std::string(static_cast<size_t>(length), 'c'), "1");
                   }},
      // LineNum 7 answers exactly one chunk of text, which still goes in one reply (the seeds
      // leave it to the fuzzer: a megabyte per input slows every run it is mutated from).
      host::Action{"Log",
                   {{"MediaID"}, {"LineNum", MemberType::kNumber}},
                   [](const host::Args& a, const host::Reply& reply) {
                     const int32_t lines = a.Int(1);
                     reply.Chunked(std::string(lines == 7 ? host::kChunkBytes : 16, 'l'));
                   }},
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
  if (size == 0)
    return 0;  // a memory stream cannot be empty; an empty input ends the loop at once anyway
  // Memory streams: the loop reads and writes as it would its standard streams.
  std::FILE* in = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  char* written = nullptr;
  size_t written_size = 0;
  std::FILE* out = open_memstream(&written, &written_size);
  if (in == nullptr || out == nullptr)
    std::abort();
  if (koba::host::RunHost(in, out, Table()) != -1)
    std::abort();
  std::fclose(in);
  std::fclose(out);
  const std::string replies(written, written_size);
  std::free(written);
  CheckReplies(replies);
  return 0;
}
