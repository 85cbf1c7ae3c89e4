// The core object each front end owns: the token library's binding for the length of one
// operation, the PIN pad library's binding for the core's lifetime, key discovery, the
// PIN-pad-driven log-in, and the small device operations.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pinpad_api.h"
#include "token_api.h"
#include "verifier_warmup.h"
#include "win_handle.h"

namespace koba::core {

// The token library's entry points, filled by binding.
struct TokenEntryPoints {
  // Device set.
  token::PFN_VexloT_GetSlotList GetSlotList;
  token::PFN_VexloT_GetDeviceInfo GetDeviceInfo;
  token::PFN_VexloT_ChangePin ChangePin;
  token::PFN_VexloT_InitToken InitToken;
  token::PFN_VexloT_ManTokenParam ManTokenParam;
  token::PFN_VexloT_GetRandBytes GetRandBytes;
  token::PFN_VexloT_Logout Logout;
  // Full set.
  token::PFN_VexloT_Login Login;
  token::PFN_Ossl_ParseCertDN ParseCertDN;
  token::PFN_Ossl_GetCertPublicKeyN GetCertPublicKeyN;
  token::PFN_Ossl_GetHashNID GetHashNID;
  token::PFN_Ossl_Base64_Encode Base64Encode;
  token::PFN_Ossl_Base64_Decode Base64Decode;
  token::PFN_Ossl_Base64_P7_FileData Base64P7FileData;
  token::PFN_Ossl_EncodeInit EncodeInit;      // optional
  token::PFN_Ossl_EncodeUpdate EncodeUpdate;  // optional
  token::PFN_Ossl_EncodeFinal EncodeFinal;    // optional
  token::PFN_Ossl_GetCertFromP7 GetCertFromP7;
  token::PFN_Ossl_PKCS7_Sign Pkcs7Sign;
  token::PFN_Ossl_PKCS7_free Pkcs7Free;
  token::PFN_Ossl_DigestInit DigestInit;
  token::PFN_Ossl_DigestUpdate DigestUpdate;
  token::PFN_Ossl_DigestFinal DigestFinal;
  token::PFN_Ossl_EncryptInit EncryptInit;
  token::PFN_Ossl_EncryptUpdate EncryptUpdate;
  token::PFN_Ossl_EncryptFinal EncryptFinal;
  token::PFN_Ossl_DecryptInit DecryptInit;
  token::PFN_Ossl_DecryptUpdate DecryptUpdate;
  token::PFN_Ossl_DecryptFinal DecryptFinal;
  token::PFN_VexloT_GeneratePairKey GeneratePairKey;
  token::PFN_VexloT_GeneratePairKeyEx GeneratePairKeyEx;
  token::PFN_VexloT_CreateObject CreateObject;
  token::PFN_VexloT_ExportPairKey ExportPairKey;
  token::PFN_VexloT_RsaSign RsaSign;
  token::PFN_VexloT_RsaSign_koba RsaSignKoba;
  token::PFN_Ossl_PackageP10 PackageP10;
};

// The PIN pad library's exports the core calls; a missing name stays null.
struct PinpadEntryPoints {
  VKey::Pinpad_Indicator_t Indicator;
  VKey::Pinpad_GetKeyInfo_t GetKeyInfo;
  VKey::Pinpad_Param_t Param;
  VKey::Pinpad_ShowDialog_t ShowDialog;
};

enum class BindSet { kDevice, kFull };

using DeviceInfo = std::array<uint8_t, token::devinfo::kReserve>;

// Where the core finds the libraries it loads.
struct LibraryPaths {
  std::wstring token;   // Q2Token_koba.dll
  std::wstring pinpad;  // Q2Pinpad_KOBA.dll
  // The system folder's libraries (System32, or SysWow64 for a 32-bit process on 64-bit
  // Windows).
  static LibraryPaths System();
};

class TokenCore {
 public:
  static constexpr size_t kMediaIdCapacity = 60;

  // Loads the PIN pad library and resolves its exports; it stays loaded until destruction, so
  // that its process-wide state (the keyboard's generator, the language, the verified vendor
  // libraries) lives as long as the core, and no log-in pays for loading it again.
  explicit TokenCore(LibraryPaths paths = LibraryPaths::System());
  ~TokenCore();
  TokenCore(const TokenCore&) = delete;
  TokenCore& operator=(const TokenCore&) = delete;

  // Loads the token library and resolves the set's names in order; the first missing name
  // gives -101 (the library then stays loaded until Unbind).
  int Bind(BindSet set);
  // Frees the token library.
  void Unbind();

  // Binds `set`, finds the single inserted key and reads its device information.
  // -101 library, -102 no key, -104 several keys, -302 device information unreadable.
  // The process's first key found starts the signature verifier's warm-up, off this thread: a
  // page that has found a key is about to ask for its PIN, and the PIN pad checks the vendor
  // libraries' signatures before its dialog shows.
  int FindKey(BindSet set, uint32_t* slot, DeviceInfo* info);

  // Runs the PIN pad over VexloT_Login on the key in `slot` (the library must be bound with
  // the full set). The PIN pad collects the PIN and calls the token library itself.
  int Login(uint32_t slot);
  // The same over VexloT_ChangePin or VexloT_InitToken; returns the PIN pad's raw status.
  uint32_t RunPinPad(uint32_t slot, uint32_t use_type, void* token_function);

  // The key's serial number without trailing spaces (capacity kMediaIdCapacity); also stored
  // as "UKeySN" in the user's settings.
  int GetMediaID(char* out, size_t capacity);
  // Logs out every inserted key.
  int ClearSSLState();

  const TokenEntryPoints& api() const { return api_; }
  const PinpadEntryPoints& pinpad() const { return pinpad_api_; }
  const LibraryPaths& paths() const { return paths_; }
  int last_result() const { return last_result_; }
  int text_encoding() const { return text_encoding_; }
  void set_text_encoding(int encoding) { text_encoding_ = encoding; }
  uint32_t device_language() const { return device_language_; }

  // The certificates the last GMWritePKCS7 stored: part 2 of 2 in the second, every other
  // part in the first.
  std::vector<uint8_t>& kept_certificate(size_t i) { return kept_certificates_[i]; }

  // Records the code of the operation that ends with it and returns it.
  int Finish(int code) {
    last_result_ = code;
    return code;
  }

 private:
  LibraryPaths paths_;
  int32_t last_result_ = 0;
  int32_t text_encoding_ = 0;
  uint32_t device_language_ = 0;
  HMODULE library_ = nullptr;
  TokenEntryPoints api_ = {};
  win::UniqueModule pinpad_;
  PinpadEntryPoints pinpad_api_ = {};
  std::vector<uint8_t> kept_certificates_[2];
  std::unique_ptr<codesign::VerifierWarmUp> warmup_;
};

// Unbinds the core when the operation's scope ends, on every path.
class BindingGuard {
 public:
  explicit BindingGuard(TokenCore& core) : core_(core) {}
  ~BindingGuard() { core_.Unbind(); }
  BindingGuard(const BindingGuard&) = delete;
  BindingGuard& operator=(const BindingGuard&) = delete;

 private:
  TokenCore& core_;
};

}  // namespace koba::core
