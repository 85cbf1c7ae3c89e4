#include "pkcs7_text.h"

namespace koba::core {
namespace {

constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
constexpr size_t kLine = 64;

bool IsLineEnd(char c) {
  return c == '\r' || c == '\n';
}

}  // namespace

bool SplitPkcs7Parts(std::string_view text, std::vector<std::string_view>* parts) {
  parts->clear();
  const size_t sep = text.find("||");
  if (sep == std::string_view::npos) {
    parts->push_back(text);
    return true;
  }
  const std::string_view second = text.substr(sep + 2);
  if (second.find("||") != std::string_view::npos)
    return false;
  parts->push_back(text.substr(0, sep));
  parts->push_back(second);
  return true;
}

std::string PreparePkcs7Text(std::string_view part) {
  const size_t begin = part.find(kBegin);
  if (begin != std::string_view::npos) {
    part = part.substr(begin + kBegin.size());
    part = part.substr(0, part.find(kEnd));
  }
  while (!part.empty() && IsLineEnd(part.front()))
    part.remove_prefix(1);
  if (part.size() > kLine && IsLineEnd(part[kLine]))
    return std::string(part);
  std::string out;
  out.reserve(part.size() + part.size() / kLine + 1);
  for (size_t i = 0; i < part.size(); i += kLine) {
    out.append(part.substr(i, kLine));
    if (i + kLine < part.size())
      out += '\n';
  }
  return out;
}

}  // namespace koba::core
