#include "code_signature.h"

#include <windows.h>

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include "settings.h"

namespace koba::codesign {
namespace {

constexpr const wchar_t* kVendorLibraries[] = {L"Q2Token_koba.dll", L"Q2CSP_KOBA.dll",
                                               L"Q2DevEx01_koba.dll"};

// One WinVerifyTrust verification whose state is released when the scope ends.
class TrustVerification {
 public:
  explicit TrustVerification(const std::wstring& path) {
    file_.cbStruct = sizeof file_;
    file_.pcwszFilePath = path.c_str();
    data_.cbStruct = sizeof data_;
    data_.dwUIChoice = WTD_UI_NONE;
    data_.fdwRevocationChecks = WTD_REVOKE_NONE;
    data_.dwUnionChoice = WTD_CHOICE_FILE;
    data_.pFile = &file_;
    data_.dwStateAction = WTD_STATEACTION_VERIFY;
    data_.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
    status_ = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action_, &data_);
  }
  ~TrustVerification() {
    data_.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action_, &data_);
  }
  TrustVerification(const TrustVerification&) = delete;
  TrustVerification& operator=(const TrustVerification&) = delete;

  bool accepted() const { return status_ == ERROR_SUCCESS; }
  // The chain of the first signer, owned by the verification state.
  PCCERT_CHAIN_CONTEXT SignerChain() const {
    CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(data_.hWVTStateData);
    CRYPT_PROVIDER_SGNR* signer =
        provider != nullptr ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    return signer != nullptr ? signer->pChainContext : nullptr;
  }

 private:
  GUID action_ = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  WINTRUST_FILE_INFO file_{};
  WINTRUST_DATA data_{};
  LONG status_ = TRUST_E_NOSIGNATURE;
};

}  // namespace

bool FileSignatureTrusted(const std::wstring& path) {
  const TrustVerification verification(path);
  if (!verification.accepted()) {
    return false;
  }
  // The signer's chain must be clean and pass the Authenticode policy as well.
  const PCCERT_CHAIN_CONTEXT chain = verification.SignerChain();
  if (chain == nullptr || chain->TrustStatus.dwErrorStatus != CERT_TRUST_NO_ERROR) {
    return false;
  }
  CERT_CHAIN_POLICY_PARA policy{};
  policy.cbSize = sizeof policy;
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof status;
  return CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE, chain, &policy,
                                          &status) &&
         status.dwError == ERROR_SUCCESS;
}

bool VendorLibrariesSigned(const std::wstring& folder) {
  if (folder.empty()) {
    return false;
  }
  for (const wchar_t* name : kVendorLibraries) {
    if (!FileSignatureTrusted(folder + name)) {
      return false;
    }
  }
  return true;
}

bool DebuggerAttached() {
  if (IsDebuggerPresent()) {
    return true;
  }
  BOOL remote = FALSE;
  return CheckRemoteDebuggerPresent(GetCurrentProcess(), &remote) && remote;
}

bool VendorGateOpen() {
  if (DebuggerAttached()) {
    return false;
  }
  const std::wstring token = settings::SystemLibraryPath(L"Q2Token_koba.dll");
  const size_t slash = token.find_last_of(L'\\');
  return slash != std::wstring::npos && VendorLibrariesSigned(token.substr(0, slash + 1));
}

}  // namespace koba::codesign
