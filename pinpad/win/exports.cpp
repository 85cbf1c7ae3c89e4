// The exports of Q2Pinpad_KOBA. Every export checks its arguments before anything else and
// answers bad input with the status its callers expect.
#include <windows.h>

#include <cstdint>
#include <string>

#include "balloon.h"
#include "code_signature.h"
#include "device_dialogs.h"
#include "display_doc.h"
#include "indicator_logic.h"
#include "mouse_filter.h"
#include "owner_window.h"
#include "pad_module.h"
#include "pin_edit.h"
#include "pin_indicator.h"
#include "pinpad_api.h"
#include "pinpad_texts.h"
#include "secret_memory.h"
#include "show_dialog.h"
#include "tool_window.h"

using namespace VKey;

namespace __gnu_cxx {
// The C++ runtime's release of its emergency exception pool (libstdc++). Linked statically into
// the library, the runtime makes a new pool (about 73 KB) at every load and never frees it.
void __freeres() noexcept;
}  // namespace __gnu_cxx

namespace {

bool IsWindows2000() {
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const auto getVersion = ntdll ? reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(
                                      GetProcAddress(ntdll, "RtlGetVersion")))
                                : nullptr;
  if (getVersion == nullptr || getVersion(&info) != 0) {
    return false;
  }
  return info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion == 5 &&
         info.dwMinorVersion == 0;
}

bool ValidBlock(const PinpadParam* param) {
  return param != nullptr && param->size == sizeof(PinpadParam);
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    SetPadModule(instance);
    DisableThreadLibraryCalls(instance);
  } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    // Unloaded by FreeLibrary while the process goes on (at process exit the system takes
    // everything back by itself): nothing of this load may stay behind, and nothing that
    // points into the library's code.
    RemoveKeyboardFilter();
    RemoveMouseFilter();
    UnregisterBalloonClass();
    ReleaseLibraryContext();
    ReleaseDelayLoadedLibraries();
    DestroyPrivateHeap();
    __gnu_cxx::__freeres();
  }
  return TRUE;
}

uint32_t KOBA_PINPAD_CALL Pinpad_Indicator(uint32_t /*reserved*/, void* tokenFunction,
                                           uint32_t /*keyInfo*/, PinpadParam* param) {
  if (!ValidBlock(param) || tokenFunction == nullptr || !IsPinUseType(param->useType)) {
    return PINPAD_E_FAILED;
  }
  if (ShouldMarkBrowserHost(IsWindows2000(), PinpadTexts::Get().lastForcingMode(),
                            ProcessExecutablePath())) {
    param->flags |= kBrowserHostFlags;
  }
  if (!koba::codesign::VendorGateOpen()) {
    return PINPAD_E_FAILED;
  }
  return RunPinOperation(tokenFunction, *param);
}

uint32_t KOBA_PINPAD_CALL Pinpad_ShowDialog(uint32_t type, void* record) {
  if (record == nullptr) {
    return PINPAD_E_FAILED;
  }
  switch (type) {
    case 1:
      return ShowSelectDevice(static_cast<SelectDeviceRecord*>(record));
    case 2:
      return ShowSelectCert(static_cast<SelectCertRecord*>(record));
    case 5:
      return ToggleWaitWindow(static_cast<GenKeyWaitHandle*>(record));
    case 6:
      return ShowChangeLabel(static_cast<char*>(record));
    case 7:
      return ShowKeyInfo(static_cast<const KeyInfoRecord*>(record));
    case 8:
      return ShowMessageBox(static_cast<const MessageBoxRecord*>(record));
    case 9:
      return ShowUsbMode(static_cast<const UsbModeRecord*>(record));
    default:
      return PINPAD_E_FAILED;
  }
}

uint32_t KOBA_PINPAD_CALL Pinpad_CreateKeyEx(void* context, void* callback, void* /*reserved*/,
                                             PinpadParam* param, uint32_t kind) {
  if (callback == nullptr || !ValidBlock(param) ||
      (kind != kCreateKindDeviceConfirm && kind != kCreateKindSignDisplay)) {
    return PINPAD_E_FAILED;
  }
  if (!koba::codesign::VendorGateOpen()) {
    return PINPAD_E_FAILED;
  }
  return RunDeviceDialog(context, callback, *param, kind, FindOwnerWindow());
}

uint32_t KOBA_PINPAD_CALL Pinpad_VerifyData(uint32_t utf8, const char* document, uint32_t length) {
  if (document == nullptr) {
    return 0;
  }
  return static_cast<uint32_t>(
      ReadDisplayDocument(utf8 != 0, std::string_view(document, length), {}, nullptr, nullptr));
}

uint32_t KOBA_PINPAD_CALL Pinpad_Param(uint32_t* language, uint32_t mode) {
  if (language == nullptr) {
    return PINPAD_E_FAILED;
  }
  return PinpadTexts::Get().Param(*language, mode);
}

uint32_t KOBA_PINPAD_CALL Pinpad_GetKeyInfo(uint32_t) {
  return 0;
}

uint32_t KOBA_PINPAD_CALL Pinpad_CreateKey(uint32_t, uint32_t, uint32_t, uint32_t) {
  return PINPAD_E_FAILED;
}

uint32_t KOBA_PINPAD_CALL Pinpad_MLGetText(uint32_t, uint32_t, uint32_t, uint32_t) {
  return 0;
}

uint32_t KOBA_PINPAD_CALL Pinpad_MLChangeDlgRes(uint32_t, uint32_t) {
  return 0;
}

uint32_t KOBA_PINPAD_CALL ToolsShowInit(HWND owner) {
  RunManagementTool(owner);
  return 0;
}

}  // extern "C"
