#include "pin_indicator.h"

#include <windows.h>

#include <memory>
#include <string>

#include "indicator_logic.h"
#include "info_dialogs.h"
#include "owner_window.h"
#include "pin_dialogs.h"
#include "pinpad_texts.h"
#include "settings.h"
#include "token_api.h"
#include "wide_text.h"
#include "win_handles.h"

namespace VKey {
namespace {

namespace tk = koba::token;

std::unique_ptr<CPinDialog> MakeDialog(uint32_t useType, const PinDialogArgs& args) {
  switch (useType) {
    case PAD_USE_CHECKPIN:
      return std::make_unique<CDlgVerifyPin>(args);
    case PAD_USE_CHANGEPIN:
      return std::make_unique<CDlgChangePin>(args);
    default:
      return std::make_unique<CDlgInitPin>(args);
  }
}

const char* TitleId(uint32_t useType) {
  switch (useType) {
    case PAD_USE_CHECKPIN:
      return "PAD_USE_TYPE_CHECKPIN";
    case PAD_USE_CHANGEPIN:
      return "PAD_USE_TYPE_CHANGEPIN";
    default:
      return "PAD_USE_TYPE_INITDEV";
  }
}

uint32_t Length(const SecretBytes& pin) {
  return static_cast<uint32_t>(pin.size());
}

// The token function for the use type, called with the PIN(s) the dialog took.
uint32_t CallToken(void* function, uint32_t useType, uint32_t handle,
                   const std::vector<SecretBytes>& pins) {
  switch (useType) {
    case PAD_USE_CHECKPIN:
      return reinterpret_cast<tk::PFN_VexloT_Login>(function)(handle, tk::kUserTypeUser,
                                                              pins[0].data(), Length(pins[0]));
    case PAD_USE_CHANGEPIN:
      return reinterpret_cast<tk::PFN_VexloT_ChangePin>(function)(handle, tk::kUserTypeUser,
                                                                  pins[0].data(), Length(pins[0]),
                                                                  pins[1].data(), Length(pins[1]));
    default:
      return reinterpret_cast<tk::PFN_VexloT_InitToken>(function)(handle, tk::kUserTypeUser,
                                                                  pins[0].data(), Length(pins[0]));
  }
}

}  // namespace

uint32_t RunPinOperation(void* tokenFunction, const PinpadParam& param) {
  const uint32_t minimum = param.pinMinLength;
  const uint32_t maximum = param.pinMaxLength;
  if (minimum == 0 || minimum > maximum) {
    return PINPAD_E_FAILED;
  }
  const Module token(LoadLibraryW(koba::settings::SystemLibraryPath(L"Q2Token_koba.dll").c_str()));
  const auto manParam =
      token ? reinterpret_cast<tk::PFN_VexloT_ManTokenParam>(
                  reinterpret_cast<void*>(GetProcAddress(token.get(), "VexloT_ManTokenParam")))
            : nullptr;
  if (manParam == nullptr) {
    return PINPAD_E_FAILED;
  }
  PinDialogArgs args;
  args.minimum = minimum;
  args.maximum = maximum;
  const uint32_t read =
      manParam(param.deviceHandle, tk::kParamDeviceValue, args.deviceValue.data());
  if (read != 0) {
    return read;
  }

  while (true) {
    const HWND owner = FindOwnerWindow();
    const std::unique_ptr<CPinDialog> dialog = MakeDialog(param.useType, args);
    const INT_PTR result = dialog->RunModal(owner);
    if (result == 2) {
      return kPinpadUserCancel;
    }
    if (result != 1) {
      return PINPAD_E_FAILED;
    }
    const uint32_t status =
        CallToken(tokenFunction, param.useType, param.deviceHandle, dialog->pins());
    const PinRetryStep step = NextIndicatorStep(param.useType, status);
    if (step.messageId != nullptr) {
      const TextTable& texts = PinpadTexts::Get().table();
      CDlgDisplayInfo notice(Wide(texts.LoadText(TitleId(param.useType))),
                             Wide(texts.FormatText(step.messageId, {step.triesLeft})));
      notice.RunModal(owner);
    }
    if (!step.retry) {
      return status;
    }
  }
}

}  // namespace VKey
