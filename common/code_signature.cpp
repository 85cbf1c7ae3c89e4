#include "code_signature.h"

#include <windows.h>

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include "settings.h"
#include "trust_request.h"

namespace koba::codesign {
namespace {

constexpr const wchar_t* kVendorLibraries[] = {L"Q2Token_koba.dll", L"Q2CSP_KOBA.dll",
                                               L"Q2DevEx01_koba.dll"};

// The access a verified file is opened with: others may read it, load it and rename or delete
// it, but not write to it while the handle is open.
win::UniqueHandle OpenForVerification(const std::wstring& path) {
  return win::OwnFile(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// One WinVerifyTrust verification of the open file whose state is released when the scope
// ends. The verifier reads through the handle, so what it checks is the file held open.
class TrustVerification {
 public:
  TrustVerification(const std::wstring& path, HANDLE file) : request_(path.c_str(), file) {
    status_ =
        WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &request_.action, &request_.data);
  }
  ~TrustVerification() {
    request_.data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &request_.action, &request_.data);
  }
  TrustVerification(const TrustVerification&) = delete;
  TrustVerification& operator=(const TrustVerification&) = delete;

  bool accepted() const { return status_ == ERROR_SUCCESS; }
  // The chain of the first signer, owned by the verification state.
  PCCERT_CHAIN_CONTEXT SignerChain() const {
    CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(request_.data.hWVTStateData);
    CRYPT_PROVIDER_SGNR* signer =
        provider != nullptr ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    return signer != nullptr ? signer->pChainContext : nullptr;
  }

 private:
  TrustRequest request_;
  LONG status_ = TRUST_E_NOSIGNATURE;
};

bool HandleSignatureTrusted(const std::wstring& path, HANDLE file) {
  const TrustVerification verification(path, file);
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

// The lock held for a scope.
class ExclusiveLock {
 public:
  explicit ExclusiveLock(SRWLOCK* lock) : lock_(lock) { AcquireSRWLockExclusive(lock_); }
  ~ExclusiveLock() { ReleaseSRWLockExclusive(lock_); }
  ExclusiveLock(const ExclusiveLock&) = delete;
  ExclusiveLock& operator=(const ExclusiveLock&) = delete;

 private:
  SRWLOCK* lock_;
};

template <typename Check>
bool AllVendorLibraries(const std::wstring& folder, Check check) {
  if (folder.empty()) {
    return false;
  }
  for (const wchar_t* name : kVendorLibraries) {
    if (!check(folder + name)) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool FileSignatureTrusted(const std::wstring& path) {
  const win::UniqueHandle file = OpenForVerification(path);
  return file && HandleSignatureTrusted(path, file.get());
}

bool VerifiedFiles::Identity::operator==(const Identity& other) const {
  return volume == other.volume && index_high == other.index_high && index_low == other.index_low &&
         size_high == other.size_high && size_low == other.size_low &&
         CompareFileTime(&last_write, &other.last_write) == 0;
}

bool VerifiedFiles::Trusted(const std::wstring& path) {
  win::UniqueHandle file = OpenForVerification(path);
  BY_HANDLE_FILE_INFORMATION info{};
  if (!file || !GetFileInformationByHandle(file.get(), &info)) {
    return false;
  }
  const Identity identity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow,
                          info.nFileSizeHigh,        info.nFileSizeLow,   info.ftLastWriteTime};
  const ExclusiveLock held(&lock_);
  for (const Entry& entry : entries_) {
    // Its handle has kept it from being written since it was verified.
    if (entry.identity == identity) {
      return true;
    }
  }
  ++verifications_;
  if (!HandleSignatureTrusted(path, file.get())) {
    return false;
  }
  // The file this path named before, if any, is not the one loaded from it any more.
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (CompareStringOrdinal(it->path.c_str(), -1, path.c_str(), -1, TRUE) == CSTR_EQUAL) {
      entries_.erase(it);
      break;
    }
  }
  entries_.push_back({path, identity, std::move(file)});
  return true;
}

bool VendorLibrariesSigned(const std::wstring& folder) {
  return AllVendorLibraries(folder,
                            [](const std::wstring& path) { return FileSignatureTrusted(path); });
}

bool VendorLibrariesSigned(const std::wstring& folder, VerifiedFiles& verified) {
  return AllVendorLibraries(folder,
                            [&](const std::wstring& path) { return verified.Trusted(path); });
}

bool DebuggerAttached() {
  if (IsDebuggerPresent()) {
    return true;
  }
  BOOL remote = FALSE;
  return CheckRemoteDebuggerPresent(GetCurrentProcess(), &remote) && remote;
}

bool InstalledVendorLibrariesTrusted() {
  static VerifiedFiles verified;
  const std::wstring token = settings::SystemLibraryPath(L"Q2Token_koba.dll");
  const size_t slash = token.find_last_of(L'\\');
  return slash != std::wstring::npos && VendorLibrariesSigned(token.substr(0, slash + 1), verified);
}

bool VendorGateOpen() {
  return !DebuggerAttached() && InstalledVendorLibrariesTrusted();
}

}  // namespace koba::codesign
