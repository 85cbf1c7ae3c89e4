#include "cert_install.h"

#include <cstring>
#include <string>
#include <vector>

#include "cert_store.h"
#include "certificates.h"
#include "containers.h"
#include "enrol_request.h"
#include "key_deletion.h"
#include "pkcs7_text.h"
#include "queries.h"
#include "result_codes.h"
#include "settings.h"
#include "text_encoding.h"
#include "token_objects.h"

namespace koba::core {
namespace {

constexpr size_t kCertificateCapacity = 4096;
constexpr size_t kMaxContainerName = 255;
constexpr size_t kMaxDnText = 255;
constexpr size_t kMaxKeyIds = 20;

// A key pair of the key with its certificate.
struct KeyPairEntry {
  std::string container;
  uint8_t key_type = 0;
  uint32_t key_spec = 0;
  uint32_t kind = 0;
  uint32_t algorithm = 0;
  std::vector<uint8_t> certificate;
};

// A name field of a DER certificate as the store helpers give it; empty when unavailable.
std::string NameField(const std::vector<uint8_t>& der, int field) {
  char text[257] = {};
  if (certstore::CertificateFieldA(der.data(), static_cast<DWORD>(der.size()), field, text,
                                   sizeof text) != 0) {
    return {};
  }
  return text;
}

// The DN comparison text: the subject as UTF-8 with "," between attributes.
std::string DnText(const std::vector<uint8_t>& der) {
  wchar_t name[257] = {};
  if (certstore::CertificateFieldW(der.data(), static_cast<DWORD>(der.size()),
                                   certstore::kSubjectDn, name, 257) != 0) {
    return {};
  }
  std::string utf8;
  text::Utf16ToUtf8(reinterpret_cast<const char16_t*>(name), &utf8);
  return CompactDnSeparators(utf8).substr(0, kMaxDnText);
}

void MarkChanged(TokenCore& core, uint32_t slot) {
  int32_t changed = 1;
  core.api().ManTokenParam(DeviceHandle(slot), token::kParamChanged, &changed);
}

// Deletes key pairs: at once on a user key, collected for one batch on an administrator key.
class Deleter {
 public:
  Deleter(csp::CspInterface& csp, uint32_t slot, bool admin)
      : csp_(csp), reader_(csp::ReaderPath(slot)), admin_(admin), batch_(slot) {}

  uint32_t Delete(const std::string& container, uint8_t key_type, uint32_t key_spec) {
    const uint8_t spec = static_cast<uint8_t>(key_spec);
    if (!admin_)
      return csp_.DeleteContainerKey(reader_ + container, key_spec);
    if (!batch_.Contains(container, spec) && !batch_.Add(container, key_type, spec))
      return csp::kErrorNotSupported;
    return 0;
  }
  // Sends the batch when it holds anything.
  uint32_t Flush() { return admin_ && !batch_.empty() ? csp_.DeleteKeyBatch(batch_.record()) : 0; }

 private:
  csp::CspInterface& csp_;
  std::string reader_;
  bool admin_;
  DeletionBatch batch_;
};

class Installer {
 public:
  Installer(TokenCore& core, csp::CspInterface& csp, uint32_t slot, const DeviceInfo& info,
            bool admin)
      : core_(core), csp_(csp), slot_(slot), info_(info), admin_(admin) {}

  // Installs part `index` (0-based) of `count`.
  int InstallPart(std::string_view part, size_t index, size_t count);

 private:
  int Decode(std::string_view part, std::vector<uint8_t>* message) const;
  int FindKeyPair(const std::vector<uint8_t>& message, KeyPairEntry* match,
                  std::vector<KeyPairEntry>* older) const;
  int DeleteSuperseded(const std::vector<KeyPairEntry>& older);
  void Register();

  TokenCore& core_;
  csp::CspInterface& csp_;
  uint32_t slot_;
  const DeviceInfo& info_;
  bool admin_;
  std::vector<KeyPairEntry> installed_;
};

int Installer::Decode(std::string_view part, std::vector<uint8_t>* message) const {
  if (part.empty() || part.size() > kMaxPkcs7Text)
    return kPkcs7ParseError;
  const std::string prepared = PreparePkcs7Text(part);
  message->assign(prepared.size() + 1000, 0);
  int length = static_cast<int>(message->size());
  if (core_.api().Base64Decode(reinterpret_cast<const uint8_t*>(prepared.data()),
                               static_cast<int>(prepared.size()), message->data(), &length) != 1 ||
      length <= 0 || static_cast<size_t>(length) > message->size()) {
    return kPkcs7ParseError;
  }
  message->resize(static_cast<size_t>(length));
  return kOk;
}

int Installer::FindKeyPair(const std::vector<uint8_t>& message, KeyPairEntry* match,
                           std::vector<KeyPairEntry>* older) const {
  int search = kOk;
  bool found = false;
  ForEachContainerKey(csp_, slot_, [&](const std::string& name, csp::KeyInfo& key) {
    if (search != kOk || key.public_key.empty())
      return;
    std::vector<uint8_t> certificate(kCertificateCapacity);
    int length = static_cast<int>(kCertificateCapacity);
    const int status = core_.api().GetCertFromP7(
        message.data(), static_cast<int>(message.size()), key.public_key.data(),
        static_cast<int>(key.public_key.size()), certificate.data(), &length);
    if (status == 1) {
      if (!key.certificate.empty() || length <= 0 ||
          static_cast<size_t>(length) > kCertificateCapacity) {
        search = !key.certificate.empty() ? kCertAlreadyWritten : kPkcs7ParseError;
        return;
      }
      certificate.resize(static_cast<size_t>(length));
      *match = KeyPairEntry{name,
                            key.key_type,
                            key.key_spec,
                            key.certificate_kind,
                            key.key_algorithm,
                            std::move(certificate)};
      found = true;
    } else if (status == 0) {
      if (!key.certificate.empty() && name.size() <= kMaxContainerName) {
        older->push_back(KeyPairEntry{name, key.key_type, key.key_spec, key.certificate_kind,
                                      key.key_algorithm, std::move(key.certificate)});
      }
    } else {
      search = kPkcs7ParseError;
    }
  });
  if (search != kOk)
    return search;
  return found ? kOk : kPkcs7ParseError;
}

int Installer::DeleteSuperseded(const std::vector<KeyPairEntry>& older) {
  Deleter deleter(csp_, slot_, admin_);
  int result = kOk;
  const auto note = [&](uint32_t status) {
    if (status != 0)
      result = MapShortDeletionStatus(status);
  };
  const std::vector<uint8_t>& first = core_.kept_certificate(0);
  const std::vector<uint8_t>& second = core_.kept_certificate(1);
  const auto supersedes = [](const std::vector<uint8_t>& newer, const KeyPairEntry& entry) {
    return NameField(entry.certificate, certstore::kSubjectName) ==
               NameField(newer, certstore::kSubjectName) &&
           NameField(entry.certificate, certstore::kIssuerDn) ==
               NameField(newer, certstore::kIssuerDn);
  };
  for (const KeyPairEntry& entry : older) {
    if (entry.certificate == first || (!second.empty() && entry.certificate == second))
      continue;
    if (supersedes(first, entry) || (!second.empty() && supersedes(second, entry)))
      note(deleter.Delete(entry.container, entry.key_type, entry.key_spec));
  }
  note(deleter.Flush());
  return result;
}

void Installer::Register() {
  if (settings::IsTrayMonitorRunning()) {
    settings::SignalTrayMonitor();
    return;
  }
  const std::string prefix = csp::ContainerPrefix(DeviceIdentifier(info_));
  for (const KeyPairEntry& entry : installed_) {
    if (entry.algorithm == kAlgSm2 || (admin_ && entry.kind == kKindSpecial))
      continue;
    certstore::RegisterCertificate(csp::kProviderName, (prefix + entry.container).c_str(),
                                   entry.key_spec, entry.certificate.data(),
                                   static_cast<DWORD>(entry.certificate.size()));
  }
}

int Installer::InstallPart(std::string_view part, size_t index, size_t count) {
  std::vector<uint8_t> message;
  const int decoded = Decode(part, &message);
  if (decoded != kOk)
    return decoded;
  KeyPairEntry match;
  std::vector<KeyPairEntry> older;
  const int found = FindKeyPair(message, &match, &older);
  if (found != kOk)
    return found;

  const Vexlo::Bytes object = Vexlo::CTokenStruct::CertificateObject(
      match.container.data(), match.container.size(), match.key_type,
      static_cast<uint8_t>(match.key_spec), static_cast<uint8_t>(match.kind),
      match.certificate.data(), match.certificate.size());
  uint32_t handle = 0;
  if (core_.api().CreateObject(DeviceHandle(slot_), token::kObjectClassCertificate, &handle,
                               object.data(), static_cast<uint32_t>(object.size()), 0) != 0) {
    return kCertWriteError;
  }
  core_.kept_certificate(index == 1 ? 1 : 0) = match.certificate;
  installed_.push_back(std::move(match));

  int result = kOk;
  if (!(index == 0 && count == 2)) {
    result = DeleteSuperseded(older);
    Register();
  }
  MarkChanged(core_, slot_);
  return result;
}

// The ids of GMDelTempKey's PublicKeyId: two decimal digits at every fourth character, read
// as the two nibbles of a byte ("12" is 0x12). False for any other text.
bool ParseKeyIds(std::string_view text, std::vector<uint8_t>* ids) {
  ids->clear();
  for (size_t pos = 0; pos < text.size(); pos += 4) {
    if (text.size() - pos < 2 || ids->size() == kMaxKeyIds)
      return false;
    const char high = text[pos], low = text[pos + 1];
    if (high < '0' || high > '9' || low < '0' || low > '9')
      return false;
    ids->push_back(static_cast<uint8_t>((high - '0') * 16 + (low - '0')));
  }
  return true;
}

}  // namespace

int GMWritePKCS7(TokenCore& core, csp::CspInterface& csp, std::string_view text) {
  BindingGuard guard(core);
  if (text.empty())
    return core.Finish(kBadParameter);
  uint32_t slot;
  DeviceInfo info;
  const int found = core.FindKey(BindSet::kFull, &slot, &info);
  if (found != kOk)
    return found;
  const bool admin = AdminFlag(core, slot) != 0;
  std::vector<std::string_view> parts;
  if (!SplitPkcs7Parts(text, &parts))
    return core.Finish(kPkcs7ParseError);
  // Certificates of an earlier reply are no part of this one.
  core.kept_certificate(0).clear();
  core.kept_certificate(1).clear();
  Installer installer(core, csp, slot, info, admin);
  int result = kOk;
  for (size_t i = 0; i < parts.size(); ++i) {
    result = installer.InstallPart(parts[i], i, parts.size());
    if (result != kOk)
      break;
  }
  return core.Finish(result);
}

int GMGetPKCS7(TokenCore& core, csp::CspInterface& csp, char* out, size_t capacity,
               size_t* length) {
  BindingGuard guard(core);
  if (length == nullptr || (out != nullptr && capacity == 0))
    return core.Finish(kBadParameter);
  *length = 0;
  if (out != nullptr)
    out[0] = '\0';
  uint32_t slot;
  DeviceInfo info;
  const int found = core.FindKey(BindSet::kFull, &slot, &info);
  if (found != kOk)
    return found;
  std::string list;
  size_t raw = 0;
  const uint32_t status =
      ForEachContainerKey(csp, slot, [&](const std::string&, const csp::KeyInfo& key) {
        if (key.certificate.empty())
          return;
        raw += key.certificate.size();
        if (out == nullptr)
          return;
        std::vector<uint8_t> encoded(kCertificateCapacity * 2);
        int n = static_cast<int>(encoded.size());
        if (core.api().Base64Encode(key.certificate.data(),
                                    static_cast<int>(key.certificate.size()), encoded.data(),
                                    &n) != 1 ||
            n <= 0 || static_cast<size_t>(n) > encoded.size()) {
          return;
        }
        const std::string text = WithoutLineBreaks(std::string_view(
            reinterpret_cast<const char*>(encoded.data()), static_cast<size_t>(n)));
        if (!list.empty())
          list += "||";
        list += text;
      });
  if (out == nullptr) {
    *length = raw >= 2 ? raw - 2 : 0;
  } else {
    CopyList(list, out, capacity);
    *length = std::strlen(out);
  }
  core.Finish(static_cast<int>(status));
  return kOk;
}

int GMDelTempKey(TokenCore& core, csp::CspInterface& csp, std::string_view cert_dn,
                 std::string_view public_key_id) {
  BindingGuard guard(core);
  if (cert_dn.empty() && public_key_id.empty())
    return core.Finish(kBadParameter);
  uint32_t slot;
  DeviceInfo info;
  const int found = core.FindKey(BindSet::kFull, &slot, &info);
  if (found != kOk)
    return found;
  if (AdminFlag(core, slot) != 1)
    return core.Finish(kNotSupported);
  std::vector<uint8_t> ids;
  if (!ParseKeyIds(public_key_id, &ids))
    return core.Finish(kBadParameter);

  std::string dns(cert_dn);
  DeletionBatch batch(slot);
  bool failed = false;
  ForEachContainerKey(csp, slot, [&](const std::string& name, const csp::KeyInfo& key) {
    const uint8_t spec = static_cast<uint8_t>(key.key_spec);
    bool by_id = false;
    for (auto it = ids.begin(); it != ids.end(); ++it) {
      if (*it == key.key_type) {
        ids.erase(it);
        by_id = true;
        failed |= !batch.Add(name, key.key_type, spec);
        break;
      }
    }
    if (key.certificate.empty())
      return;
    const std::string dn = DnText(key.certificate);
    const size_t at = dn.empty() ? std::string::npos : dns.find(dn);
    if (at == std::string::npos) {
      // A certified key pair goes only when its DN is named too.
      failed |= by_id;
      return;
    }
    if (!batch.Contains(name, spec))
      failed |= !batch.Add(name, key.key_type, spec);
    dns.erase(at, at + dn.size() < dns.size() ? dn.size() + 2 : dn.size());
  });
  if (failed || !dns.empty() || !ids.empty())
    return core.Finish(kBadParameter);
  if (!batch.empty()) {
    const uint32_t status = csp.DeleteKeyBatch(batch.record());
    if (status != 0) {
      core.api().ManTokenParam(slot, token::kParamResetAfterFailure, nullptr);
      return core.Finish(MapShortDeletionStatus(status));
    }
  }
  return core.Finish(kOk);
}

int GMJudgeAndDelOlderDN(TokenCore& core, csp::CspInterface& csp) {
  BindingGuard guard(core);
  uint32_t slot;
  DeviceInfo info;
  const int found = core.FindKey(BindSet::kFull, &slot, &info);
  if (found != kOk)
    return found;
  const bool admin = AdminFlag(core, slot) != 0;
  struct Entry {
    std::string dn;
    std::string container;
    uint8_t key_type;
    uint32_t key_spec;
    int64_t expires_in;  // seconds from now
    bool cleared;
  };
  FILETIME now_ft;
  GetSystemTimeAsFileTime(&now_ft);
  const auto ticks = [](const FILETIME& ft) {
    return static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) |
                                ft.dwLowDateTime);
  };
  const int64_t now = ticks(now_ft);
  std::vector<Entry> entries;
  ForEachContainerKey(csp, slot, [&](const std::string& name, const csp::KeyInfo& key) {
    if (key.certificate.empty())
      return;
    FILETIME not_after = {};
    if (certstore::CertificateFieldA(
            key.certificate.data(), static_cast<DWORD>(key.certificate.size()),
            certstore::kNotAfter, reinterpret_cast<char*>(&not_after), sizeof not_after) != 0) {
      return;
    }
    entries.push_back(Entry{DnText(key.certificate), name, key.key_type, key.key_spec,
                            (ticks(not_after) - now) / 10000000, false});
  });
  Deleter deleter(csp, slot, admin);
  uint32_t last = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    for (size_t j = i + 1; j < entries.size(); ++j) {
      Entry& a = entries[i];
      Entry& b = entries[j];
      if (a.cleared || b.cleared || a.dn.empty() || a.dn != b.dn || a.expires_in == b.expires_in)
        continue;
      Entry& older = a.expires_in < b.expires_in ? a : b;
      const uint32_t status = deleter.Delete(older.container, older.key_type, older.key_spec);
      if (status != 0)
        last = status;
      older.cleared = true;
    }
  }
  const uint32_t batch_status = deleter.Flush();
  if (batch_status != 0)
    last = batch_status;
  return core.Finish(MapDeletionStatus(last));
}

}  // namespace koba::core
