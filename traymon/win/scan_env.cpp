#include "scan_env.h"

#include "cert_store.h"
#include "csp.h"
#include "settings.h"
#include "token_api.h"
#include "usage_log.h"
#include "win_handle.h"

namespace koba::traymon {
namespace {

// The machine settings key as the scan opens it (it never creates it).
constexpr wchar_t kMachineKey[] = L"SOFTWARE\\Korvanet\\507Q2_KOBA";
constexpr wchar_t kUserKey[] = L"SoftWare\\Korvanet\\507Q2_KOBA";
constexpr wchar_t kFontMap[] = L"\\res\\FontLib.map";
constexpr uint8_t kDisplayFontLibrary = 0x20;
constexpr DWORD kInstallPathBytes = 520;

bool FontMapInstalled() {
  char install[kInstallPathBytes];
  if (settings::ReadRegString(HKEY_LOCAL_MACHINE, settings::kSettingsKey, L"InstallPath", install,
                              sizeof install) != ERROR_SUCCESS) {
    return false;
  }
  std::wstring path;
  const int n = MultiByteToWideChar(CP_ACP, 0, install, -1, nullptr, 0);
  if (n <= 0)
    return false;
  path.resize(static_cast<size_t>(n));
  MultiByteToWideChar(CP_ACP, 0, install, -1, path.data(), n);
  path.resize(static_cast<size_t>(n - 1));
  path += kFontMap;
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

void BroadcastToApplications(UINT message, WPARAM wparam, LPARAM lparam) {
  DWORD recipients = BSM_APPLICATIONS;
  BroadcastSystemMessageW(BSF_POSTMESSAGE, &recipients, message, wparam, lparam);
}

void DeleteUiLanguageValues() {
  HKEY raw = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kUserKey, 0, KEY_SET_VALUE, &raw) != ERROR_SUCCESS)
    return;
  const win::UniqueRegKey key(raw);
  RegDeleteValueW(key.get(), L"UILang");
  RegDeleteValueW(key.get(), L"UISupport");
}

bool WinScanEnvironment::GetSlotList(std::vector<uint32_t>* slots) {
  uint32_t list[token::kSlotListCapacity] = {};
  uint32_t count = token::kSlotListCount;
  if (api_.GetSlotList(1, list, &count) != token::kOk)
    return false;
  if (count > token::kSlotListCount)
    count = token::kSlotListCount;
  slots->assign(list, list + count);
  return true;
}

bool WinScanEnvironment::StillPresent(uint32_t slot) {
  return api_.ManTokenParam(slot, token::kParamStillPresent, nullptr) == token::kOk;
}

void WinScanEnvironment::ReadDeviceInfo(uint32_t slot, std::vector<uint8_t>* record) {
  const uint32_t size = token::devinfo::kSize;
  memcpy(record->data(), &size, sizeof size);
  api_.GetDeviceInfo(slot, 0, record->data());
}

void WinScanEnvironment::UpdateFontLibrary(uint32_t slot) {
  uint8_t flags = 0;
  if (api_.ManTokenParam(slot, token::kParamDisplayFlags, &flags) != token::kOk)
    flags = 0;
  const uintptr_t use = (flags & kDisplayFontLibrary) != 0 && FontMapInstalled() ? 1 : 0;
  api_.ManTokenParam(slot, token::kParamFontLibrary, reinterpret_cast<void*>(use));
}

bool WinScanEnvironment::EnumContainers(const std::string& token_path,
                                        std::vector<std::string>* names) {
  return csp::SystemCsp().EnumContainerNames(token_path, names) == 0;
}

bool WinScanEnvironment::GetContainerKey(const std::string& container, uint32_t key_spec,
                                         ContainerKey* key) {
  csp::KeyInfo info;
  if (csp::SystemCsp().GetContainerKeyInfo(container, key_spec, &info) != 0)
    return false;
  key->certificate_kind = info.certificate_kind;
  key->key_algorithm = info.key_algorithm;
  key->certificate = std::move(info.certificate);
  return true;
}

void WinScanEnvironment::RegisterCertificate(const std::string& container, uint32_t key_spec,
                                             const std::vector<uint8_t>& certificate) {
  certstore::RegisterCertificate(kKeyCspName, container.c_str(), key_spec, certificate.data(),
                                 static_cast<DWORD>(certificate.size()));
}

void WinScanEnvironment::DeleteCertificates(const std::string& prefix, int selector) {
  certstore::DeleteStoredCertificates(kKeyCspName, prefix.empty() ? nullptr : prefix.c_str(),
                                      selector);
}

void WinScanEnvironment::WriteUsageRecord(UsageEvent event, const std::string& serial) {
  traymon::WriteUsageRecord(event, serial.c_str());
}

void WinScanEnvironment::AppendDiagRecord(const std::string& serial, const char* name) {
  diag_.AppendLogRecord(serial.c_str(), name);
}

void WinScanEnvironment::WriteMachineValue(const std::string& name, uint32_t data) {
  HKEY raw = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMachineKey, 0, KEY_ALL_ACCESS, &raw) != ERROR_SUCCESS)
    return;
  const win::UniqueRegKey key(raw);
  const DWORD value = data;
  RegSetValueExA(key.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                 sizeof value);
}

void WinScanEnvironment::DeleteUiLanguage() {
  DeleteUiLanguageValues();
}

void WinScanEnvironment::Broadcast(uint32_t wparam) {
  BroadcastToApplications(message_, wparam, kBroadcastAfterScan);
}

}  // namespace koba::traymon
