// Firefox's certificate and module databases through Firefox's own NSS libraries, loaded from
// its installation folder: the bank's CA certificates imported with their trust, and the
// system's PKCS#11 module registered once, both in the first profile.
#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "bank_ca.h"
#include "firefox_profiles.h"
#include "nsis_plugin.h"
#include "system_info.h"

namespace koba::installer::firefox {
namespace {

// The few NSS and NSPR shapes the calls need, as NSS publishes them: SECStatus and PRBool are
// ints, a module list entry is (next, module), and a module begins with its arena, three
// PRBools and its library name.
using SECStatus = int;
constexpr SECStatus kSecSuccess = 0;
struct SecmodModule {
  void* arena;
  int internal;
  int loaded;
  int is_fips;
  char* dll_name;
  char* common_name;
};
struct SecmodModuleList {
  SecmodModuleList* next;
  SecmodModule* module;
};
// Opaque to the caller.
struct Certificate;
struct Slot;
struct CertDb;
// NSS's trust record: flags for SSL, e-mail and object signing.
struct CertTrust {
  unsigned ssl;
  unsigned email;
  unsigned object_signing;
};
constexpr unsigned kTrustedCa = 0x10;        // CERTDB_TRUSTED_CA
constexpr unsigned kTrustedClientCa = 0x80;  // CERTDB_TRUSTED_CLIENT_CA
constexpr unsigned kRootTrust = kTrustedCa | kTrustedClientCa;
constexpr unsigned kTerminalTrusted = 0x1 | 0x2;  // CERTDB_TERMINAL_RECORD | CERTDB_TRUSTED
// The bank's certificates that go to Firefox, of bank_ca.h's order; the first three are roots.
constexpr int kFirefoxCertificates = 5;
constexpr int kFirefoxRoots = 3;

struct LibraryFreer {
  void operator()(HMODULE module) const { FreeLibrary(module); }
};
using UniqueLibrary = std::unique_ptr<std::remove_pointer_t<HMODULE>, LibraryFreer>;

template <typename F>
F Resolve(HMODULE module, const char* name) {
  return module == nullptr
             ? nullptr
             : reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// NSS loaded from the current installation and initialised on the first profile; shut down
// and unloaded when it goes.
class NssSession {
 public:
  NssSession() {
    const std::wstring dir = CurrentInstallDirectory();
    if (dir.empty())
      return;
    SetCurrentDirectoryW(dir.c_str());
    nss3_.reset(LoadLibraryW((dir + L"\\nss3.dll").c_str()));
    nspr4_.reset(LoadLibraryW((dir + L"\\nspr4.dll").c_str()));
    smime3_.reset(LoadLibraryW((dir + L"\\smime3.dll").c_str()));
    if (!nss3_)
      return;
    HMODULE nspr = nspr4_ ? nspr4_.get() : nss3_.get();
    pr_init_ = Resolve<void (*)(int, int, unsigned)>(nspr, "PR_Init");
    pr_cleanup_ = Resolve<int (*)()>(nspr, "PR_Cleanup");
    nss_initialize_ =
        Resolve<SECStatus (*)(const char*, const char*, const char*, const char*, unsigned)>(
            nss3_.get(), "NSS_Initialize");
    nss_shutdown_ = Resolve<SECStatus (*)()>(nss3_.get(), "NSS_Shutdown");
    find_module = Resolve<SecmodModule* (*)(const char*)>(nss3_.get(), "SECMOD_FindModule");
    destroy_module = Resolve<void (*)(SecmodModule*)>(nss3_.get(), "SECMOD_DestroyModule");
    default_modules = Resolve<SecmodModuleList* (*)()>(nss3_.get(), "SECMOD_GetDefaultModuleList");
    add_new_module = Resolve<SECStatus (*)(const char*, const char*, unsigned long, unsigned long)>(
        nss3_.get(), "SECMOD_AddNewModule");
    HMODULE smime = smime3_ ? smime3_.get() : nss3_.get();
    decode_cert = Resolve<Certificate* (*)(char*, int)>(smime, "CERT_DecodeCertFromPackage");
    destroy_cert = Resolve<void (*)(Certificate*)>(smime, "CERT_DestroyCertificate");
    internal_key_slot = Resolve<Slot* (*)()>(nss3_.get(), "PK11_GetInternalKeySlot");
    free_slot = Resolve<void (*)(Slot*)>(nss3_.get(), "PK11_FreeSlot");
    // The object handle is a CK_ULONG: 32 bits on Windows.
    import_cert = Resolve<SECStatus (*)(Slot*, Certificate*, unsigned long, const char*, int)>(
        nss3_.get(), "PK11_ImportCert");
    default_cert_db = Resolve<CertDb* (*)()>(nss3_.get(), "CERT_GetDefaultCertDB");
    get_trust =
        Resolve<SECStatus (*)(const Certificate*, CertTrust*)>(nss3_.get(), "CERT_GetCertTrust");
    change_trust = Resolve<SECStatus (*)(CertDb*, Certificate*, CertTrust*)>(
        nss3_.get(), "CERT_ChangeCertTrust");
    if (!pr_init_ || !nss_initialize_ || !nss_shutdown_)
      return;
    pr_init_(1, 1, 1);
    const std::vector<Profile> profiles = Profiles();
    if (profiles.empty())
      return;
    const std::string config = ToAnsi(profiles[0].folder);
    initialised_ =
        !config.empty() && nss_initialize_(config.c_str(), "", "", "secmod.db", 0) == kSecSuccess;
  }
  ~NssSession() {
    if (initialised_)
      nss_shutdown_();
    if (pr_cleanup_ != nullptr && pr_init_ != nullptr)
      pr_cleanup_();
  }
  NssSession(const NssSession&) = delete;
  NssSession& operator=(const NssSession&) = delete;

  bool ready() const { return initialised_; }
  bool has_modules() const { return find_module && default_modules && add_new_module; }
  bool has_certificates() const {
    return decode_cert && destroy_cert && internal_key_slot && free_slot && import_cert &&
           default_cert_db && get_trust && change_trust;
  }

  SecmodModule* (*find_module)(const char*) = nullptr;
  void (*destroy_module)(SecmodModule*) = nullptr;
  SecmodModuleList* (*default_modules)() = nullptr;
  SECStatus (*add_new_module)(const char*, const char*, unsigned long, unsigned long) = nullptr;
  Certificate* (*decode_cert)(char*, int) = nullptr;
  void (*destroy_cert)(Certificate*) = nullptr;
  Slot* (*internal_key_slot)() = nullptr;
  void (*free_slot)(Slot*) = nullptr;
  SECStatus (*import_cert)(Slot*, Certificate*, unsigned long, const char*, int) = nullptr;
  CertDb* (*default_cert_db)() = nullptr;
  SECStatus (*get_trust)(const Certificate*, CertTrust*) = nullptr;
  SECStatus (*change_trust)(CertDb*, Certificate*, CertTrust*) = nullptr;

 private:
  UniqueLibrary nss3_, nspr4_, smime3_;
  void (*pr_init_)(int, int, unsigned) = nullptr;
  int (*pr_cleanup_)() = nullptr;
  SECStatus (*nss_initialize_)(const char*, const char*, const char*, const char*,
                               unsigned) = nullptr;
  SECStatus (*nss_shutdown_)() = nullptr;
  bool initialised_ = false;
};

std::string LowerAnsi(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
  return text.size() < MAX_PATH ? text : text.substr(0, MAX_PATH - 1);
}

void AddSecurityDevice(const std::wstring& library_file, const std::wstring& module_name) {
  const std::string file = LowerAnsi(ToAnsi(library_file));
  const std::string name = LowerAnsi(ToAnsi(module_name));
  if (file.empty() || name.empty())
    return;
  NssSession nss;
  if (!nss.ready() || !nss.has_modules())
    return;
  SecmodModuleList* modules = nss.default_modules();
  for (SecmodModuleList* entry = modules; entry != nullptr; entry = entry->next) {
    if (entry->module != nullptr && entry->module->dll_name != nullptr &&
        LowerAnsi(entry->module->dll_name).find(file) != std::string::npos)
      return;
  }
  wchar_t windows[MAX_PATH] = {};
  if (GetWindowsDirectoryW(windows, MAX_PATH) == 0)
    return;
  const std::string path =
      ToAnsi(std::wstring(windows) + (IsWow64() ? L"\\syswow64\\" : L"\\system32\\")) + file;
  if (modules == nullptr)
    return;
  SecmodModule* existing = nss.find_module(name.c_str());
  if (existing != nullptr) {
    if (nss.destroy_module != nullptr)
      nss.destroy_module(existing);
    return;
  }
  nss.add_new_module(name.c_str(), path.c_str(), 0, 0);
}

// One certificate into the internal key slot, then its trust: a root is trusted to issue
// for every use; the others keep their e-mail and object-signing trust and become trusted
// for SSL.
void ImportCertificate(const NssSession& nss, const bankca::Certificate& ca, bool root) {
  const std::unique_ptr<Slot, void (*)(Slot*)> slot(nss.internal_key_slot(), nss.free_slot);
  if (!slot)
    return;
  std::vector<char> der(ca.der, ca.der + ca.size);
  const std::unique_ptr<Certificate, void (*)(Certificate*)> cert(
      nss.decode_cert(der.data(), static_cast<int>(der.size())), nss.destroy_cert);
  if (!cert || nss.import_cert(slot.get(), cert.get(), 0, nullptr, 0) != kSecSuccess)
    return;
  CertDb* db = nss.default_cert_db();
  if (db == nullptr)
    return;
  CertTrust trust{kRootTrust, kRootTrust, kRootTrust};
  if (!root) {
    // A certificate without a trust record reads as none.
    trust = {};
    nss.get_trust(cert.get(), &trust);
    trust.ssl = kTerminalTrusted;
  }
  nss.change_trust(db, cert.get(), &trust);
}

void AddRootCertificates() {
  NssSession nss;
  if (!nss.ready() || !nss.has_certificates())
    return;
  for (int i = 0; i < kFirefoxCertificates; ++i)
    ImportCertificate(nss, bankca::At(i), i < kFirefoxRoots);
}

}  // namespace
}  // namespace koba::installer::firefox

namespace nsis = koba::installer::nsis;

KOBA_NSIS_EXPORT(FFox_AddRootCert) {
  koba::installer::firefox::AddRootCertificates();
}

KOBA_NSIS_EXPORT(FFox_AddP11Name) {
  nsis::Arg<> library, name;
  if (library.Take() == nsis::Pop::kTooLong || name.Take() == nsis::Pop::kTooLong)
    return;
  koba::installer::firefox::AddSecurityDevice(library.text, name.text);
}
