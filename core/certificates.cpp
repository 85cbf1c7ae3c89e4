#include "certificates.h"

namespace koba::core {
namespace {

constexpr size_t kMaxCn = 1022;
constexpr size_t kMaxOuO = 255;

// The value after the first `tag` up to the next `stop` (or the end).
bool Attribute(std::string_view text, std::string_view tag, std::string_view stop,
               std::string_view* value) {
  const size_t pos = text.find(tag);
  if (pos == std::string_view::npos)
    return false;
  const size_t begin = pos + tag.size();
  const size_t end = text.find(stop, begin);
  *value = text.substr(begin, end == std::string_view::npos ? text.npos : end - begin);
  return true;
}

std::string Limited(std::string_view s, size_t limit) {
  return std::string(s.substr(0, limit));
}

}  // namespace

WantedDn SplitDn(std::string_view dn) {
  WantedDn wanted;
  std::string_view cn, ou, o;
  if (!Attribute(dn, "CN=", ",", &cn)) {
    wanted.cn = Limited(dn, kMaxCn);
    return wanted;
  }
  wanted.cn = Limited(cn, kMaxCn);
  if (Attribute(dn, "OU=", ",", &ou))
    wanted.ou = Limited(ou, kMaxOuO);
  if (Attribute(dn, "O=", ",", &o))
    wanted.o = Limited(o, kMaxOuO);
  return wanted;
}

bool DnMatches(const Candidate& candidate, std::string_view serial, const WantedDn& wanted) {
  if (candidate.serial != serial)
    return false;
  const std::string_view subject = candidate.subject;
  if (!wanted.cn.empty() && !wanted.o.empty() && !wanted.ou.empty()) {
    std::string_view cn, o, ou;
    return Attribute(subject, "CN=", ", ", &cn) && Attribute(subject, "O=", ", ", &o) &&
           Attribute(subject, "OU=", ", ", &ou) && cn == wanted.cn && o == wanted.o &&
           ou == wanted.ou;
  }
  for (const std::string* part : {&wanted.cn, &wanted.o, &wanted.ou}) {
    if (!part->empty() && subject.find(*part) == std::string_view::npos)
      return false;
  }
  return true;
}

int SelectCandidate(const std::vector<Candidate>& candidates, std::string_view serial,
                    const WantedDn& wanted, const SelectOptions& options, size_t* chosen) {
  constexpr int kNotFound = -405;
  constexpr int kTooMany = -413;
  if (wanted.Empty()) {
    size_t found = candidates.size();
    for (size_t i = 0; i < candidates.size(); ++i) {
      if (candidates[i].kind != kKindSpecial)
        continue;
      if (found != candidates.size())
        return kTooMany;
      found = i;
    }
    if (found == candidates.size())
      return kNotFound;
    *chosen = found;
  } else {
    size_t found = candidates.size();
    for (size_t i = 0; i < candidates.size() && found == candidates.size(); ++i) {
      const Candidate& c = candidates[i];
      if (options.signing && options.admin_key && c.kind == kKindSkippedForAdminSigning)
        continue;
      if (DnMatches(c, serial, wanted))
        found = i;
    }
    if (found == candidates.size())
      return kNotFound;
    *chosen = found;
  }
  const Candidate& c = candidates[*chosen];
  if (options.takes_material &&
      (c.certificate.size() > kMaxCertificateBytes || c.public_key.size() > kMaxPublicKeyBytes)) {
    return kNotFound;
  }
  return 0;
}

std::vector<uint8_t> DerPublicKey(const uint8_t* raw, size_t length) {
  std::vector<uint8_t> der;
  switch (length) {
    case 64:
      der.push_back(0x04);
      break;
    case 128:
      der = {0x30, 0x81, 0x89, 0x02, 0x81, 0x81, 0x00};
      break;
    case 256:
      der = {0x30, 0x82, 0x01, 0x0A, 0x02, 0x82, 0x01, 0x01, 0x00};
      break;
    default:
      return der;
  }
  der.insert(der.end(), raw, raw + length);
  if (length != 64)
    der.insert(der.end(), {0x02, 0x03, 0x01, 0x00, 0x01});
  return der;
}

std::string TrimSerial(const uint8_t* serial, size_t length) {
  std::string s(reinterpret_cast<const char*>(serial), length);
  const size_t nul = s.find('\0');
  if (nul != std::string::npos)
    s.resize(nul);
  while (!s.empty() && s.back() == ' ')
    s.pop_back();
  return s;
}

std::string CompactDnSeparators(std::string_view list) {
  std::string out;
  out.reserve(list.size());
  for (size_t i = 0; i < list.size(); ++i) {
    out += list[i];
    if (list[i] == ',' && i + 1 < list.size() && list[i + 1] == ' ')
      ++i;
  }
  return out;
}

}  // namespace koba::core
