#include "cert_store.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "code_page.h"
#include "system_library.h"
#include "text_encoding.h"
#include "x500_name.h"

namespace koba::certstore {
namespace {

using win::SystemLibrary;

// crypt32's entry points, resolved when the first helper runs: most runs of the programs that
// carry these helpers never touch a certificate store.
struct Crypt32 {
  decltype(&::CertAddCertificateContextToStore) CertAddCertificateContextToStore = nullptr;
  decltype(&::CertCloseStore) CertCloseStore = nullptr;
  decltype(&::CertCompareCertificateName) CertCompareCertificateName = nullptr;
  decltype(&::CertControlStore) CertControlStore = nullptr;
  decltype(&::CertCreateCertificateContext) CertCreateCertificateContext = nullptr;
  decltype(&::CertDeleteCertificateFromStore) CertDeleteCertificateFromStore = nullptr;
  decltype(&::CertDuplicateCertificateContext) CertDuplicateCertificateContext = nullptr;
  decltype(&::CertEnumCertificatesInStore) CertEnumCertificatesInStore = nullptr;
  decltype(&::CertFindCertificateInStore) CertFindCertificateInStore = nullptr;
  decltype(&::CertFreeCertificateContext) CertFreeCertificateContext = nullptr;
  decltype(&::CertGetCertificateContextProperty) CertGetCertificateContextProperty = nullptr;
  decltype(&::CertGetNameStringA) CertGetNameStringA = nullptr;
  decltype(&::CertGetNameStringW) CertGetNameStringW = nullptr;
  decltype(&::CertOpenStore) CertOpenStore = nullptr;
  decltype(&::CertSetCertificateContextProperty) CertSetCertificateContextProperty = nullptr;
  bool complete = false;
};

const Crypt32& Crypt() {
  static const SystemLibrary library(L"crypt32.dll");
  static const Crypt32 api = [] {
    Crypt32 a;
    a.complete =
        library.Resolve("CertAddCertificateContextToStore", &a.CertAddCertificateContextToStore) &&
        library.Resolve("CertCloseStore", &a.CertCloseStore) &&
        library.Resolve("CertCompareCertificateName", &a.CertCompareCertificateName) &&
        library.Resolve("CertControlStore", &a.CertControlStore) &&
        library.Resolve("CertCreateCertificateContext", &a.CertCreateCertificateContext) &&
        library.Resolve("CertDeleteCertificateFromStore", &a.CertDeleteCertificateFromStore) &&
        library.Resolve("CertDuplicateCertificateContext", &a.CertDuplicateCertificateContext) &&
        library.Resolve("CertEnumCertificatesInStore", &a.CertEnumCertificatesInStore) &&
        library.Resolve("CertFindCertificateInStore", &a.CertFindCertificateInStore) &&
        library.Resolve("CertFreeCertificateContext", &a.CertFreeCertificateContext) &&
        library.Resolve("CertGetCertificateContextProperty",
                        &a.CertGetCertificateContextProperty) &&
        library.Resolve("CertGetNameStringA", &a.CertGetNameStringA) &&
        library.Resolve("CertGetNameStringW", &a.CertGetNameStringW) &&
        library.Resolve("CertOpenStore", &a.CertOpenStore) &&
        library.Resolve("CertSetCertificateContextProperty", &a.CertSetCertificateContextProperty);
    return a;
  }();
  return api;
}

struct ContextFreer {
  void operator()(PCCERT_CONTEXT c) const { Crypt().CertFreeCertificateContext(c); }
};
using UniqueCert = std::unique_ptr<const CERT_CONTEXT, ContextFreer>;

struct StoreCloser {
  void operator()(HCERTSTORE s) const { Crypt().CertCloseStore(s, 0); }
};
using UniqueStore = std::unique_ptr<void, StoreCloser>;

constexpr size_t kMaxNameChars = 256;
constexpr DWORD kMaxProvInfoBytes = 2048;
constexpr wchar_t kDevicePathStart[] = L"\\\\.\\";
constexpr DWORD kSha1Bytes = 20;

DWORD LastErrorOr(DWORD fallback) {
  const DWORD e = GetLastError();
  return e != 0 ? e : fallback;
}

UniqueStore OpenSystemStore(DWORD location, const wchar_t* name) {
  return UniqueStore(Crypt().CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, location, name));
}

// The registry store behind the current user's "MY", where registered certificates persist.
// Deleting through it removes the stored copy (Wine's system-store view reports success but
// keeps certificates that an earlier process stored).
UniqueStore OpenUserMyRegistry() {
  return UniqueStore(Crypt().CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0,
                                           CERT_SYSTEM_STORE_CURRENT_USER, L"MY"));
}

bool IsSelfSigned(PCCERT_CONTEXT cert) {
  return Crypt().CertCompareCertificateName(kEncoding, &cert->pCertInfo->Subject,
                                            &cert->pCertInfo->Issuer) != FALSE;
}

bool AnsiName(const char* in, std::wstring* out) {
  return in != nullptr && text::AnsiToUtf16(in, out) && out->size() <= kMaxNameChars;
}

template <typename Char>
DWORD Field(const BYTE* der, DWORD der_len, int selector, Char* out, DWORD out_chars) {
  if (!Crypt().complete)
    return ERROR_MOD_NOT_FOUND;
  if (out == nullptr)
    return ERROR_INVALID_PARAMETER;
  const UniqueCert cert(Crypt().CertCreateCertificateContext(kEncoding, der, der_len));
  if (!cert)
    return LastErrorOr(static_cast<DWORD>(CRYPT_E_ASN1_BADTAG));
  const CERT_INFO* info = cert->pCertInfo;
  if (selector == kNotAfter || selector == kNotBefore) {
    if (out_chars * sizeof(Char) < sizeof(FILETIME))
      return ERROR_INVALID_PARAMETER;
    std::memcpy(out, selector == kNotAfter ? &info->NotAfter : &info->NotBefore, sizeof(FILETIME));
    return 0;
  }
  DWORD type = 0;
  DWORD flags = 0;
  DWORD limit = 256;
  DWORD x500 = CERT_X500_NAME_STR;
  void* type_para = nullptr;
  switch (selector) {
    case kSubjectName:
      type = CERT_NAME_SIMPLE_DISPLAY_TYPE;
      limit = 128;
      break;
    case kSubjectDn:
      type = CERT_NAME_RDN_TYPE;
      type_para = &x500;
      break;
    case kIssuerName:
      type = CERT_NAME_SIMPLE_DISPLAY_TYPE;
      flags = CERT_NAME_ISSUER_FLAG;
      break;
    case kIssuerDn:
      type = CERT_NAME_RDN_TYPE;
      flags = CERT_NAME_ISSUER_FLAG;
      break;
    default:
      return ERROR_INVALID_PARAMETER;
  }
  if (out_chars == 0)
    return ERROR_INVALID_PARAMETER;
  const DWORD chars = out_chars < limit ? out_chars : limit;
  // The whole name first, then as much of it as fits: platforms differ in what they return
  // for a buffer that is too small.
  auto get = [&](Char* buf, DWORD cch) -> DWORD {
    if constexpr (sizeof(Char) == 1) {
      return Crypt().CertGetNameStringA(cert.get(), type, flags, type_para, buf, cch);
    } else {
      return Crypt().CertGetNameStringW(cert.get(), type, flags, type_para, buf, cch);
    }
  };
  const DWORD needed = get(nullptr, 0);
  if (needed == 0)
    return static_cast<DWORD>(NTE_FAIL);
  std::vector<Char> buffer(needed, Char{});
  if (get(buffer.data(), needed) == 0)
    return static_cast<DWORD>(NTE_FAIL);
  std::basic_string<Char> name(buffer.data());
  if (type == CERT_NAME_RDN_TYPE)
    name = x500::NormalizeQuoting(name);
  const size_t length = name.size() < chars - 1 ? name.size() : chars - 1;
  std::memcpy(out, name.data(), length * sizeof(Char));
  const DWORD copy = static_cast<DWORD>(length);
  out[copy] = Char{};
  return 0;
}

// The key-provider information of a certificate, or false when it has none (or an oversized
// one).
bool ProvInfo(PCCERT_CONTEXT cert, std::vector<BYTE>* buf) {
  DWORD size = 0;
  if (!Crypt().CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr,
                                                 &size) ||
      size < sizeof(CRYPT_KEY_PROV_INFO) || size > kMaxProvInfoBytes) {
    return false;
  }
  buf->assign(size, 0);
  return Crypt().CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, buf->data(),
                                                   &size) != FALSE;
}

bool StartsWith(const wchar_t* s, const std::wstring& prefix) {
  return s != nullptr && std::wcsncmp(s, prefix.c_str(), prefix.size()) == 0;
}

bool ShouldDelete(const CRYPT_KEY_PROV_INFO& info, const std::wstring& provider,
                  const std::wstring* prefix, int selector) {
  if (info.pwszProvName == nullptr || provider != info.pwszProvName)
    return false;
  const wchar_t* container = info.pwszContainerName != nullptr ? info.pwszContainerName : L"";
  if (selector == -1) {
    return !(StartsWith(container, kDevicePathStart) && prefix != nullptr &&
             !StartsWith(container, *prefix));
  }
  if (prefix != nullptr && !StartsWith(container, *prefix))
    return false;
  return selector == 0 || static_cast<DWORD>(selector) == info.dwKeySpec;
}

}  // namespace

DWORD CertificateFieldA(const BYTE* der, DWORD der_len, int selector, char* out, DWORD out_chars) {
  return Field(der, der_len, selector, out, out_chars);
}

DWORD CertificateFieldW(const BYTE* der, DWORD der_len, int selector, wchar_t* out,
                        DWORD out_chars) {
  return Field(der, der_len, selector, out, out_chars);
}

DWORD RegisterCertificate(const char* provider, const char* container, DWORD key_spec,
                          const BYTE* der, DWORD der_len) {
  if (!Crypt().complete)
    return ERROR_MOD_NOT_FOUND;
  if (key_spec > AT_SIGNATURE)
    return ERROR_INVALID_PARAMETER;
  const UniqueCert cert(Crypt().CertCreateCertificateContext(kEncoding, der, der_len));
  if (!cert)
    return LastErrorOr(static_cast<DWORD>(CRYPT_E_ASN1_BADTAG));
  const bool self_signed = IsSelfSigned(cert.get());
  UniqueStore store;
  DWORD disposition = CERT_STORE_ADD_USE_EXISTING;
  if (key_spec != 0) {
    if (self_signed)
      return 0;
    std::wstring provider_w;
    std::wstring container_w;
    if (!AnsiName(provider, &provider_w) || !AnsiName(container, &container_w))
      return ERROR_INVALID_PARAMETER;
    CRYPT_KEY_PROV_INFO info{};
    info.pwszContainerName = container_w.data();
    info.pwszProvName = provider_w.data();
    info.dwProvType = PROV_RSA_FULL;
    info.dwKeySpec = key_spec;
    if (!Crypt().CertSetCertificateContextProperty(cert.get(), CERT_KEY_PROV_INFO_PROP_ID, 0,
                                                   &info))
      return LastErrorOr(static_cast<DWORD>(E_FAIL));
    store = OpenUserMyRegistry();
    disposition = CERT_STORE_ADD_REPLACE_EXISTING;
  } else {
    store = OpenSystemStore(CERT_SYSTEM_STORE_LOCAL_MACHINE, self_signed ? L"ROOT" : L"CA");
  }
  if (!store)
    return LastErrorOr(static_cast<DWORD>(E_FAIL));
  if (disposition == CERT_STORE_ADD_REPLACE_EXISTING) {
    // The stored copy goes first: Wine's replacement keeps the old copy's provider link.
    PCCERT_CONTEXT old = Crypt().CertFindCertificateInStore(
        store.get(), kEncoding, 0, CERT_FIND_EXISTING, cert.get(), nullptr);
    if (old != nullptr)
      Crypt().CertDeleteCertificateFromStore(old);
  }
  if (!Crypt().CertAddCertificateContextToStore(store.get(), cert.get(), disposition, nullptr)) {
    const DWORD e = LastErrorOr(static_cast<DWORD>(E_FAIL));
    return e == static_cast<DWORD>(CRYPT_E_EXISTS) ? 0 : e;
  }
  // Wine's registry store writes only when the store is committed or closed, and closing
  // drops a refusal of the registry: commit here so that an entry the store refused is
  // reported, as Windows reports it when the certificate is added.
  if (disposition == CERT_STORE_ADD_REPLACE_EXISTING &&
      !Crypt().CertControlStore(store.get(), 0, CERT_STORE_CTRL_COMMIT, nullptr)) {
    return LastErrorOr(static_cast<DWORD>(E_FAIL));
  }
  return 0;
}

DWORD DeleteStoredCertificates(const char* provider, const char* prefix, int selector) {
  if (!Crypt().complete)
    return ERROR_MOD_NOT_FOUND;
  std::wstring provider_w;
  std::wstring prefix_w;
  if (provider == nullptr || !text::AnsiToUtf16(provider, &provider_w) ||
      (prefix != nullptr && !text::AnsiToUtf16(prefix, &prefix_w))) {
    return ERROR_INVALID_PARAMETER;
  }
  const UniqueStore store = OpenUserMyRegistry();
  if (!store)
    return LastErrorOr(static_cast<DWORD>(E_FAIL));
  // Collect first and delete after the enumeration: deleting while enumerating the same store
  // never ends under Wine.
  std::vector<UniqueCert> doomed;
  std::vector<BYTE> buf;
  PCCERT_CONTEXT cert = nullptr;
  while ((cert = Crypt().CertEnumCertificatesInStore(store.get(), cert)) != nullptr) {
    if (!ProvInfo(cert, &buf))
      continue;
    const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buf.data());
    if (ShouldDelete(*info, provider_w, prefix != nullptr ? &prefix_w : nullptr, selector))
      doomed.emplace_back(Crypt().CertDuplicateCertificateContext(cert));
  }
  for (UniqueCert& c : doomed) {
    // Deleting frees the context, also on failure.
    Crypt().CertDeleteCertificateFromStore(c.release());
  }
  return 0;
}

DWORD AddToSystemStore(const wchar_t* store_name, const BYTE* der, DWORD der_len) {
  if (!Crypt().complete)
    return ERROR_MOD_NOT_FOUND;
  if (store_name == nullptr)
    return ERROR_INVALID_PARAMETER;
  const UniqueCert cert(Crypt().CertCreateCertificateContext(kEncoding, der, der_len));
  if (!cert)
    return LastErrorOr(static_cast<DWORD>(CRYPT_E_ASN1_BADTAG));
  const UniqueStore store = OpenSystemStore(CERT_SYSTEM_STORE_CURRENT_USER, store_name);
  if (!store)
    return LastErrorOr(static_cast<DWORD>(E_FAIL));
  if (!Crypt().CertAddCertificateContextToStore(store.get(), cert.get(),
                                                CERT_STORE_ADD_USE_EXISTING, nullptr)) {
    return LastErrorOr(static_cast<DWORD>(E_FAIL));
  }
  return 0;
}

std::wstring Thumbprint(const BYTE* der, DWORD der_len) {
  if (!Crypt().complete)
    return {};
  const UniqueCert cert(Crypt().CertCreateCertificateContext(kEncoding, der, der_len));
  BYTE hash[kSha1Bytes];
  DWORD size = sizeof hash;
  if (!cert ||
      !Crypt().CertGetCertificateContextProperty(cert.get(), CERT_SHA1_HASH_PROP_ID, hash, &size) ||
      size != kSha1Bytes)
    return {};
  return text::HexUpperWide(hash, sizeof hash);
}

bool StoreHolds(DWORD location, const wchar_t* store_name, const BYTE* der, DWORD der_len) {
  if (!Crypt().complete)
    return false;
  const UniqueCert cert(Crypt().CertCreateCertificateContext(kEncoding, der, der_len));
  if (!cert || store_name == nullptr)
    return false;
  const UniqueStore store(Crypt().CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                                location | CERT_STORE_READONLY_FLAG, store_name));
  return store && UniqueCert(Crypt().CertFindCertificateInStore(
                      store.get(), kEncoding, 0, CERT_FIND_EXISTING, cert.get(), nullptr));
}

DWORD RemoveFromSystemStore(DWORD location, const wchar_t* store_name,
                            const std::wstring& thumbprint) {
  if (!Crypt().complete)
    return ERROR_MOD_NOT_FOUND;
  BYTE hash[kSha1Bytes];
  if (store_name == nullptr || thumbprint.size() != 2 * kSha1Bytes)
    return ERROR_INVALID_PARAMETER;
  for (DWORD i = 0; i < kSha1Bytes; ++i) {
    const int high = text::HexDigitValue(thumbprint[2 * i]);
    const int low = text::HexDigitValue(thumbprint[2 * i + 1]);
    if (high < 0 || low < 0)
      return ERROR_INVALID_PARAMETER;
    hash[i] = static_cast<BYTE>(high << 4 | low);
  }
  const UniqueStore store(
      Crypt().CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, location, store_name));
  if (!store)
    return LastErrorOr(static_cast<DWORD>(E_FAIL));
  CRYPT_HASH_BLOB blob{kSha1Bytes, hash};
  PCCERT_CONTEXT found = Crypt().CertFindCertificateInStore(store.get(), kEncoding, 0,
                                                            CERT_FIND_SHA1_HASH, &blob, nullptr);
  if (found == nullptr)
    return 0;
  // Deleting frees the context, also on failure.
  return Crypt().CertDeleteCertificateFromStore(found) ? 0
                                                       : LastErrorOr(static_cast<DWORD>(E_FAIL));
}

}  // namespace koba::certstore
