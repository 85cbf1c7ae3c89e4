// The scan's platform: the token library's entry points, the key's CSP, the user's personal
// store, the usage and diagnostic logs, the registry values and the broadcast.
#pragma once

#include <windows.h>

#include "diag_log.h"
#include "key_scan.h"
#include "token_core.h"

namespace koba::traymon {

// The registered window message sent after every scan that changed something.
constexpr wchar_t kBroadcastMessageName[] = L"{059D1DCF-7032-4eb5-A58B-33E72F639DC2}_KOBA";
// lParam of the broadcasts: after a scan, and when the monitor ends (wParam 0).
constexpr LPARAM kBroadcastAfterScan = 0x219;
constexpr LPARAM kBroadcastMonitorEnds = 0x10;

void BroadcastToApplications(UINT message, WPARAM wparam, LPARAM lparam);

// Drops the user's language choices ("UILang", "UISupport").
void DeleteUiLanguageValues();

class WinScanEnvironment : public ScanEnvironment {
 public:
  // `api` must stay valid while the environment is used; `message` is the broadcast message.
  WinScanEnvironment(const core::TokenEntryPoints& api, UINT message)
      : api_(api), message_(message) {}

  bool GetSlotList(std::vector<uint32_t>* slots) override;
  bool StillPresent(uint32_t slot) override;
  void ReadDeviceInfo(uint32_t slot, std::vector<uint8_t>* record) override;
  void UpdateFontLibrary(uint32_t slot) override;
  bool EnumContainers(const std::string& token_path, std::vector<std::string>* names) override;
  bool GetContainerKey(const std::string& container, uint32_t key_spec, ContainerKey* key) override;
  void RegisterCertificate(const std::string& container, uint32_t key_spec,
                           const std::vector<uint8_t>& certificate) override;
  void DeleteCertificates(const std::string& prefix, int selector) override;
  void WriteUsageRecord(UsageEvent event, const std::string& serial) override;
  void AppendDiagRecord(const std::string& serial, const char* name) override;
  void WriteMachineValue(const std::string& name, uint32_t data) override;
  void DeleteUiLanguage() override;
  void Broadcast(uint32_t wparam) override;

 private:
  const core::TokenEntryPoints& api_;
  UINT message_;
  diaglog::DiagnosticLog diag_;
};

}  // namespace koba::traymon
