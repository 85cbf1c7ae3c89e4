// Runs the token control's own queries on the installed system and prints their results, so
// that tests can drive them against keys laid out with `vkey`:
//   control_probe getpublickey | getpublickeynum | registercert | unregistercert | listmy
// prints "<code> <result>"; listmy prints one line per certificate of the user's MY store:
// "<provider>|<container>|<key spec>|<subject>".
#include <windows.h>

#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cert_store.h"
#include "queries.h"

namespace {

int ListMy() {
  HCERTSTORE store =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                    CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_READONLY_FLAG, L"MY");
  if (store == nullptr)
    return 1;
  PCCERT_CONTEXT cert = nullptr;
  while ((cert = CertEnumCertificatesInStore(store, cert)) != nullptr) {
    DWORD size = 0;
    std::string provider = "-", container = "-";
    DWORD spec = 0;
    if (CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
      std::vector<BYTE> buf(size);
      if (CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, buf.data(), &size)) {
        const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buf.data());
        char text[512];
        WideCharToMultiByte(CP_UTF8, 0, info->pwszProvName, -1, text, sizeof text, nullptr,
                            nullptr);
        provider = text;
        WideCharToMultiByte(CP_UTF8, 0, info->pwszContainerName, -1, text, sizeof text, nullptr,
                            nullptr);
        container = text;
        spec = info->dwKeySpec;
      }
    }
    char subject[512] = {};
    koba::certstore::CertificateFieldA(cert->pbCertEncoded, cert->cbCertEncoded,
                                       koba::certstore::kSubjectDn, subject, sizeof subject);
    std::printf("%s|%s|%lu|%s\n", provider.c_str(), container.c_str(),
                static_cast<unsigned long>(spec), subject);
  }
  CertCloseStore(store, 0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2)
    return 2;
  const std::string cmd = argv[1];
  if (cmd == "listmy")
    return ListMy();
  koba::core::TokenCore core;
  koba::csp::CspInterface& csp = koba::csp::SystemCsp();
  char text[4096] = {};
  int code = 0;
  if (cmd == "getpublickey") {
    code = koba::core::GetPublicKey(core, csp, text, sizeof text);
  } else if (cmd == "getpublickeynum") {
    int count = 0;
    code = koba::core::GetPublicKeyNum(core, csp, &count);
    std::snprintf(text, sizeof text, "%d", count);
  } else if (cmd == "registercert") {
    code = koba::core::RegisterCert(core, csp);
  } else if (cmd == "unregistercert") {
    code = koba::core::UnRegisterCert(core);
  } else {
    return 2;
  }
  std::printf("%d %s\n", code, text);
  return 0;
}
