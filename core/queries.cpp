#include "queries.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "cert_store.h"
#include "containers.h"
#include "result_codes.h"
#include "text_encoding.h"
#include "token_api.h"

namespace koba::core {
namespace {

constexpr size_t kAdminInfoBytes = token::kAdminInfoSize;

uint32_t Handle(uint32_t slot) {
  return DeviceHandle(slot);
}

// Device parameter 19, 20 bytes of text; false when it cannot be read.
bool AdminInfo(TokenCore& core, uint32_t slot, char (&info)[kAdminInfoBytes + 1]) {
  std::memset(info, 0, sizeof info);
  return core.api().ManTokenParam(Handle(slot), token::kParamAdminInfo, info) == 0;
}

bool HasDoubleZeroMark(const char (&info)[kAdminInfoBytes + 1]) {
  return info[2] == '0' && info[3] == '0';
}

std::string Serial(const DeviceInfo& info) {
  return TrimSerial(info.data() + token::devinfo::kSerial, token::devinfo::kSerialSize);
}

// The certificate's subject as UTF-8 ("CN=a, O=b"); empty when it has none.
std::string SubjectDn(const std::vector<uint8_t>& der) {
  wchar_t name[257] = {};
  if (certstore::CertificateFieldW(der.data(), static_cast<DWORD>(der.size()),
                                   certstore::kSubjectDn, name, 257) != 0) {
    return {};
  }
  std::string utf8;
  text::Utf16ToUtf8(reinterpret_cast<const char16_t*>(name), &utf8);
  return utf8;
}

std::string Base64(const std::vector<uint8_t>& bytes) {
  return text::Base64Encode(
      std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

void DropTrailingSeparator(std::string* list) {
  if (list->size() >= 2 && list->compare(list->size() - 2, 2, "||") == 0)
    list->resize(list->size() - 2);
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i]))
      return false;
  }
  return true;
}

// Two characters read as the two nibbles of a byte ("12" -> 0x12).
uint8_t NibblePair(char high, char low) {
  return static_cast<uint8_t>((static_cast<uint8_t>(high) * 16 + static_cast<uint8_t>(low) - 48) &
                              0xFF);
}

// The start of a query with a text result: the output emptied, then the single key found.
int StartTextQuery(TokenCore& core, BindSet set, char* out, size_t capacity, uint32_t* slot,
                   DeviceInfo* info) {
  if (out == nullptr || capacity == 0)
    return core.Finish(kBadParameter);
  out[0] = '\0';
  return core.FindKey(set, slot, info);
}

}  // namespace

void CopyList(std::string_view text, char* out, size_t capacity) {
  if (out == nullptr || capacity == 0)
    return;
  if (text.size() >= capacity) {
    const size_t cut = text.substr(0, capacity - 1).rfind("||");
    text = text.substr(0, cut == std::string_view::npos ? 0 : cut);
  }
  std::memcpy(out, text.data(), text.size());
  out[text.size()] = '\0';
}

uint32_t CollectCandidates(TokenCore& core, csp::CspInterface& csp, uint32_t slot,
                           const DeviceInfo& info, std::vector<Candidate>* candidates,
                           bool* admin) {
  candidates->clear();
  *admin = AdminFlag(core, slot) != 0;
  const std::string serial = Serial(info);
  return ForEachContainerKey(csp, slot, [&](const std::string&, csp::KeyInfo& key) {
    if (key.certificate.empty())
      return;
    Candidate c;
    c.serial = serial;
    c.subject = SubjectDn(key.certificate);
    c.key_type = key.key_type;
    c.algorithm = key.key_algorithm;
    c.key_spec = key.key_spec;
    c.kind = key.certificate_kind;
    c.certificate = std::move(key.certificate);
    c.public_key = std::move(key.public_key);
    candidates->push_back(std::move(c));
  });
}

int GMGetCertDN(TokenCore& core, csp::CspInterface& csp, char* out, size_t capacity) {
  BindingGuard guard(core);
  uint32_t slot;
  DeviceInfo info;
  const int found = StartTextQuery(core, BindSet::kFull, out, capacity, &slot, &info);
  if (found != kOk)
    return found;
  std::string list;
  const uint32_t status =
      ForEachContainerKey(csp, slot, [&](const std::string&, const csp::KeyInfo& key) {
        if (key.certificate.empty())
          return;
        list += SubjectDn(key.certificate).substr(0, 1024);
        list += "||";
      });
  DropTrailingSeparator(&list);
  CopyList(CompactDnSeparators(list), out, capacity);
  core.Finish(static_cast<int>(status));
  return kOk;
}

int GMGetPublicKey(TokenCore& core, csp::CspInterface& csp, std::string_view key_type, char* out,
                   size_t capacity) {
  BindingGuard guard(core);
  if (out == nullptr || capacity == 0)
    return core.Finish(kBadParameter);
  out[0] = '\0';
  enum { kAll, kWithCert, kWithoutCert } kind;
  if (EqualsIgnoringCase(key_type, "AllPubKey")) {
    kind = kAll;
  } else if (EqualsIgnoringCase(key_type, "CertPubKey")) {
    kind = kWithCert;
  } else if (EqualsIgnoringCase(key_type, "NoCertPubKey")) {
    kind = kWithoutCert;
  } else {
    return core.Finish(kBadParameter);
  }
  uint32_t slot;
  DeviceInfo info;
  const int found = core.FindKey(BindSet::kFull, &slot, &info);
  if (found != kOk)
    return found;
  std::string list;
  const uint32_t status =
      ForEachContainerKey(csp, slot, [&](const std::string&, const csp::KeyInfo& key) {
        const bool has_cert = !key.certificate.empty();
        if ((kind == kWithCert && !has_cert) || (kind == kWithoutCert && has_cert))
          return;
        list += static_cast<char>('0' + (key.key_type >> 4));
        list += static_cast<char>('0' + (key.key_type & 0x0F));
        list += Base64(DerPublicKey(key.public_key.data(), key.public_key.size()));
        list += "||";
      });
  DropTrailingSeparator(&list);
  CopyList(list, out, capacity);
  return core.Finish(static_cast<int>(status));
}

int GetPublicKeyC(TokenCore& core, char* out, size_t capacity) {
  BindingGuard guard(core);
  uint32_t slot;
  DeviceInfo info;
  const int found = StartTextQuery(core, BindSet::kDevice, out, capacity, &slot, &info);
  if (found != kOk)
    return found;
  const bool admin = AdminFlag(core, slot) == 1;
  if (admin) {
    char admin_info[kAdminInfoBytes + 1];
    AdminInfo(core, slot, admin_info);
    if (!HasDoubleZeroMark(admin_info))
      return core.Finish(kNotSupported);
  }
  std::vector<uint8_t> buffer(token::kKeyListCapacity, 0);
  if (core.api().ManTokenParam(Handle(slot),
                               admin ? token::kParamAdminKeyList : token::kParamUserKeyList,
                               buffer.data()) != 0) {
    return core.Finish(kReadError);
  }
  uint32_t total;
  std::memcpy(&total, buffer.data(), 4);
  // The entries must lie inside what the key wrote into the buffer.
  if (total > buffer.size() - 4)
    return core.Finish(kReadError);
  std::string list;
  size_t pos = 4;
  const size_t end = 4 + total;
  while (pos < end) {
    uint32_t length;
    if (end - pos < 4)
      return core.Finish(kReadError);
    std::memcpy(&length, buffer.data() + pos, 4);
    pos += 4;
    if (length > end - pos)
      return core.Finish(kReadError);
    const std::vector<uint8_t> entry(buffer.begin() + pos, buffer.begin() + pos + length);
    list += admin ? Base64(entry) : std::string(entry.begin(), entry.end());
    list += "||";
    pos += length;
  }
  DropTrailingSeparator(&list);
  // The key list is handed out with at most 4096 bytes, whatever the front end's buffer.
  constexpr size_t kKeyListTextBytes = 4096;
  CopyList(list, out, std::min(capacity, kKeyListTextBytes + 1));
  return core.Finish(kOk);
}

int GMGetPublicKeyC(TokenCore& core, csp::CspInterface& csp, std::string_view key_type,
                    std::string_view dn_or_id, std::string_view base64_ser_rand, char* out,
                    size_t capacity) {
  BindingGuard guard(core);
  if (out == nullptr || capacity == 0)
    return core.Finish(kBadParameter);
  out[0] = '\0';
  if (key_type != "01" && key_type != "02")
    return core.Finish(kBadParameter);
  std::vector<uint8_t> block(token::kPublicKeyRequestSize, 0);
  block[0] = static_cast<uint8_t>(key_type[0]);
  block[1] = static_cast<uint8_t>(key_type[1]);

  uint32_t slot;
  DeviceInfo info;
  const int found = core.FindKey(BindSet::kFull, &slot, &info);
  if (found != kOk)
    return found;
  char admin_info[kAdminInfoBytes + 1];
  if (!AdminInfo(core, slot, admin_info))
    return core.Finish(kReadError);
  if (HasDoubleZeroMark(admin_info))
    return core.Finish(kNotSupported);

  std::string ser_rand;
  if (!text::Base64Decode(base64_ser_rand, &ser_rand) || ser_rand.size() != 15) {
    return core.Finish(kBadParameter);
  }
  if (AdminFlag(core, slot) == 0)
    return core.Finish(kNotSupported);
  std::memcpy(block.data() + 2, ser_rand.data(), 15);

  const size_t sep = dn_or_id.find("||");
  const bool two = sep != std::string_view::npos && sep != 0;
  if (key_type == "01") {
    if (dn_or_id.size() < 2)
      return core.Finish(kBadParameter);
    block[17] = NibblePair(dn_or_id[0], dn_or_id[1]);
    if (sep != std::string_view::npos) {
      if (sep != 2 || dn_or_id.size() < 6)
        return core.Finish(kBadParameter);
      block[18] = NibblePair(dn_or_id[4], dn_or_id[5]);
    }
  } else {
    std::vector<Candidate> candidates;
    bool admin = false;
    CollectCandidates(core, csp, slot, info, &candidates, &admin);
    const std::string serial = Serial(info);
    SelectOptions options;
    options.admin_key = admin;
    const std::string_view dns[] = {two ? dn_or_id.substr(0, sep) : dn_or_id,
                                    two ? dn_or_id.substr(sep + 2) : std::string_view()};
    for (size_t i = 0; i < (two ? 2u : 1u); ++i) {
      size_t chosen = 0;
      const int selected = SelectCandidate(candidates, serial, SplitDn(dns[i]), options, &chosen);
      if (selected != kOk)
        return core.Finish(selected);
      block[17 + i] = candidates[chosen].key_type;
    }
  }

  if (core.api().ManTokenParam(Handle(slot), token::kParamPublicKeyRequest, block.data()) != 0) {
    return core.Finish(kOtherError);
  }
  uint32_t length;
  std::memcpy(&length, block.data() + 15, 4);
  if (length > block.size() - 19)
    return core.Finish(kOtherError);
  std::memmove(block.data() + 15, block.data() + 19, length);
  const std::string answer = text::Base64Encode(
      std::string_view(reinterpret_cast<const char*>(block.data()), length + 15));
  if (answer.size() >= capacity)
    return core.Finish(kNoMemory);
  std::memcpy(out, answer.c_str(), answer.size() + 1);
  return core.Finish(kOk);
}

int GMGetAdminKeyInfo(TokenCore& core, char* out, size_t capacity) {
  BindingGuard guard(core);
  uint32_t slot;
  DeviceInfo info;
  const int found = StartTextQuery(core, BindSet::kDevice, out, capacity, &slot, &info);
  if (found != kOk)
    return found;
  if (AdminFlag(core, slot) == 0)
    return core.Finish(kNotSupported);
  char admin_info[kAdminInfoBytes + 1];
  if (!AdminInfo(core, slot, admin_info))
    return core.Finish(kOtherError);
  const size_t n = strnlen(admin_info, kAdminInfoBytes);
  if (n >= capacity)
    return core.Finish(kNoMemory);
  std::memcpy(out, admin_info, n);
  out[n] = '\0';
  return core.Finish(kOk);
}

namespace {

// The public keys of every container and key spec, without their certificates.
uint32_t PublicKeys(csp::CspInterface& csp, uint32_t slot,
                    std::vector<std::vector<uint8_t>>* keys) {
  constexpr uint32_t kKeyCapacity = 512;
  return ForEachContainerKey(
      csp, slot,
      [&](const std::string&, csp::KeyInfo& key) { keys->push_back(std::move(key.public_key)); },
      kKeyCapacity, 0);
}

}  // namespace

int GetPublicKey(TokenCore& core, csp::CspInterface& csp, char* out, size_t capacity) {
  BindingGuard guard(core);
  uint32_t slot;
  DeviceInfo info;
  const int found = StartTextQuery(core, BindSet::kDevice, out, capacity, &slot, &info);
  if (found != kOk)
    return found;
  std::vector<std::vector<uint8_t>> keys;
  const uint32_t status = PublicKeys(csp, slot, &keys);
  std::string list;
  for (const auto& key : keys) {
    list += Base64(DerPublicKey(key.data(), key.size()));
    list += "||";
  }
  DropTrailingSeparator(&list);
  CopyList(list, out, capacity);
  return core.Finish(static_cast<int>(status));
}

int GetPublicKeyNum(TokenCore& core, csp::CspInterface& csp, int* count) {
  BindingGuard guard(core);
  if (count == nullptr)
    return core.Finish(kBadParameter);
  *count = 0;
  uint32_t slot;
  DeviceInfo info;
  const int found = core.FindKey(BindSet::kDevice, &slot, &info);
  if (found != kOk)
    return found;
  std::vector<std::vector<uint8_t>> keys;
  const uint32_t status = PublicKeys(csp, slot, &keys);
  if (status != 0)
    return core.Finish(static_cast<int>(status));
  for (const auto& key : keys) {
    if (!key.empty())
      ++*count;
  }
  return core.Finish(kOk);
}

int RegisterCert(TokenCore& core, csp::CspInterface& csp) {
  BindingGuard guard(core);
  uint32_t slot;
  DeviceInfo info;
  const int found = core.FindKey(BindSet::kDevice, &slot, &info);
  if (found != kOk)
    return found;
  const bool admin = AdminFlag(core, slot) != 0;
  const std::string prefix = csp::ContainerPrefix(DeviceIdentifier(info));
  const uint32_t status =
      ForEachContainerKey(csp, slot, [&](const std::string& name, const csp::KeyInfo& key) {
        if (key.certificate.empty() || key.key_algorithm == kAlgSm2 ||
            (admin && key.certificate_kind == kKindSpecial)) {
          return;
        }
        certstore::RegisterCertificate(csp::kProviderName, (prefix + name).c_str(), key.key_spec,
                                       key.certificate.data(),
                                       static_cast<DWORD>(key.certificate.size()));
      });
  return core.Finish(static_cast<int>(status));
}

int UnRegisterCert(TokenCore& core) {
  BindingGuard guard(core);
  uint32_t slot;
  DeviceInfo info;
  const int found = core.FindKey(BindSet::kDevice, &slot, &info);
  if (found != kOk)
    return found;
  certstore::DeleteStoredCertificates(csp::kProviderName, nullptr, 0);
  return core.Finish(kOk);
}

}  // namespace koba::core
