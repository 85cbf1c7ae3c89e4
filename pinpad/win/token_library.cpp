#include "token_library.h"

#include <windows.h>

#include "settings.h"

namespace VKey {

TokenLibrary::TokenLibrary() {
  const std::wstring path = koba::settings::SystemLibraryPath(L"Q2Token_koba.dll");
  if (path.empty()) {
    return;
  }
  module_.reset(LoadLibraryW(path.c_str()));
  if (!module_) {
    return;
  }
  const auto digest = reinterpret_cast<ALG_Digest_t>(
      reinterpret_cast<void*>(GetProcAddress(module_.get(), "ALG_Digest")));
  const auto decrypt = reinterpret_cast<ALG_DesDecrypt_t>(
      reinterpret_cast<void*>(GetProcAddress(module_.get(), "ALG_DesDecrypt")));
  if (digest != nullptr && decrypt != nullptr) {
    alg_ = TokenAlg{digest, decrypt};
  }
}

}  // namespace VKey
