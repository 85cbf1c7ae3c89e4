#include "key_watcher.h"

#include "cert_store.h"
#include "diag_log.h"
#include "install_roots.h"
#include "settings.h"
#include "token_api.h"

namespace koba::traymon {
namespace {

constexpr uint32_t kSwitchSlots = 20;
constexpr size_t kUsbModeRecord = 20;
constexpr uint8_t kUsbModeHid = 0x80;
constexpr DWORD kRetryAfterOddWakeMs = 5;

}  // namespace

CKeyWatcher::CKeyWatcher() : CKeyWatcher(core::LibraryPaths::System()) {}

CKeyWatcher::CKeyWatcher(core::LibraryPaths paths) : token_(std::move(paths)) {
  // Every name of the library is resolved; the scans need only the device set.
  if (token_.Bind(core::BindSet::kFull) != 0)
    token_.Bind(core::BindSet::kDevice);
  const core::TokenEntryPoints& api = token_.api();
  bound_ =
      api.GetSlotList != nullptr && api.GetDeviceInfo != nullptr && api.ManTokenParam != nullptr;
}

CKeyWatcher::~CKeyWatcher() {
  Stop();
}

bool CKeyWatcher::Start() {
  message_ = RegisterWindowMessageW(kBroadcastMessageName);
  env_ = std::make_unique<WinScanEnvironment>(token_.api(), message_);
  scanner_ = std::make_unique<KeyScanner>(*env_);
  TouchBrowserSettings();
  diaglog::LogMutexSecurity security;
  stop_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  change_.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  rescan_.reset(CreateEventW(security.attributes(), FALSE, FALSE, settings::kTrayRescanEvent));
  if (!stop_ || !change_ || !rescan_)
    return false;
  Post(kScanStart);
  worker_.reset(CreateThread(nullptr, 0, WorkerMain, this, 0, nullptr));
  return worker_ != nullptr;
}

void CKeyWatcher::Stop() {
  if (!stop_)
    return;
  // The worker ends first, so that no scan still running registers certificates after the
  // clean-up has removed them.
  SetEvent(stop_.get());
  if (worker_)
    WaitForSingleObject(worker_.get(), INFINITE);
  certstore::DeleteStoredCertificates(kKeyCspName, nullptr, 0);
  DeleteUiLanguageValues();
  if (scanner_)
    scanner_->Clear();
  BroadcastToApplications(message_, 0, kBroadcastMonitorEnds);
  worker_.reset();
  rescan_.reset();
  change_.reset();
  stop_.reset();
}

void CKeyWatcher::Post(uint32_t code) {
  InterlockedExchange(&pending_, static_cast<LONG>(code));
  if (change_)
    SetEvent(change_.get());
}

void CKeyWatcher::SwitchKeysToHid() {
  if (!bound_)
    return;
  uint32_t slots[kSwitchSlots] = {};
  uint32_t count = 0;
  if (token_.api().GetSlotList(1, slots, &count) != token::kOk)
    return;
  if (count > kSwitchSlots)
    count = kSwitchSlots;
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t mode[kUsbModeRecord] = {kUsbModeHid};
    token_.api().ManTokenParam(slots[i], token::kParamUsbModeWrite, mode);
  }
}

DWORD WINAPI CKeyWatcher::WorkerMain(void* self) {
  static_cast<CKeyWatcher*>(self)->Work();
  return 0;
}

void CKeyWatcher::Work() {
  const HANDLE events[3] = {stop_.get(), change_.get(), rescan_.get()};
  for (;;) {
    const DWORD woke = WaitForMultipleObjects(3, events, FALSE, INFINITE);
    if (woke == WAIT_OBJECT_0)
      return;
    if (woke == WAIT_OBJECT_0 + 1) {
      uint32_t code = static_cast<uint32_t>(InterlockedExchange(&pending_, 0));
      // A second signal for a code already taken.
      if (code == kScanNone)
        continue;
      if (code == kScanNodesChanged) {
        // Only the token library knows whether the key set really changed.
        uint32_t changed = 0;
        if (bound_)
          token_.api().ManTokenParam(0, token::kParamDeviceChanged, &changed);
        if (changed == 0)
          continue;
        code = kScanRemoval;
      }
      RunScan(code);
    } else if (woke == WAIT_OBJECT_0 + 2) {
      RunScan(kScanRescan);
    } else {
      Sleep(kRetryAfterOddWakeMs);
    }
  }
}

void CKeyWatcher::RunScan(uint32_t code) {
  if (bound_)
    scanner_->Scan(code);
}

}  // namespace koba::traymon
