#include "sign_record.h"

#include <array>
#include <cctype>

#include "text_encoding.h"
#include "token_api.h"

namespace koba::core {
namespace {

struct NamedDigest {
  std::string_view name;
  DigestChoice choice;
};

constexpr std::array<NamedDigest, 5> kDigests = {{
    {"SM3", {token::kDigestSm3, token::kOsslSm3, 32}},
    {"SHA1", {token::kDigestSha1, token::kOsslSha1, 20}},
    {"SHA256", {token::kDigestSha256, token::kOsslSha256, 32}},
    {"SHA384", {token::kDigestSha384, token::kOsslSha384, 48}},
    {"SHA512", {token::kDigestSha512, token::kOsslSha512, 64}},
}};

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// `value` as `width` decimal digits, zero-padded; false when it needs more digits.
bool AppendDecimal(uint64_t value, size_t width, std::string* out) {
  std::string digits(width, '0');
  for (size_t i = width; i > 0; --i) {
    digits[i - 1] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  if (value != 0) {
    return false;
  }
  out->append(digits);
  return true;
}

void AppendBinaryItem(uint8_t tag, uint32_t length, std::string* out) {
  const char header[9] = {static_cast<char>(tag),
                          0,
                          0,
                          0,
                          0,
                          static_cast<char>(length >> 24),
                          static_cast<char>(length >> 16),
                          static_cast<char>(length >> 8),
                          static_cast<char>(length)};
  out->append(header, sizeof(header));
}

void PutLittleEndian(uint64_t value, size_t width, std::vector<uint8_t>* out) {
  for (size_t i = 0; i < width; ++i) {
    out->push_back(static_cast<uint8_t>(value >> (8 * i)));
  }
}

}  // namespace

bool LookupDigest(std::string_view name, uint32_t key_algorithm, DigestChoice* choice) {
  if (name.empty()) {
    if (key_algorithm == token::kKeyAlgRsa) {
      name = "SHA1";
    } else if (key_algorithm == token::kKeyAlgSm2) {
      name = "SM3";
    } else {
      return false;
    }
  }
  for (const auto& digest : kDigests) {
    if (EqualsIgnoringCase(name, digest.name)) {
      *choice = digest.choice;
      return true;
    }
  }
  return false;
}

int OsslAlgorithmOfCode(uint32_t code) {
  if (code == token::kDigestMd5) {
    return token::kOsslMd5;
  }
  for (const auto& digest : kDigests) {
    if (digest.choice.code == code) {
      return digest.choice.ossl_algorithm;
    }
  }
  return token::kOsslSha1;
}

bool ToDeviceText(std::string_view utf8, int encoding, std::string* out) {
  out->clear();
  std::u16string wide;
  if ((encoding != kTextGb18030 && encoding != kTextUtf8) || !text::Utf8ToUtf16(utf8, &wide)) {
    return false;
  }
  if (encoding == kTextUtf8) {
    out->assign(utf8);
    return true;
  }
  return text::Utf16ToGb18030(wide, out);
}

bool BuildFilePart(std::string_view path, std::string_view content_base64, std::string* out) {
  out->clear();
  const uint64_t n = path.size();
  const uint64_t c = content_base64.size();
  std::string part;
  if (!AppendDecimal(n + c + 16, 16, &part) || !AppendDecimal(n + c + 8, 8, &part) ||
      !AppendDecimal(n, 8, &part)) {
    return false;
  }
  part.reserve(part.size() + n + c);
  part.append(path);
  part.append(content_base64);
  *out = std::move(part);
  return true;
}

bool BuildSigningRecord(RecordForm form, std::string_view xml, std::string_view key_info,
                        std::string_view file_part, std::string* out) {
  out->clear();
  const uint64_t payload = uint64_t{xml.size()} + key_info.size() + file_part.size();
  std::string record;
  if (form == RecordForm::kText) {
    record.reserve(payload + 48);
    record.append("11");
    if (!AppendDecimal(payload + 36, 10, &record)) {
      return false;
    }
    const std::pair<const char*, std::string_view> items[] = {
        {"21", xml}, {"22", key_info}, {"23", file_part}};
    for (const auto& [tag, value] : items) {
      record.append(tag);
      AppendDecimal(value.size(), 10, &record);
      record.append(value);
    }
  } else {
    if (payload + 27 > UINT32_MAX) {
      return false;
    }
    record.reserve(payload + 36);
    AppendBinaryItem(0x11, static_cast<uint32_t>(payload + 27), &record);
    const std::pair<uint8_t, std::string_view> items[] = {
        {0x21, xml}, {0x23, file_part}, {0x22, key_info}};
    for (const auto& [tag, value] : items) {
      AppendBinaryItem(tag, static_cast<uint32_t>(value.size()), &record);
      record.append(value);
    }
  }
  *out = std::move(record);
  return true;
}

RecordForm RecordFormFor(int32_t admin_flag, uint32_t certificate_kind) {
  return admin_flag != 0 && certificate_kind == 1 ? RecordForm::kBinary : RecordForm::kText;
}

std::vector<uint8_t> EncodeSignRequest(const SignRequestFields& fields, size_t pointer_width) {
  std::vector<uint8_t> out;
  if (pointer_width != 4 && pointer_width != 8) {
    return out;
  }
  if (pointer_width == 4) {
    for (uint64_t address : {fields.data, fields.public_key, fields.signature}) {
      if (address > UINT32_MAX) {
        return out;
      }
    }
  }
  const size_t size = SignRequestSize(pointer_width);
  out.reserve(size);
  PutLittleEndian(size, 4, &out);
  PutLittleEndian(fields.key_type, 4, &out);
  PutLittleEndian(fields.key_algorithm, 4, &out);
  PutLittleEndian(fields.certificate_kind, 4, &out);
  PutLittleEndian(fields.digest_algorithm, 4, &out);
  PutLittleEndian(fields.data, pointer_width, &out);
  PutLittleEndian(fields.data_length, 4, &out);
  PutLittleEndian(fields.public_key, pointer_width, &out);
  PutLittleEndian(fields.public_key_length, 4, &out);
  PutLittleEndian(fields.signature_length, 4, &out);
  PutLittleEndian(fields.signature, pointer_width, &out);
  return out;
}

}  // namespace koba::core
