#include "csp.h"

#include <algorithm>
#include <cstdio>

#include "settings.h"

namespace koba::csp {
namespace {

template <class F>
void Resolve(HMODULE module, const char* name, F* out) {
  *out = reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

uint32_t LastErrorOr(uint32_t fallback) {
  const DWORD e = GetLastError();
  return e != 0 ? e : fallback;
}

}  // namespace

// A provider context on one container path, released on every path out.
class CspInterface::Context {
 public:
  Context(CspInterface& csp, const std::string& path, uint32_t flags) : csp_(csp) {
    uint8_t table[kProviderTableSize] = {};
    if (csp_.acquire_ == nullptr) {
      status_ = kErrorNoProvider;
    } else if (!csp_.acquire_(&prov_, path.c_str(), flags, table)) {
      status_ = LastErrorOr(kErrorBadKeyset);
      prov_ = 0;
    }
  }
  ~Context() {
    if (prov_ != 0 && csp_.release_ != nullptr)
      csp_.release_(prov_, 0);
  }
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  uint32_t status() const { return status_; }
  CspProv get() const { return prov_; }

 private:
  CspInterface& csp_;
  CspProv prov_ = 0;
  uint32_t status_ = 0;
};

CspInterface::CspInterface() : CspInterface(settings::SystemLibraryPath(L"Q2CSP_KOBA.dll")) {}

CspInterface::CspInterface(std::wstring library_path) : path_(std::move(library_path)) {}

CspInterface::~CspInterface() {
  if (module_ != nullptr)
    FreeLibrary(module_);
}

bool CspInterface::Load() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (module_ != nullptr)
    return true;
  if (path_.empty())
    return false;
  module_ = LoadLibraryW(path_.c_str());
  if (module_ == nullptr)
    return false;  // tried again at the next use
  Resolve(module_, "CPAcquireContext", &acquire_);
  Resolve(module_, "CPGetProvParam", &get_prov_param_);
  Resolve(module_, "CPReleaseContext", &release_);
  Resolve(module_, "CPGetUserKey", &get_user_key_);
  Resolve(module_, "CPExportKey", &export_key_);
  Resolve(module_, "CPGetKeyParam", &get_key_param_);
  Resolve(module_, "CPDestroyKey", &destroy_key_);
  return true;
}

uint32_t CspInterface::EnumContainerNames(const std::string& reader_path,
                                          std::vector<std::string>* names) {
  names->clear();
  if (!Load())
    return kErrorNoProvider;
  Context ctx(*this, reader_path, kAcquireEnumerate);
  if (ctx.status() != 0)
    return ctx.status();
  if (get_prov_param_ == nullptr)
    return kErrorNoProvider;
  uint32_t flags = kEnumFirst;
  while (names->size() < kMaxContainerNames) {
    uint8_t name[kEnumNameCapacity] = {};
    uint32_t length = sizeof name;
    if (!get_prov_param_(ctx.get(), kParamEnumContainers, name, &length, flags)) {
      const DWORD e = GetLastError();
      return (e == 0 || e == kErrorNoMoreItems) ? 0 : e;
    }
    flags = 0;
    size_t n = 0;
    while (n < length && n < sizeof name && name[n] != 0)
      ++n;
    names->emplace_back(reinterpret_cast<const char*>(name), n);
  }
  return 0;
}

uint32_t CspInterface::GetContainerKeyInfo(const std::string& container_path, uint32_t key_spec,
                                           KeyInfo* info, uint32_t public_key_capacity,
                                           uint32_t certificate_capacity) {
  *info = KeyInfo();
  if (!Load())
    return kErrorNoProvider;
  Context ctx(*this, container_path, 0);
  if (ctx.status() != 0)
    return ctx.status();
  if (get_prov_param_ == nullptr)
    return kErrorNoProvider;
  std::vector<uint8_t> public_key(public_key_capacity);
  std::vector<uint8_t> certificate(certificate_capacity);
  KeyInfoRecord record = {};
  record.size = sizeof record;
  record.key_spec = key_spec;
  record.public_key = public_key.data();
  record.public_key_length = public_key_capacity;
  record.certificate = certificate_capacity != 0 ? certificate.data() : nullptr;
  record.certificate_length = certificate_capacity;
  uint32_t spec = key_spec;
  if (!get_prov_param_(ctx.get(), kParamKeyInfo, reinterpret_cast<uint8_t*>(&record), &spec, 0)) {
    return LastErrorOr(kErrorNoKey);
  }
  // Without a certificate buffer the provider only reports the certificate's length.
  if (certificate_capacity == 0)
    record.certificate_length = 0;
  if (record.public_key_length > public_key_capacity ||
      record.certificate_length > certificate_capacity) {
    return kErrorMoreData;
  }
  info->key_spec = record.key_spec;
  info->certificate_kind = record.certificate_kind;
  info->key_algorithm = record.key_algorithm;
  info->key_type = static_cast<uint8_t>(record.key_type);
  info->public_key.assign(public_key.begin(), public_key.begin() + record.public_key_length);
  info->certificate.assign(certificate.begin(), certificate.begin() + record.certificate_length);
  return 0;
}

// Opens the user key of `key_spec` in the container and reads one value of it through `read`
// into a 4096-byte buffer; the key is destroyed again on every path.
template <class Read>
uint32_t CspInterface::ReadUserKey(const std::string& container_path, uint32_t key_spec,
                                   std::vector<uint8_t>* out, Read read) {
  out->clear();
  if (!Load())
    return kErrorNoProvider;
  Context ctx(*this, container_path, 0);
  if (ctx.status() != 0)
    return ctx.status();
  if (get_user_key_ == nullptr || export_key_ == nullptr || get_key_param_ == nullptr)
    return kErrorNoProvider;
  CspKey key = 0;
  if (!get_user_key_(ctx.get(), key_spec, &key))
    return LastErrorOr(kErrorNoKey);
  std::vector<uint8_t> buffer(kKeyInfoCertificateCapacity);
  uint32_t length = static_cast<uint32_t>(buffer.size());
  const bool ok = read(ctx.get(), key, buffer.data(), &length);
  const uint32_t status = ok ? 0 : LastErrorOr(kErrorNoKey);
  if (destroy_key_ != nullptr)
    destroy_key_(ctx.get(), key);
  if (ok)
    out->assign(buffer.begin(), buffer.begin() + std::min<size_t>(length, buffer.size()));
  return status;
}

uint32_t CspInterface::ExportUserPublicKey(const std::string& container_path, uint32_t key_spec,
                                           std::vector<uint8_t>* blob) {
  return ReadUserKey(container_path, key_spec, blob,
                     [this](CspProv prov, CspKey key, uint8_t* data, uint32_t* length) {
                       return export_key_(prov, key, 0, kPublicKeyBlob, 0, data, length) != 0;
                     });
}

uint32_t CspInterface::GetUserKeyCertificate(const std::string& container_path, uint32_t key_spec,
                                             std::vector<uint8_t>* certificate) {
  return ReadUserKey(container_path, key_spec, certificate,
                     [this](CspProv prov, CspKey key, uint8_t* data, uint32_t* length) {
                       return get_key_param_(prov, key, kKeyParamCertificate, data, length, 0) != 0;
                     });
}

uint32_t CspInterface::DeleteContainerKey(const std::string& container_path, uint32_t key_spec) {
  if (!Load())
    return kErrorNoProvider;
  Context ctx(*this, container_path, 0);
  if (ctx.status() != 0)
    return ctx.status();
  if (get_prov_param_ == nullptr)
    return kErrorNoProvider;
  uint32_t spec = key_spec;
  if (!get_prov_param_(ctx.get(), kParamDeleteKey, reinterpret_cast<uint8_t*>(&spec), nullptr, 0)) {
    return LastErrorOr(kErrorNoKey);
  }
  return 0;
}

uint32_t CspInterface::Batch(uint32_t param, BatchRecord* record) {
  if (!Load() || get_prov_param_ == nullptr)
    return kErrorNoProvider;
  uint32_t size = sizeof *record;
  if (!get_prov_param_(0, param, reinterpret_cast<uint8_t*>(record), &size, 0))
    return LastErrorOr(kErrorNoKey);
  return 0;
}

uint32_t CspInterface::DeleteKeyBatch(BatchRecord* record) {
  return Batch(kParamDeleteBatch, record);
}

uint32_t CspInterface::ListKeyBatch(BatchRecord* record) {
  return Batch(kParamListBatch, record);
}

CspInterface& SystemCsp() {
  static CspInterface csp;
  return csp;
}

std::string ReaderPath(uint32_t slot) {
  char path[64];
  std::snprintf(path, sizeof path, kReaderPathFormat, static_cast<int>(slot));
  return path;
}

std::string ContainerPrefix(const std::string& identifier16) {
  return "\\\\.\\Korvanet " + identifier16 + "\\";
}

}  // namespace koba::csp
