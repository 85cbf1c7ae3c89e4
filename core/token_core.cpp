#include "token_core.h"

#include <atomic>
#include <cstring>

#include "certificates.h"
#include "pin_entry.h"
#include "result_codes.h"
#include "settings.h"

namespace koba::core {
namespace {

// GetProcAddress's result as the entry point's own type. The detour through void(*)() is the
// conversion the compiler accepts between unrelated function pointer types.
template <class F>
bool Resolve(HMODULE module, const char* name, F* out) {
  *out = reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
  return *out != nullptr;
}

bool ResolveDeviceSet(HMODULE m, TokenEntryPoints* a) {
  return Resolve(m, "VexloT_GetSlotList", &a->GetSlotList) &&
         Resolve(m, "VexloT_GetDeviceInfo", &a->GetDeviceInfo) &&
         Resolve(m, "VexloT_ChangePin", &a->ChangePin) &&
         Resolve(m, "VexloT_InitToken", &a->InitToken) &&
         Resolve(m, "VexloT_ManTokenParam", &a->ManTokenParam) &&
         Resolve(m, "VexloT_GetRandBytes", &a->GetRandBytes) &&
         Resolve(m, "VexloT_Logout", &a->Logout);
}

bool ResolveFullSet(HMODULE m, TokenEntryPoints* a) {
  if (!(Resolve(m, "VexloT_Login", &a->Login) && Resolve(m, "Ossl_ParseCertDN", &a->ParseCertDN) &&
        Resolve(m, "Ossl_GetCertPublicKeyN", &a->GetCertPublicKeyN) &&
        Resolve(m, "Ossl_GetHashNID", &a->GetHashNID) &&
        Resolve(m, "Ossl_Base64_Encode", &a->Base64Encode) &&
        Resolve(m, "Ossl_Base64_Decode", &a->Base64Decode) &&
        Resolve(m, "Ossl_Base64_P7_FileData", &a->Base64P7FileData))) {
    return false;
  }
  Resolve(m, "Ossl_EncodeInit", &a->EncodeInit);
  Resolve(m, "Ossl_EncodeUpdate", &a->EncodeUpdate);
  Resolve(m, "Ossl_EncodeFinal", &a->EncodeFinal);
  return Resolve(m, "Ossl_GetCertFromP7", &a->GetCertFromP7) &&
         Resolve(m, "Ossl_PKCS7_Sign", &a->Pkcs7Sign) &&
         Resolve(m, "Ossl_PKCS7_free", &a->Pkcs7Free) &&
         Resolve(m, "Ossl_DigestInit", &a->DigestInit) &&
         Resolve(m, "Ossl_DigestUpdate", &a->DigestUpdate) &&
         Resolve(m, "Ossl_DigestFinal", &a->DigestFinal) &&
         Resolve(m, "Ossl_EncryptInit", &a->EncryptInit) &&
         Resolve(m, "Ossl_EncryptUpdate", &a->EncryptUpdate) &&
         Resolve(m, "Ossl_EncryptFinal", &a->EncryptFinal) &&
         Resolve(m, "Ossl_DecryptInit", &a->DecryptInit) &&
         Resolve(m, "Ossl_DecryptUpdate", &a->DecryptUpdate) &&
         Resolve(m, "Ossl_DecryptFinal", &a->DecryptFinal) &&
         Resolve(m, "VexloT_GeneratePairKey", &a->GeneratePairKey) &&
         Resolve(m, "VexloT_GeneratePairKeyEx", &a->GeneratePairKeyEx) &&
         Resolve(m, "VexloT_CreateObject", &a->CreateObject) &&
         Resolve(m, "VexloT_ExportPairKey", &a->ExportPairKey) &&
         Resolve(m, "VexloT_RsaSign", &a->RsaSign) &&
         Resolve(m, "VexloT_RsaSign_koba", &a->RsaSignKoba) &&
         Resolve(m, "Ossl_PackageP10", &a->PackageP10);
}

}  // namespace

LibraryPaths LibraryPaths::System() {
  return {settings::SystemLibraryPath(L"Q2Token_koba.dll"),
          settings::SystemLibraryPath(L"Q2Pinpad_KOBA.dll")};
}

TokenCore::TokenCore(LibraryPaths paths) : paths_(std::move(paths)) {
  if (!paths_.pinpad.empty())
    pinpad_.reset(LoadLibraryW(paths_.pinpad.c_str()));
  if (pinpad_) {
    Resolve(pinpad_.get(), "Pinpad_Indicator", &pinpad_api_.Indicator);
    Resolve(pinpad_.get(), "Pinpad_GetKeyInfo", &pinpad_api_.GetKeyInfo);
    Resolve(pinpad_.get(), "Pinpad_Param", &pinpad_api_.Param);
    Resolve(pinpad_.get(), "Pinpad_ShowDialog", &pinpad_api_.ShowDialog);
  }
}

TokenCore::~TokenCore() {
  Unbind();
}

int TokenCore::Bind(BindSet set) {
  Unbind();
  if (!paths_.token.empty())
    library_ = LoadLibraryW(paths_.token.c_str());
  if (library_ == nullptr)
    return kLibraryMissing;
  if (!ResolveDeviceSet(library_, &api_))
    return kLibraryMissing;
  if (set == BindSet::kFull && !ResolveFullSet(library_, &api_))
    return kLibraryMissing;
  return kOk;
}

void TokenCore::Unbind() {
  if (library_ != nullptr)
    FreeLibrary(library_);
  library_ = nullptr;
  api_ = {};
}

int TokenCore::FindKey(BindSet set, uint32_t* slot, DeviceInfo* info) {
  last_result_ = 0;
  if (Bind(set) != kOk)
    return Finish(kLibraryMissing);
  uint32_t slots[token::kSlotListCapacity] = {};
  uint32_t count = token::kSlotListCount;
  if (api_.GetSlotList(1, slots, &count) != 0 || count == 0)
    return Finish(kNoKey);
  if (count > 1)
    return Finish(kSeveralKeys);
  *slot = slots[0];
  if (api_.GetDeviceInfo(*slot, 0, info->data()) != 0)
    return Finish(kReadError);
  uint16_t language;
  std::memcpy(&language, info->data() + token::devinfo::kLanguage, sizeof language);
  device_language_ = language;
  // Once per process: what the warm-up sets up stays with the process, whichever core made it.
  static std::atomic<bool> warmed{false};
  if (pinpad_api_.Indicator != nullptr && !warmed.exchange(true))
    warmup_ = std::make_unique<codesign::VerifierWarmUp>(paths_.token);
  return kOk;
}

uint32_t TokenCore::RunPinPad(uint32_t slot, uint32_t use_type, void* token_function) {
  VKey::PinpadParam block;
  PrepareBlock(&block);
  FillPinEntry(&block, slot, use_type);
  uint32_t language = device_language_;
  if (pinpad_api_.Param != nullptr)
    pinpad_api_.Param(&language, 0);
  if (pinpad_api_.Indicator == nullptr)
    return VKey::PINPAD_E_FAILED;
  const uint32_t info = pinpad_api_.GetKeyInfo != nullptr ? pinpad_api_.GetKeyInfo(2) : 0;
  return pinpad_api_.Indicator(0, token_function, info, &block);
}

int TokenCore::Login(uint32_t slot) {
  const uint32_t status =
      RunPinPad(slot, VKey::PAD_USE_CHECKPIN, reinterpret_cast<void*>(api_.Login));
  return Finish(MapPinStatus(PinOperation::kLogin, status));
}

int TokenCore::GetMediaID(char* out, size_t capacity) {
  BindingGuard guard(*this);
  if (out == nullptr || capacity == 0)
    return Finish(kBadParameter);
  out[0] = '\0';
  uint32_t slot;
  DeviceInfo info;
  const int found = FindKey(BindSet::kDevice, &slot, &info);
  if (found != kOk)
    return found;
  const std::string serial =
      TrimSerial(info.data() + token::devinfo::kSerial, token::devinfo::kSerialSize);
  const size_t n = serial.size() < capacity - 1 ? serial.size() : capacity - 1;
  std::memcpy(out, serial.data(), n);
  out[n] = '\0';
  settings::WriteRegUKeySN(out);
  return Finish(kOk);
}

int TokenCore::ClearSSLState() {
  BindingGuard guard(*this);
  last_result_ = 0;
  if (Bind(BindSet::kDevice) != kOk)
    return Finish(kLibraryMissing);
  uint32_t slots[token::kSlotListCapacity] = {};
  uint32_t count = token::kSlotListCount;
  if (api_.GetSlotList(1, slots, &count) != 0)
    return Finish(kNoKey);
  for (uint32_t i = 0; i < count && i < token::kSlotListCapacity; ++i) {
    api_.Logout(slots[i], 1);
  }
  return Finish(kOk);
}

}  // namespace koba::core
