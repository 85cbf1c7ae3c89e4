#include "enrol_request.h"

#include <cstdio>

#include "token_api.h"

namespace koba::core {
namespace {

bool DigestCode(std::string_view name, uint32_t key_bits, uint32_t* code) {
  struct Row {
    const char* name;
    uint32_t code;
  };
  static constexpr Row kDigests[] = {
      {"SM3", token::kDigestSm3},       {"SHA1", token::kDigestSha1},
      {"MD5", token::kDigestMd5},       {"SHA256", token::kDigestSha256},
      {"SHA384", token::kDigestSha384}, {"SHA512", token::kDigestSha512},
  };
  if (name.empty()) {
    *code = key_bits == 256 ? token::kDigestSm3 : token::kDigestSha1;
    return true;
  }
  for (const Row& row : kDigests) {
    if (name == row.name) {
      *code = row.code;
      return true;
    }
  }
  return false;
}

bool KeyBits(std::string_view name, uint32_t* bits) {
  if (name == "SM2256") {
    *bits = 256;
  } else if (name == "RSA1024") {
    *bits = 1024;
  } else if (name == "RSA2048") {
    *bits = 2048;
  } else {
    return false;
  }
  return true;
}

bool CertificateType(std::string_view name, uint32_t* type) {
  if (name.size() != 2 || name[0] != '0' || name[1] < '1' || name[1] > '3')
    return false;
  *type = static_cast<uint32_t>(name[1] - '0');
  return true;
}

// The text between `open` (searched from `from`) and the next `close`; false when either is
// missing. `from` moves to the start of `close`.
bool Between(std::string_view text, std::string_view open, std::string_view close, size_t* from,
             std::string_view* out) {
  const size_t start = text.find(open, *from);
  if (start == std::string_view::npos)
    return false;
  const size_t begin = start + open.size();
  const size_t end = text.find(close, begin);
  if (end == std::string_view::npos)
    return false;
  *out = text.substr(begin, end - begin);
  *from = end;
  return true;
}

}  // namespace

bool ParseEnrolRequest(std::string_view text, EnrolRequest* request) {
  std::string_view dn, hash, key_type, cert_type;
  size_t pos = 0;
  if (!Between(text, "DN(", ")HASH(", &pos, &dn) ||
      !Between(text, ")HASH(", ")KEYTYPE(", &pos, &hash) ||
      !Between(text, ")KEYTYPE(", ")CERTTYPE(", &pos, &key_type) ||
      !Between(text, ")CERTTYPE(", ")", &pos, &cert_type)) {
    return false;
  }
  const size_t cn = dn.find("CN=");
  if (cn == std::string_view::npos)
    return false;
  std::string_view name = dn.substr(cn + 3);
  name = name.substr(0, name.find_first_of("),"));
  // A request without a subject name is no request a CA can answer.
  if (name.empty())
    return false;
  EnrolRequest r;
  r.common_name.assign(name.substr(0, kMaxCommonName));
  if (!KeyBits(key_type, &r.key_bits) || !DigestCode(hash, r.key_bits, &r.digest_code) ||
      !CertificateType(cert_type, &r.certificate_type)) {
    return false;
  }
  if (r.key_bits == 256 && r.certificate_type == 2)
    return false;
  *request = std::move(r);
  return true;
}

bool ParseEnrolRequests(std::string_view text, std::vector<EnrolRequest>* requests) {
  requests->clear();
  if (text.empty())
    return false;
  const size_t sep = text.find("||");
  std::string_view parts[2] = {text.substr(0, sep), {}};
  const size_t count = sep == std::string_view::npos ? 1 : 2;
  if (count == 2)
    parts[1] = text.substr(sep + 2);
  for (size_t i = 0; i < count; ++i) {
    EnrolRequest r;
    if (!ParseEnrolRequest(parts[i], &r)) {
      requests->clear();
      return false;
    }
    requests->push_back(std::move(r));
  }
  return true;
}

std::string KeyLabel(uint32_t data1, uint16_t data2, uint16_t data3) {
  char label[32];
  std::snprintf(label, sizeof label, "{%08X-%04X-%04x}", static_cast<unsigned>(data1),
                static_cast<unsigned>(data2), static_cast<unsigned>(data3));
  return label;
}

std::string WithoutLineBreaks(std::string_view base64) {
  std::string out;
  out.reserve(base64.size());
  for (char c : base64) {
    if (c != '\n' && c != '\r')
      out += c;
  }
  return out;
}

bool ExportedPublicKey(const uint8_t* blob, size_t blob_length, size_t* offset, size_t* length) {
  if (blob_length < 8)
    return false;
  uint32_t n = 0;
  for (int i = 0; i < 4; ++i)
    n |= static_cast<uint32_t>(blob[4 + i]) << (8 * i);
  const size_t start = blob_length / 3;
  if (start > blob_length || n > blob_length - start)
    return false;
  *offset = start;
  *length = n;
  return true;
}

}  // namespace koba::core
