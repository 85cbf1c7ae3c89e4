#include "page_binding.h"

#include "pin_entry.h"
#include "result_codes.h"
#include "settings.h"

namespace koba::pagehelper {
namespace {

template <class F>
bool Resolve(HMODULE module, const char* name, F* out) {
  *out = reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
  return *out != nullptr;
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
  const std::wstring path = settings::SystemLibraryPath(name);
  return path.empty() ? nullptr : LoadLibraryW(path.c_str());
}

// A library loaded for the length of a scope.
class ScopedLibrary {
 public:
  explicit ScopedLibrary(HMODULE module) : module_(module) {}
  ~ScopedLibrary() {
    if (module_ != nullptr)
      FreeLibrary(module_);
  }
  ScopedLibrary(const ScopedLibrary&) = delete;
  ScopedLibrary& operator=(const ScopedLibrary&) = delete;
  HMODULE get() const { return module_; }

 private:
  HMODULE module_;
};

}  // namespace

int PageBinding::Bind() {
  Unbind();
  token_ = LoadSystemLibrary(L"Q2Token_koba.dll");
  if (token_ == nullptr)
    return core::kLibraryMissing;
  if (!(Resolve(token_, "VexloT_GetSlotList", &GetSlotList) &&
        Resolve(token_, "VexloT_GetDeviceInfo", &GetDeviceInfo) &&
        Resolve(token_, "VexloT_ChangePin", &ChangePin) &&
        Resolve(token_, "VexloT_InitToken", &InitToken) &&
        Resolve(token_, "VexloT_ManTokenParam", &ManTokenParam) &&
        Resolve(token_, "VexloT_Logout", &Logout))) {
    return core::kLibraryMissing;
  }
  pinpad_ = LoadSystemLibrary(L"Q2Pinpad_KOBA.dll");
  if (pinpad_ == nullptr || !Resolve(pinpad_, "Pinpad_ShowDialog", &show_dialog_))
    return core::kLibraryMissing;
  return core::kOk;
}

void PageBinding::Unbind() {
  if (token_ != nullptr)
    FreeLibrary(token_);
  if (pinpad_ != nullptr)
    FreeLibrary(pinpad_);
  token_ = nullptr;
  pinpad_ = nullptr;
  GetSlotList = nullptr;
  GetDeviceInfo = nullptr;
  ChangePin = nullptr;
  InitToken = nullptr;
  ManTokenParam = nullptr;
  Logout = nullptr;
  show_dialog_ = nullptr;
}

int PageBinding::FindKey(uint32_t* slot, DeviceInfo* info) {
  if (Bind() != core::kOk)
    return core::kLibraryMissing;
  uint32_t slots[token::kSlotListCapacity] = {};
  uint32_t count = token::kSlotListCount;
  if (GetSlotList(1, slots, &count) != 0 || count == 0)
    return core::kNoKey;
  if (count > 1)
    return core::kSeveralKeys;
  *slot = slots[0];
  info->fill(0);
  if (GetDeviceInfo(*slot, 0, info->data()) != 0)
    return core::kReadError;
  return core::kOk;
}

uint32_t RunPinEntry(uint32_t slot, uint32_t use_type, uint32_t language, void* token_function) {
  // From the system folder, as every other library of the binding: a bare name would let the
  // browser's search order (its folder, the current folder) supply the PIN entry.
  const ScopedLibrary pinpad(LoadSystemLibrary(L"Q2Pinpad_KOBA.dll"));
  VKey::Pinpad_Indicator_t indicator = nullptr;
  VKey::Pinpad_GetKeyInfo_t key_info = nullptr;
  VKey::Pinpad_Param_t param = nullptr;
  if (pinpad.get() != nullptr) {
    Resolve(pinpad.get(), "Pinpad_Indicator", &indicator);
    Resolve(pinpad.get(), "Pinpad_GetKeyInfo", &key_info);
    Resolve(pinpad.get(), "Pinpad_Param", &param);
  }
  VKey::PinpadParam block;
  core::PrepareBlock(&block);
  core::FillPinEntry(&block, slot, use_type);
  block.deviceHandle = slot;
  if (param != nullptr)
    param(&language, 0);
  if (indicator == nullptr)
    return VKey::PINPAD_E_FAILED;
  const uint32_t info = key_info != nullptr ? key_info(2) : 0;
  return indicator(0, token_function, info, &block);
}

}  // namespace koba::pagehelper
