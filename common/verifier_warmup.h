// The first signature verification of a process pays for setting up the system's verifier:
// its trust providers are loaded, and the chain engine opens the certificate stores (under
// Wine, the first opening of the root store also imports every root certificate of the host,
// checking the chain of each). That is several times the cost of the verification itself.
// A program that will soon check signatures while a user waits (the PIN pad's gate, before the
// PIN dialog shows) starts a warm-up beforehand, which runs one verification on a thread of its
// own and discards its result: the later checks verify everything again themselves.
#pragma once

#include <windows.h>

#include <string>

#include "win_handle.h"

namespace koba::codesign {

class VerifierWarmUp {
 public:
  // Starts verifying the signature of `path` on a new thread; wintrust is loaded by its full
  // path from the system folder then, not imported by the program.
  explicit VerifierWarmUp(std::wstring path);
  // Waits for the thread.
  ~VerifierWarmUp();
  VerifierWarmUp(const VerifierWarmUp&) = delete;
  VerifierWarmUp& operator=(const VerifierWarmUp&) = delete;

  // Waits for the thread; true when it ran and the verifier accepted the file.
  bool Wait();

 private:
  static DWORD WINAPI Run(void* self);
  void Verify();

  std::wstring path_;
  LONG status_ = -1;
  HMODULE module_ = nullptr;
  DWORD thread_id_ = 0;
  win::UniqueHandle thread_;
};

}  // namespace koba::codesign
