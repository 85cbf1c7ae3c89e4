#include "install_roots.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cert_store.h"
#include "settings.h"
#include "win_handle.h"

namespace koba::traymon {
namespace {

constexpr int kCaCount = 8;
constexpr DWORD kMaxCertificateBytes = 64 * 1024;
constexpr DWORD kInstallPathChars = 260;
constexpr DWORD kVersionChars = 128;
constexpr wchar_t kDomainsKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains\\";
constexpr wchar_t kTrustedZoneKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Zones\\2";

// Where each CA certificate also goes for the current user (before the machine store).
const wchar_t* UserStoreFor(int index) {
  if (index < 3)
    return L"ROOT";
  if (index < 5)
    return L"CA";
  return nullptr;
}

bool ReadFileBytes(const std::wstring& path, std::vector<BYTE>* out) {
  const win::UniqueHandle file(win::OwnFile(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                        nullptr, OPEN_EXISTING, 0, nullptr)));
  if (!file)
    return false;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0 ||
      size.QuadPart > kMaxCertificateBytes) {
    return false;
  }
  out->resize(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  return ReadFile(file.get(), out->data(), static_cast<DWORD>(out->size()), &read, nullptr) &&
         read == out->size();
}

}  // namespace

void InstallRoots(bool skip_user_stores) {
  wchar_t install[kInstallPathChars];
  if (settings::ReadRegStringW(HKEY_LOCAL_MACHINE, settings::kSettingsKey, L"InstallPath", install,
                               kInstallPathChars) != ERROR_SUCCESS) {
    return;
  }
  for (int i = 0; i < kCaCount; ++i) {
    wchar_t name[32];
    std::swprintf(name, 32, L"\\certs\\ca%02d.cer", i + 1);
    std::vector<BYTE> der;
    if (!ReadFileBytes(std::wstring(install) + name, &der))
      continue;
    const DWORD size = static_cast<DWORD>(der.size());
    if (!skip_user_stores && UserStoreFor(i) != nullptr)
      certstore::AddToSystemStore(UserStoreFor(i), der.data(), size);
    certstore::RegisterCertificate(nullptr, nullptr, 0, der.data(), size);
  }
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
