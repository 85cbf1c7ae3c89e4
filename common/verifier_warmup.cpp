#include "verifier_warmup.h"

#include <softpub.h>
#include <wintrust.h>

#include <utility>

#include "system_library.h"

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
  WINTRUST_FILE_INFO file{};
  file.cbStruct = sizeof file;
  file.pcwszFilePath = warmup->path_.c_str();
  WINTRUST_DATA data{};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const HWND no_window = static_cast<HWND>(INVALID_HANDLE_VALUE);
  warmup->status_ = verify(no_window, &action, &data);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  verify(no_window, &action, &data);
  return 0;
}

}  // namespace koba::codesign
