#include "verifier_warmup.h"

#include <utility>

#include "system_library.h"
#include "trust_request.h"

namespace koba::codesign {

VerifierWarmUp::VerifierWarmUp(std::wstring path) : path_(std::move(path)) {
  thread_.reset(CreateThread(nullptr, 0, &VerifierWarmUp::Run, this, 0, nullptr));
}

VerifierWarmUp::~VerifierWarmUp() {
  Wait();
}

bool VerifierWarmUp::Wait() {
  if (thread_)
    WaitForSingleObject(thread_.get(), INFINITE);
  return thread_ != nullptr && status_ == ERROR_SUCCESS;
}

DWORD WINAPI VerifierWarmUp::Run(void* self) {
  auto* warmup = static_cast<VerifierWarmUp*>(self);
  // Loaded for the rest of the process: the providers the verification set up stay with it.
  static const win::SystemLibrary wintrust(L"wintrust.dll");
  decltype(&WinVerifyTrust) verify = nullptr;
  if (!wintrust.Resolve("WinVerifyTrust", &verify))
    return 0;
  TrustRequest request(warmup->path_.c_str(), nullptr);
  const HWND no_window = static_cast<HWND>(INVALID_HANDLE_VALUE);
  warmup->status_ = verify(no_window, &request.action, &request.data);
  request.data.dwStateAction = WTD_STATEACTION_CLOSE;
  verify(no_window, &request.action, &request.data);
  return 0;
}

}  // namespace koba::codesign
