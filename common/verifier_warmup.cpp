#include "verifier_warmup.h"

#include <utility>

#include "system_library.h"
#include "trust_request.h"

namespace koba::codesign {

VerifierWarmUp::VerifierWarmUp(std::wstring path) : path_(std::move(path)) {
  // The thread holds the module its code lives in (a COM server can be unloaded while it runs)
  // and lets it go as it ends.
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          reinterpret_cast<const wchar_t*>(&VerifierWarmUp::Run), &module_))
    return;
  thread_.reset(CreateThread(nullptr, 0, &VerifierWarmUp::Run, this, 0, &thread_id_));
  if (!thread_)
    FreeLibrary(module_);
}

VerifierWarmUp::~VerifierWarmUp() {
  Wait();
}

bool VerifierWarmUp::Wait() {
  // Ending on the thread itself: its last reference to the module was the one that unloaded
  // it, and the object goes with the module; the thread has nothing left to do.
  if (thread_ && GetCurrentThreadId() != thread_id_)
    WaitForSingleObject(thread_.get(), INFINITE);
  return thread_ != nullptr && status_ == ERROR_SUCCESS;
}

DWORD WINAPI VerifierWarmUp::Run(void* self) {
  auto* warmup = static_cast<VerifierWarmUp*>(self);
  const HMODULE module = warmup->module_;
  warmup->Verify();
  // The object may be gone once the module is released.
  FreeLibraryAndExitThread(module, 0);
}

void VerifierWarmUp::Verify() {
  // Loaded for the rest of the process: the providers the verification set up stay with it.
  static const win::SystemLibrary wintrust(L"wintrust.dll");
  decltype(&WinVerifyTrust) verify = nullptr;
  if (!wintrust.Resolve("WinVerifyTrust", &verify))
    return;
  TrustRequest request(path_.c_str(), nullptr);
  const HWND no_window = static_cast<HWND>(INVALID_HANDLE_VALUE);
  status_ = verify(no_window, &request.action, &request.data);
  request.data.dwStateAction = WTD_STATEACTION_CLOSE;
  verify(no_window, &request.action, &request.data);
}

}  // namespace koba::codesign
