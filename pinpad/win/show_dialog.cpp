#include "show_dialog.h"

#include <string>
#include <utility>
#include <vector>

#include "info_dialogs.h"
#include "owner_window.h"
#include "pinpad_texts.h"
#include "select_dialogs.h"
#include "wait_dialogs.h"
#include "win_handles.h"
#include "win_text_env.h"

namespace VKey {
namespace {

std::wstring TextOrEmpty(const wchar_t* text) {
  return text != nullptr ? std::wstring(text) : std::wstring();
}

// Runs a selection list and records the chosen row as its record expects.
template <typename Dialog, typename... Args>
uint32_t RunSelection(uint32_t* chosenRow, Args&&... args) {
  Dialog dialog(std::forward<Args>(args)...);
  const INT_PTR end = dialog.RunModal(FindOwnerWindow());
  if (end == 1 && dialog.chosenRow()) {
    *chosenRow = static_cast<uint32_t>(*dialog.chosenRow());
  }
  return DialogStatus(end);
}

// The waiting window's thread. It holds a reference on the library for as long as it runs, so
// that a caller may unload the library right after closing the window.
DWORD WINAPI WaitWindowThread(LPVOID) {
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                     reinterpret_cast<LPCWSTR>(&WaitWindowThread), &self);
  if (UsesPictureWaitWindow(PinpadTexts::Get().table().CurrentLanguage())) {
    CDlgDisplayProc dialog(InstallFilePath(L"res\\DisplayProcKOBA.png"));
    dialog.RunModal(GetActiveWindow());
  } else {
    CDlgDisplayProc_Old dialog;
    dialog.RunModal(GetActiveWindow());
  }
  if (self != nullptr) {
    FreeLibraryAndExitThread(self, 0);
  }
  return 0;
}

BOOL CALLBACK CloseDialogWindow(HWND window, LPARAM) {
  wchar_t name[16] = {};
  if (GetClassNameW(window, name, 16) > 0 && lstrcmpW(name, L"#32770") == 0) {
    SendMessageW(window, WM_CLOSE, 0, 0);
  }
  return TRUE;
}

void DispatchPending() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

uint32_t OpenWaitWindow(GenKeyWaitHandle* handle) {
  DWORD threadId = 0;
  const HANDLE thread = CreateThread(nullptr, 0, &WaitWindowThread, nullptr, 0, &threadId);
  if (thread == nullptr) {
    return PINPAD_E_FAILED;
  }
  handle->magic = kGenKeyWaitMagic;
  handle->threadId = threadId;
  // Kernel handles keep to 32 bits on 64-bit Windows too.
  handle->threadHandle = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(thread));
  return 0;
}

uint32_t CloseWaitWindow(GenKeyWaitHandle* handle) {
  const HANDLE raw = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(handle->threadHandle));
  // Only a thread this library started for this record is closed.
  if (raw == nullptr || handle->threadId == 0 || GetThreadId(raw) != handle->threadId) {
    return PINPAD_E_FAILED;
  }
  const FileHandle thread(raw);
  if (UsesPictureWaitWindow(PinpadTexts::Get().table().CurrentLanguage())) {
    Sleep(200);
    EnumThreadWindows(handle->threadId, &CloseDialogWindow, 0);
  }
  // The thread may not have its message queue yet: retry until the post succeeds or it ended.
  while (!PostThreadMessageW(handle->threadId, WM_QUIT, 0, 0)) {
    if (WaitForSingleObject(thread.get(), 100) == WAIT_OBJECT_0) {
      break;
    }
  }
  handle->magic = 0;
  handle->threadHandle = 0;
  for (int i = 0; i < 10; ++i) {
    DispatchPending();
    Sleep(1);
  }
  return 0;
}

}  // namespace

uint32_t DialogStatus(INT_PTR endCode) {
  if (endCode == 1) {
    return 0;
  }
  return endCode == 2 ? PINPAD_E_CANCELLED : PINPAD_E_FAILED;
}

uint32_t ShowSelectDevice(SelectDeviceRecord* record) {
  if (record->count != 0 && record->pairs == nullptr) {
    return PINPAD_E_FAILED;
  }
  std::vector<std::pair<std::wstring, std::wstring>> devices;
  for (uint32_t i = 0; i < record->count; ++i) {
    devices.emplace_back(TextOrEmpty(record->pairs[2 * i]), TextOrEmpty(record->pairs[2 * i + 1]));
  }
  return RunSelection<CDlgSelectDevice>(&record->chosenRow, devices);
}

uint32_t ShowSelectCert(SelectCertRecord* record) {
  if (record->count != 0 && record->names == nullptr) {
    return PINPAD_E_FAILED;
  }
  std::vector<std::wstring> names;
  for (uint32_t i = 0; i < record->count; ++i) {
    names.push_back(TextOrEmpty(record->names[i]));
  }
  return RunSelection<CDlgSelectCert>(&record->chosenRow, names);
}

uint32_t ToggleWaitWindow(GenKeyWaitHandle* handle) {
  return handle->magic == kGenKeyWaitMagic ? CloseWaitWindow(handle) : OpenWaitWindow(handle);
}

uint32_t ShowChangeLabel(char* label) {
  CDlgChangeLabel dialog(label);
  return DialogStatus(dialog.RunModal(FindOwnerWindow()));
}

uint32_t ShowKeyInfo(const KeyInfoRecord* record) {
  CDlgUInfo dialog({TextOrEmpty(record->values[0]), TextOrEmpty(record->values[1]),
                    TextOrEmpty(record->values[2]), TextOrEmpty(record->values[3])});
  return DialogStatus(dialog.RunModal(FindOwnerWindow()));
}

uint32_t ShowMessageBox(const MessageBoxRecord* record) {
  CMsgBox dialog(MsgBoxText::kTextIds, TextOrEmpty(record->titleId), TextOrEmpty(record->messageId),
                 record->showCancel != 0);
  return DialogStatus(dialog.RunModal(FindOwnerWindow()));
}

uint32_t ShowUsbMode(const UsbModeRecord* record) {
  if (record->mode == nullptr) {
    return PINPAD_E_FAILED;
  }
  CDlgBOTHID dialog(record->context, record->mode);
  const uint32_t status = DialogStatus(dialog.RunModal(FindOwnerWindow()));
  if (dialog.writeStatus() && *dialog.writeStatus() != 0) {
    return PINPAD_E_FAILED;
  }
  return status;
}

}  // namespace VKey
