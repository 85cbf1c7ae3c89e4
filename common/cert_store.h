// Helpers over the Windows certificate stores: fields of a certificate, registering a key's
// certificate with a link to its provider and container, CA and root certificates, and the
// removal of a key's stale certificates. They never touch the key itself. crypt32 is loaded
// when the first of them runs; when it cannot be, each returns ERROR_MOD_NOT_FOUND.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <wincrypt.h>

#include <string>

namespace koba::certstore {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// Selectors of CertificateField.
enum CertField : int {
  kSubjectName = 1,  // subject simple display name, at most 128 characters
  kNotAfter = 2,     // FILETIME, 8 bytes
  kSubjectDn = 3,    // subject X.500 string ("CN=Name, O=Org, C=CN"), at most 256 characters
  kNotBefore = 4,    // FILETIME, 8 bytes
  kIssuerName = 5,   // issuer simple display name, at most 256 characters
  kIssuerDn = 6,     // issuer name, values only, at most 256 characters
};

// Writes one field of a DER certificate to `out`, a buffer of `out_chars` characters (at
// least 8 bytes for the two times). Returns 0; the platform's error when the certificate does
// not decode; NTE_FAIL (0x80090020) when the name is not available; ERROR_INVALID_PARAMETER
// for an unknown selector or a buffer too small for the field.
DWORD CertificateFieldA(const BYTE* der, DWORD der_len, int selector, char* out, DWORD out_chars);
DWORD CertificateFieldW(const BYTE* der, DWORD der_len, int selector, wchar_t* out,
                        DWORD out_chars);

// Registers a certificate. Key spec 1 or 2: a user certificate, put into the current user's
// "MY" store linked to `provider` and `container` (ANSI, at most 256 characters each);
// self-signed ones are not registered. Key spec 0: a CA certificate, put into the machine's
// "ROOT" (self-signed) or "CA" store, keeping an existing copy. 0 or the error (also when the
// store refuses to keep a user certificate).
DWORD RegisterCertificate(const char* provider, const char* container, DWORD key_spec,
                          const BYTE* der, DWORD der_len);

// Removes certificates of `provider` from the current user's "MY" store. Selector -1: every
// certificate whose container is not a device path, and those whose device path begins with
// `prefix` (all of them when there is no prefix). Any other selector: those whose container
// begins with `prefix` (any, when there is none) and, for selector 1 or 2, whose key spec is
// the selector. 0 when the store opened, else the error.
DWORD DeleteStoredCertificates(const char* provider, const char* prefix, int selector);

// Adds a certificate to a system store of the current user, keeping an existing copy. 0 or
// the error (a store that does not open and a certificate that does not decode included).
DWORD AddToSystemStore(const wchar_t* store_name, const BYTE* der, DWORD der_len);

// The SHA-1 thumbprint of a DER certificate as 40 upper-case hex digits; empty when it does not
// decode.
std::wstring Thumbprint(const BYTE* der, DWORD der_len);

// Whether the system store `store_name` of `location` (CERT_SYSTEM_STORE_CURRENT_USER or
// _LOCAL_MACHINE) shows the certificate. The current user's view of "ROOT" and "CA" includes
// the machine's.
bool StoreHolds(DWORD location, const wchar_t* store_name, const BYTE* der, DWORD der_len);

// Deletes the certificate of that thumbprint from the registry store behind a system store
// (where a deletion persists). 0 when it is gone, also when it was not there; else the error.
DWORD RemoveFromSystemStore(DWORD location, const wchar_t* store_name,
                            const std::wstring& thumbprint);

}  // namespace koba::certstore
