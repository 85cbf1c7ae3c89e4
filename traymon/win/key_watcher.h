// CKeyWatcher, the one monitor object of the process: the token library's binding for the
// process's lifetime, the key records, the worker thread that runs every scan, and the events
// that wake it (stop, change with its pending scan code, and the named rescan event that other
// processes of the session set).
#pragma once

#include <windows.h>

#include <memory>

#include "key_scan.h"
#include "scan_env.h"
#include "token_core.h"
#include "win_handle.h"

namespace koba::traymon {

class CKeyWatcher {
 public:
  // Binds Q2Token_koba from the system folder; a missing library or name leaves the scans
  // skipped.
  CKeyWatcher();
  explicit CKeyWatcher(core::LibraryPaths paths);
  ~CKeyWatcher();
  CKeyWatcher(const CKeyWatcher&) = delete;
  CKeyWatcher& operator=(const CKeyWatcher&) = delete;

  // Registers the broadcast message, touches the browser settings, creates the events and
  // starts the worker with the start scan. False when an event or the thread cannot be made.
  bool Start();
  // The worker stopped, the shutdown clean-up (every entry of the key's CSP leaves the store,
  // the language choices are dropped), every record freed, the final broadcast and the
  // handles closed. Safe to call when Start failed or never ran.
  void Stop();

  // Hands a scan code to the worker; a code not yet taken is overwritten.
  void Post(uint32_t code);
  // Switches every inserted key to its HID mode (the window's WM_USER + 105).
  void SwitchKeysToHid();

  bool bound() const { return bound_; }

 private:
  static DWORD WINAPI WorkerMain(void* self);
  void Work();
  void RunScan(uint32_t code);

  core::TokenCore token_;
  bool bound_ = false;
  UINT message_ = 0;
  std::unique_ptr<WinScanEnvironment> env_;
  std::unique_ptr<KeyScanner> scanner_;
  win::UniqueHandle stop_;
  win::UniqueHandle change_;
  win::UniqueHandle rescan_;
  win::UniqueHandle worker_;
  volatile LONG pending_ = 0;
};

}  // namespace koba::traymon
