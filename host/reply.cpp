#include "reply.h"

#include <algorithm>

#include "json_text.h"

namespace koba::host {
namespace {

// Member order and spacing follow the replies the bank's pages already parse.
std::string Head(int tab_id, bool is_over, std::string_view action) {
  std::string out = "{\"tabID\": " + std::to_string(tab_id) +
                    ",\"IsOver\": " + (is_over ? "1" : "0") + ",\"action\": \"";
  AppendJsonEscaped(out, action);
  out += "\",\"responseType\": \"";
  AppendJsonEscaped(out, action);
  out += "\"";
  return out;
}

}  // namespace

std::string TextReply(int tab_id, bool is_over, std::string_view action, std::string_view text) {
  std::string out = Head(tab_id, is_over, action);
  out.reserve(out.size() + text.size() + 24);
  out += ",\"responseData\": \"";
  AppendJsonEscaped(out, text);
  out += "\"}";
  return out;
}

std::string NumberReply(int tab_id, bool is_over, std::string_view action, int number) {
  return Head(tab_id, is_over, action) + ",\"responseData\": " + std::to_string(number) + "}";
}

std::string InvalidActionReply(int tab_id) {
  return "{\"tabID\": " + std::to_string(tab_id) +
         ",\"IsOver\": 1,\"action\": \"invalid action\","
         "\"error\":\"NativeExe: can not find \\\"type\\\" in params\"}";
}

std::string NotSupportedReply(int tab_id, std::string_view action) {
  return Head(tab_id, true, action) +
         ",\"error\":\"NativeExe: not supported function\",\"responseData\": " +
         std::to_string(kErrNotSupported) + "}";
}

void Reply::Chunked(std::string_view text, std::string_view prefix) const {
  if (text.size() <= kChunkBytes) {
    std::string whole(prefix);
    whole.append(text);
    write_(TextReply(tab_id_, true, action_, whole));
    return;
  }
  const size_t last = text.size() / kChunkBytes;
  for (size_t k = 0; k <= last; ++k) {
    const std::string_view piece = text.substr(k * kChunkBytes, kChunkBytes);
    if (k == 0 && !prefix.empty()) {
      std::string first(prefix);
      first.append(piece);
      write_(TextReply(tab_id_, false, action_, first));
    } else {
      write_(TextReply(tab_id_, k == last, action_, piece));
    }
  }
}

}  // namespace koba::host
