#include "store_refusal.h"

// After windows.h, which the header brings.
#include <sddl.h>
#include <wincrypt.h>

#include <cwchar>
#include <memory>
#include <string>

#include "win_handle.h"

namespace koba::testing {
namespace {

constexpr wchar_t kCertificatesKey[] =
    L"Software\\Microsoft\\SystemCertificates\\MY\\Certificates\\";
// Reading and deletion for everyone; no write access, so the store cannot write the entry.
constexpr wchar_t kRefusingDacl[] = L"D:P(A;;KR;;;WD)(A;;SD;;;WD)";

struct ContextFreer {
  void operator()(PCCERT_CONTEXT c) const { CertFreeCertificateContext(c); }
};

// The entry's key under HKEY_CURRENT_USER, or an empty text when the certificate does not
// decode.
std::wstring EntryKey(const std::vector<unsigned char>& der) {
  const std::unique_ptr<const CERT_CONTEXT, ContextFreer> cert(CertCreateCertificateContext(
      X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
  BYTE hash[20];
  DWORD size = sizeof hash;
  if (!cert || !CertGetCertificateContextProperty(cert.get(), CERT_HASH_PROP_ID, hash, &size))
    return std::wstring();
  std::wstring key = kCertificatesKey;
  for (DWORD i = 0; i < size; ++i) {
    wchar_t hex[3];
    std::swprintf(hex, 3, L"%02X", hash[i]);
    key += hex;
  }
  return key;
}

}  // namespace

DWORD RefuseStoreEntry(const std::vector<unsigned char>& der) {
  const std::wstring path = EntryKey(der);
  if (path.empty())
    return static_cast<DWORD>(CRYPT_E_ASN1_BADTAG);
  PSECURITY_DESCRIPTOR raw_sd = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kRefusingDacl, SDDL_REVISION_1, &raw_sd,
                                                            nullptr)) {
    return GetLastError();
  }
  const win::UniqueLocal<void> sd(raw_sd);
  HKEY raw_key = nullptr;
  LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &raw_key, nullptr);
  if (rc != ERROR_SUCCESS)
    return static_cast<DWORD>(rc);
  const win::UniqueRegKey key(raw_key);
  // Set on the open key: Wine does not apply a descriptor given at creation.
  rc = RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, sd.get());
  return static_cast<DWORD>(rc);
}

DWORD AllowStoreEntry(const std::vector<unsigned char>& der) {
  const std::wstring path = EntryKey(der);
  if (path.empty())
    return static_cast<DWORD>(CRYPT_E_ASN1_BADTAG);
  const LONG rc = RegDeleteKeyW(HKEY_CURRENT_USER, path.c_str());
  return rc == ERROR_FILE_NOT_FOUND ? 0 : static_cast<DWORD>(rc);
}

}  // namespace koba::testing
