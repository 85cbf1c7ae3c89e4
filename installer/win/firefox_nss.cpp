// Firefox's security devices through Firefox's own NSS libraries, loaded from its installation
// folder: the system's PKCS#11 module registered once in the first profile's module database.
#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>

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
    if (!pr_init_ || !nss_initialize_ || !nss_shutdown_ || !find_module || !default_modules ||
        !add_new_module)
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

  SecmodModule* (*find_module)(const char*) = nullptr;
  void (*destroy_module)(SecmodModule*) = nullptr;
  SecmodModuleList* (*default_modules)() = nullptr;
  SECStatus (*add_new_module)(const char*, const char*, unsigned long, unsigned long) = nullptr;

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
  if (!nss.ready())
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

}  // namespace
}  // namespace koba::installer::firefox

namespace nsis = koba::installer::nsis;

KOBA_NSIS_EXPORT(FFox_AddP11Name) {
  nsis::Arg<> library, name;
  if (library.Take() == nsis::Pop::kTooLong || name.Take() == nsis::Pop::kTooLong)
    return;
  koba::installer::firefox::AddSecurityDevice(library.text, name.text);
}
