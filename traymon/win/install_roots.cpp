#include "install_roots.h"

#include <windows.h>

#include <cwchar>
#include <initializer_list>
#include <string>
#include <vector>

#include "bank_ca.h"
#include "cert_store.h"
#include "settings.h"
#include "win_handle.h"

namespace koba::traymon {
namespace {

constexpr DWORD kVersionChars = 128;
constexpr DWORD kValueNameChars = 64;
constexpr DWORD kStoreNameChars = 16;
constexpr wchar_t kDomainsKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains\\";
constexpr wchar_t kTrustedZoneKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Zones\\2";

// A certificate store with the settings key of its owner, where the installation notes the
// certificates it added there: "<settings key>\AddedCACertificates\<store>", one value per
// certificate, named by its thumbprint.
struct OwnedStore {
  HKEY owner;
  DWORD location;
  const wchar_t* name;
};
const OwnedStore kUserRoot{HKEY_CURRENT_USER, CERT_SYSTEM_STORE_CURRENT_USER, L"ROOT"};
const OwnedStore kUserCa{HKEY_CURRENT_USER, CERT_SYSTEM_STORE_CURRENT_USER, L"CA"};
const OwnedStore kMachineRoot{HKEY_LOCAL_MACHINE, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT"};
const OwnedStore kMachineCa{HKEY_LOCAL_MACHINE, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"CA"};

std::wstring AddedKey() {
  return std::wstring(settings::kSettingsKey) + L"\\AddedCACertificates";
}

// Where each CA certificate also goes for the current user (before the machine store).
const OwnedStore* UserStoreFor(int index) {
  if (index < 3)
    return &kUserRoot;
  if (index < 5)
    return &kUserCa;
  return nullptr;
}

void NoteAdded(const OwnedStore& store, const std::wstring& thumbprint, const BYTE* der,
               DWORD size) {
  HKEY raw = nullptr;
  if (RegCreateKeyExW(store.owner, (AddedKey() + L"\\" + store.name).c_str(), 0, nullptr, 0,
                      KEY_SET_VALUE, nullptr, &raw, nullptr) != ERROR_SUCCESS)
    return;
  const win::UniqueRegKey key(raw);
  // The subject, for whoever reads the registry.
  wchar_t subject[256] = {};
  certstore::CertificateFieldW(der, size, certstore::kSubjectDn, subject, 256);
  RegSetValueExW(key.get(), thumbprint.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(subject),
                 static_cast<DWORD>((wcslen(subject) + 1) * sizeof(wchar_t)));
}

// Runs `add` and notes the certificate for every store of `stores` that shows it afterwards
// and did not before: a copy that was there already belongs to someone else.
template <typename Add>
void AddNoting(const bankca::Certificate& ca, std::initializer_list<const OwnedStore*> stores,
               Add add) {
  const DWORD size = static_cast<DWORD>(ca.size);
  std::vector<bool> held;
  for (const OwnedStore* store : stores)
    held.push_back(certstore::StoreHolds(store->location, store->name, ca.der, size));
  add(ca.der, size);
  const std::wstring thumbprint = certstore::Thumbprint(ca.der, size);
  size_t i = 0;
  for (const OwnedStore* store : stores) {
    if (!held[i++] && !thumbprint.empty() &&
        certstore::StoreHolds(store->location, store->name, ca.der, size))
      NoteAdded(*store, thumbprint, ca.der, size);
  }
}

std::vector<std::wstring> SubkeysOf(HKEY key) {
  std::vector<std::wstring> names;
  wchar_t name[kStoreNameChars];
  DWORD chars = kStoreNameChars;
  while (RegEnumKeyExW(key, static_cast<DWORD>(names.size()), name, &chars, nullptr, nullptr,
                       nullptr, nullptr) == ERROR_SUCCESS) {
    names.emplace_back(name, chars);
    chars = kStoreNameChars;
  }
  return names;
}

std::vector<std::wstring> ValuesOf(HKEY key) {
  std::vector<std::wstring> names;
  wchar_t name[kValueNameChars];
  DWORD chars = kValueNameChars;
  while (RegEnumValueW(key, static_cast<DWORD>(names.size()), name, &chars, nullptr, nullptr,
                       nullptr, nullptr) == ERROR_SUCCESS) {
    names.emplace_back(name, chars);
    chars = kValueNameChars;
  }
  return names;
}

bool IsEmpty(HKEY key) {
  DWORD subkeys = 0;
  DWORD values = 0;
  return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                          nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
         subkeys == 0 && values == 0;
}

// Takes the noted certificates out of the owner's stores; a note goes only with its
// certificate, and the keys go when no note is left.
void RemoveNoted(HKEY owner, DWORD location) {
  HKEY raw = nullptr;
  if (RegOpenKeyExW(owner, AddedKey().c_str(), 0, KEY_READ, &raw) != ERROR_SUCCESS)
    return;
  const win::UniqueRegKey added(raw);
  for (const std::wstring& store : SubkeysOf(added.get())) {
    if (RegOpenKeyExW(added.get(), store.c_str(), 0, KEY_READ | KEY_SET_VALUE, &raw) !=
        ERROR_SUCCESS)
      continue;
    const win::UniqueRegKey notes(raw);
    for (const std::wstring& thumbprint : ValuesOf(notes.get())) {
      if (certstore::RemoveFromSystemStore(location, store.c_str(), thumbprint) == 0)
        RegDeleteValueW(notes.get(), thumbprint.c_str());
    }
    if (IsEmpty(notes.get()))
      RegDeleteKeyW(added.get(), store.c_str());
  }
  if (IsEmpty(added.get()))
    RegDeleteKeyW(owner, AddedKey().c_str());
}

}  // namespace

void InstallRoots(bool skip_user_stores) {
  for (int i = 0; i < bankca::kCount; ++i) {
    const bankca::Certificate& ca = bankca::At(i);
    const OwnedStore* user = UserStoreFor(i);
    if (!skip_user_stores && user != nullptr) {
      AddNoting(ca, {user}, [user](const BYTE* der, DWORD size) {
        certstore::AddToSystemStore(user->name, der, size);
      });
    }
    AddNoting(ca, {&kMachineRoot, &kMachineCa}, [](const BYTE* der, DWORD size) {
      certstore::RegisterCertificate(nullptr, nullptr, 0, der, size);
    });
  }
}

void RemoveInstalledRoots() {
  RemoveNoted(HKEY_CURRENT_USER, CERT_SYSTEM_STORE_CURRENT_USER);
  RemoveNoted(HKEY_LOCAL_MACHINE, CERT_SYSTEM_STORE_LOCAL_MACHINE);
}

void TouchBrowserSettings() {
  wchar_t version[kVersionChars];
  if (settings::ReadRegStringW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Internet Explorer",
                               L"Version", version, kVersionChars) == ERROR_SUCCESS &&
      version[0] > L'6') {
    HKEY raw = nullptr;
    const std::wstring parent = std::wstring(kDomainsKey) + kBankDomain;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, parent.c_str(), 0, KEY_ALL_ACCESS, &raw) ==
        ERROR_SUCCESS) {
      const win::UniqueRegKey key(raw);
      RegDeleteKeyW(key.get(), L"*");
    }
  }
  HKEY raw = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kTrustedZoneKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &raw) !=
      ERROR_SUCCESS) {
    return;
  }
  const win::UniqueRegKey zone(raw);
  DWORD value = 0;
  DWORD size = sizeof value;
  DWORD type = 0;
  if (RegQueryValueExW(zone.get(), L"2201", nullptr, &type, reinterpret_cast<BYTE*>(&value),
                       &size) == ERROR_SUCCESS &&
      type == REG_DWORD && value != 0) {
    value = 0;
    RegSetValueExW(zone.get(), L"2201", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                   sizeof value);
  }
}

}  // namespace koba::traymon
