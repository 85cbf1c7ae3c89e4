#include "page_helper.h"

#include <cstring>
#include <string>
#include <vector>

#include "bstr_text.h"
#include "cert_store.h"
#include "certificates.h"
#include "code_page.h"
#include "csp.h"
#include "diag_log.h"
#include "guards.h"
#include "key_lists.h"
#include "language_tables.h"
#include "result_codes.h"
#include "settings.h"
#include "win_handle.h"

namespace koba::pagehelper {
namespace {

// The members by DISPID with their debugger guard (11 and 12 are not used).
struct Method {
  DISPID id;
  bool debugger_guard;
};
constexpr Method kMethods[] = {
    {1, false},  // LastError
    {2, true},   // GetMediaID
    {3, true},   // GetPublicKey
    {4, true},   // GetPublicKeyC
    {5, true},   // GetPublicKeyNum
    {6, true},   // GetVersion
    {7, true},   // GetCSPInfo
    {8, true},   // RegisterCert
    {9, true},   // CustInitCard
    {10, true},  // ChangePin
#ifdef KOBA_IDENTITY_64
    {13, false},  // GetCharsetList
#else
    {13, true},  // GetCharsetList
#endif
    {14, true},   // SetCharset
    {15, false},  // GetLanguageList
    {16, true},   // SetLanguage
    {17, true},   // SetWarningMsg
    {18, true},   // UnRegisterCert
    {19, true},   // ClearSSLState
    {20, false},  // GetLogFileContent
};

bool Guarded(DISPID id) {
  for (const Method& m : kMethods) {
    if (m.id == id)
      return m.debugger_guard;
  }
  return true;
}

constexpr char kProvider[] = "Korvanet Vexlo CSP KOBA v1.0";
constexpr wchar_t kCspInfoFormat[] = L"Korvanet Vexlo CSP KOBA v1.0||%s";
constexpr DWORD kVersionChars = 32;
constexpr uint32_t kKeySpecs[] = {1, 2};
constexpr uint32_t kParamKeyList = 13;
constexpr uint32_t kParamRsaKeyList = 14;
// The failure ClearSSLState reports, whatever went wrong.
constexpr int kClearFailed = -1;

// A version value of the machine settings, at most 31 characters: 0 and the text, or -101.
int ReadMachineVersion(const wchar_t* value, std::wstring* text) {
  wchar_t buffer[kVersionChars] = {};
  if (settings::ReadRegStringW(HKEY_LOCAL_MACHINE, settings::kSettingsKey, value, buffer,
                               kVersionChars) != ERROR_SUCCESS) {
    return core::kLibraryMissing;
  }
  *text = buffer;
  return core::kOk;
}

// The user's settings key, created when missing.
win::UniqueRegKey OpenUserSettings() {
  HKEY raw = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, settings::kSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr,
                      &raw, nullptr) != ERROR_SUCCESS) {
    return nullptr;
  }
  return win::UniqueRegKey(raw);
}

// The key's names compare ignoring case; the interface-only names exactly.
std::string_view TableName(std::string_view name) {
  for (const core::KeyLanguage& l : core::kKeyLanguages) {
    const std::string_view table(l.name);
    if (table.size() == name.size() &&
        CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, table.data(),
                       static_cast<int>(table.size()), name.data(),
                       static_cast<int>(name.size())) == CSTR_EQUAL) {
      return table;
    }
  }
  return name;
}

std::string ContainerPrefixOf(const DeviceInfo& info) {
  char identifier[20] = {};
  std::memcpy(identifier, info.data() + token::devinfo::kDeviceId, 16);
  return csp::ContainerPrefix(std::string(identifier, 16));
}

}  // namespace

// One method call: the apartment check, the debugger guard, the reset of LastError, and at the
// end the unbinding, LastError, the code result and the error information.
class KOBA_PAGE_HELPER_CLASS::Call {
 public:
  Call(KOBA_PAGE_HELPER_CLASS& self, DISPID id, const void* result) : self_(self) {
    if (result == nullptr) {
      hr_ = E_POINTER;
      return;
    }
    if (!self_.CalledFromOwnApartment()) {
      hr_ = self_.WrongApartment();
      return;
    }
    // The guard leaves LastError as it was.
    if (Guarded(id) && com::DebuggerPresent()) {
      hr_ = self_.Fail(static_cast<HRESULT>(core::kEnvironmentGone),
                       core::ControlMessageFor(core::kEnvironmentGone));
      return;
    }
    // A call that arrives while one of this object's calls is still running (a page scripted
    // from inside a modal dialog) would share its binding.
    if (self_.busy_) {
      hr_ =
          self_.Fail(static_cast<HRESULT>(core::kOtherError), core::MessageFor(core::kOtherError));
      return;
    }
    self_.busy_ = true;
    self_.last_error_ = 0;
    admitted_ = true;
  }
  ~Call() {
    if (admitted_) {
      self_.binding_.Unbind();
      self_.busy_ = false;
    }
  }
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;

  bool admitted() const { return admitted_; }
  HRESULT refusal() const { return hr_; }

  // FindKey over the object's binding; a failure leaves the code result untouched.
  int FindKey(uint32_t* slot, DeviceInfo* info) {
    const int code = self_.binding_.FindKey(slot, info);
    key_missing_ = code != core::kOk;
    return code;
  }

  HRESULT Done(int code, long* code_result = nullptr) {
    self_.binding_.Unbind();
    self_.last_error_ = code;
    if (code_result != nullptr && !key_missing_)
      *code_result = code;
    if (code == core::kOk)
      return S_OK;
    return self_.Fail(static_cast<HRESULT>(code), core::MessageFor(code));
  }
  HRESULT Text(int code, BSTR text, BSTR* out) {
    if (code == core::kOk && text == nullptr)
      code = core::kNoMemory;
    if (code != core::kOk) {
      SysFreeString(text);
      return Done(code);
    }
    *out = text;
    return Done(code);
  }

 private:
  KOBA_PAGE_HELPER_CLASS& self_;
  HRESULT hr_ = S_OK;
  bool admitted_ = false;
  bool key_missing_ = false;
};

// Opens the call of method `id`; the result starts empty (null text, zero).
#define KOBA_BEGIN_CALL(id, result) \
  Call call(*this, id, result);     \
  if (!call.admitted())             \
    return call.refusal();          \
  *result = {}

STDMETHODIMP KOBA_PAGE_HELPER_CLASS::get_LastError(long* pVal) {
  if (pVal == nullptr)
    return E_POINTER;
  if (!CalledFromOwnApartment())
    return WrongApartment();
  *pVal = last_error_;
  return S_OK;
}

STDMETHODIMP KOBA_PAGE_HELPER_CLASS::GetMediaID(BSTR* pszSN) {
  KOBA_BEGIN_CALL(2, pszSN);
  uint32_t slot;
  DeviceInfo info;
  const int found = call.FindKey(&slot, &info);
  if (found != core::kOk)
    return call.Done(found);
  const std::string serial =
      core::TrimSerial(info.data() + token::devinfo::kSerial, token::devinfo::kSerialSize);
  std::wstring wide;
  if (text::AnsiToUtf16(serial, &wide)) {
    if (const win::UniqueRegKey key = OpenUserSettings()) {
      RegSetValueExW(key.get(), L"UKeySN", 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                     static_cast<DWORD>(wide.size() * sizeof(wchar_t)));
    }
  }
  return call.Text(core::kOk, com::AnsiToBstr(serial), pszSN);
}

int KOBA_PAGE_HELPER_CLASS::ReadKeyList(uint32_t slot, uint32_t id, std::string* text, bool rsa) {
  std::vector<uint8_t> buffer(kKeyListBufferBytes, 0);
  if (binding_.ManTokenParam(slot, id, buffer.data()) != 0)
    return core::kReadError;
  std::vector<std::string_view> entries;
  if (!ParseKeyList(buffer.data(), buffer.size(), &entries))
    return core::kReadError;
  if (!rsa) {
    *text = KeyListText(entries);
    return core::kOk;
  }
  return RsaPublicKeyText(entries, text) ? core::kOk : core::kReadError;
}

STDMETHODIMP KOBA_PAGE_HELPER_CLASS::GetPublicKey(BSTR* pszPub) {
  KOBA_BEGIN_CALL(3, pszPub);
  uint32_t slot;
  DeviceInfo info;
  int code = call.FindKey(&slot, &info);
  std::string text;
  if (code == core::kOk)
    code = ReadKeyList(slot, kParamRsaKeyList, &text, true);
  return call.Text(code, code == core::kOk ? com::AnsiToBstr(text) : nullptr, pszPub);
}

STDMETHODIMP KOBA_PAGE_HELPER_CLASS::GetPublicKeyC(BSTR* pszPub) {
  KOBA_BEGIN_CALL(4, pszPub);
  uint32_t slot;
  DeviceInfo info;
  int code = call.FindKey(&slot, &info);
  std::string text;
  if (code == core::kOk)
    code = ReadKeyList(slot, kParamKeyList, &text, false);
  return call.Text(code, code == core::kOk ? com::AnsiToBstr(text) : nullptr, pszPub);
}

STDMETHODIMP KOBA_PAGE_HELPER_CLASS::GetPublicKeyNum(long* pulNum) {
  KOBA_BEGIN_CALL(5, pulNum);
  uint32_t slot;
  DeviceInfo info;
  const int found = call.FindKey(&slot, &info);
  if (found != core::kOk)
    return call.Done(found);
  csp::CspInterface& provider = csp::SystemCsp();
  const std::string reader = csp::ReaderPath(slot);
  std::vector<std::string> names;
  long count = 0;
  if (provider.EnumContainerNames(reader, &names) == 0) {
    for (const std::string& name : names) {
      for (uint32_t spec : kKeySpecs) {
        std::vector<uint8_t> blob;
        if (provider.ExportUserPublicKey(reader + name, spec, &blob) == 0)
          ++count;
      }
    }
  }
  *pulNum = count;
  return call.Done(core::kOk);
}

STDMETHODIMP KOBA_PAGE_HELPER_CLASS::GetVersion(BSTR* pszVersion) {
  KOBA_BEGIN_CALL(6, pszVersion);
  std::wstring version;
  const int code = ReadMachineVersion(L"USBKeyVersion", &version);
  return call.Text(code, code == core::kOk ? com::WideToBstr(version) : nullptr, pszVersion);
}

STDMETHODIMP KOBA_PAGE_HELPER_CLASS::GetCSPInfo(BSTR, BSTR* pszCSPVersion) {
  KOBA_BEGIN_CALL(7, pszCSPVersion);
  std::wstring version;
  const int code = ReadMachineVersion(L"version", &version);
  if (code != core::kOk)
    return call.Done(code);
  wchar_t info[128] = {};
  _snwprintf(info, 127, kCspInfoFormat, version.c_str());
  return call.Text(code, com::WideToBstr(info), pszCSPVersion);
}

STDMETHODIMP KOBA_PAGE_HELPER_CLASS::RegisterCert(long* pulRet) {
  KOBA_BEGIN_CALL(8, pulRet);
  uint32_t slot;
  DeviceInfo info;
  const int found = call.FindKey(&slot, &info);
  if (found != core::kOk)
    return call.Done(found, pulRet);
  csp::CspInterface& provider = csp::SystemCsp();
  const std::string reader = csp::ReaderPath(slot);
  const std::string prefix = ContainerPrefixOf(info);
  std::vector<std::string> names;
  if (provider.EnumContainerNames(reader, &names) == 0) {
    for (const std::string& name : names) {
      for (uint32_t spec : kKeySpecs) {
        std::vector<uint8_t> der;
        if (provider.GetUserKeyCertificate(reader + name, spec, &der) != 0 || der.empty())
          continue;
        certstore::RegisterCertificate(kProvider, (prefix + name).c_str(), spec, der.data(),
                                       static_cast<DWORD>(der.size()));
      }
    }
  }
  return call.Done(core::kOk, pulRet);
}

STDMETHODIMP KOBA_PAGE_HELPER_CLASS::CustInitCard(long* pulRet) {
  KOBA_BEGIN_CALL(9, pulRet);
  uint32_t slot;
  DeviceInfo info;
  const int found = call.FindKey(&slot, &info);
  if (found != core::kOk)
    return call.Done(found, pulRet);
  uint16_t language = 0;
  std::memcpy(&language, info.data() + token::devinfo::kLanguage, sizeof language);
  const uint32_t status = RunPinEntry(slot, VKey::PAD_USE_INITDEV, language,
                                      reinterpret_cast<void*>(binding_.InitToken));
  const int code = core::MapPinStatus(core::PinOperation::kInitToken, status);
  if (code == core::kOk)
    certstore::DeleteStoredCertificates(kProvider, nullptr, 0);
  return call.Done(code, pulRet);
}

STDMETHODIMP KOBA_PAGE_HELPER_CLASS::ChangePin(long* pulRet) {
  KOBA_BEGIN_CALL(10, pulRet);
  uint32_t slot;
  DeviceInfo info;
  const int found = call.FindKey(&slot, &info);
  if (found != core::kOk)
    return call.Done(found, pulRet);
  uint16_t language = 0;
  std::memcpy(&language, info.data() + token::devinfo::kLanguage, sizeof language);
  const uint32_t status = RunPinEntry(slot, VKey::PAD_USE_CHANGEPIN, language,
                                      reinterpret_cast<void*>(binding_.ChangePin));
  int code = core::MapPinStatus(core::PinOperation::kChangePin, status);
  if (core::IsWrongPinStatus(status)) {
    uint8_t pin_info[8] = {};
    binding_.ManTokenParam(slot, token::kParamPinInfo, pin_info);
    code = core::WrongPinCode(pin_info[2]);
  }
  return call.Done(code, pulRet);
}

int KOBA_PAGE_HELPER_CLASS::ReadListParameter(uint32_t id, std::string (*list)(uint32_t),
                                              std::string* text) {
  uint32_t slot;
  DeviceInfo info;
  const int found = binding_.FindKey(&slot, &info);
  if (found != core::kOk)
    return found;
  uint32_t value = 0;
  if (binding_.ManTokenParam(slot, id, &value) != 0)
    return core::kReadError;
  *text = list(value);
  return core::kOk;
}

STDMETHODIMP KOBA_PAGE_HELPER_CLASS::GetCharsetList(BSTR* pszList) {
  KOBA_BEGIN_CALL(13, pszList);
  std::string text;
  const int code = ReadListParameter(token::kParamCharsetFlags, &core::CharsetList, &text);
  return call.Text(code, code == core::kOk ? com::AnsiToBstr(text) : nullptr, pszList);
}

STDMETHODIMP KOBA_PAGE_HELPER_CLASS::SetCharset(BSTR szSet, long* pszRet) {
  KOBA_BEGIN_CALL(14, pszRet);
  uint32_t slot;
  DeviceInfo info;
  const int found = call.FindKey(&slot, &info);
  if (found != core::kOk)
    return call.Done(found, pszRet);
  std::string name;
  uint8_t value = 0;
  if (!com::BstrToAnsi(szSet, &name) || !core::CharsetValue(name, &value))
    return call.Done(core::kBadParameter, pszRet);
  if (binding_.ManTokenParam(slot, token::kParamCharsetWrite, &value) != 0)
    return call.Done(core::kReadError, pszRet);
  return call.Done(core::kOk, pszRet);
}

STDMETHODIMP KOBA_PAGE_HELPER_CLASS::GetLanguageList(BSTR* pszList) {
  KOBA_BEGIN_CALL(15, pszList);
  std::string text;
  const int code = ReadListParameter(token::kParamLanguageMask, &core::LanguageList, &text);
  return call.Text(code, code == core::kOk ? com::AnsiToBstr(text) : nullptr, pszList);
}

STDMETHODIMP KOBA_PAGE_HELPER_CLASS::SetLanguage(BSTR szLang, long* pulRet) {
  KOBA_BEGIN_CALL(16, pulRet);
  uint32_t slot;
  DeviceInfo info;
  const int found = call.FindKey(&slot, &info);
  if (found != core::kOk)
    return call.Done(found, pulRet);
  uint32_t mask = 0;
  if (binding_.ManTokenParam(slot, token::kParamLanguageMask, &mask) == 0)
    settings::WriteRegDword(HKEY_CURRENT_USER, settings::kSettingsKey, L"UISupport", mask);
  std::string name;
  core::LanguageChoice choice;
  if (!com::BstrToAnsi(szLang, &name) || !core::ChooseLanguage(TableName(name), &choice))
    return call.Done(core::kBadParameter, pulRet);
  if (choice.write_ui_lang)
    settings::WriteRegDword(HKEY_CURRENT_USER, settings::kSettingsKey, L"UILang", choice.ui_lang);
  uint16_t index = choice.index;
  if (binding_.ManTokenParam(slot, token::kParamLanguage, &index) != 0)
    return call.Done(core::kReadError, pulRet);
  return call.Done(core::kOk, pulRet);
}

// The text up to its first NUL, stored with its terminating NUL.
STDMETHODIMP KOBA_PAGE_HELPER_CLASS::SetWarningMsg(BSTR szMsg, long* pulRet) {
  KOBA_BEGIN_CALL(17, pulRet);
  const std::wstring text(com::BstrView(szMsg).substr(0, com::BstrView(szMsg).find(L'\0')));
  const win::UniqueRegKey key = OpenUserSettings();
  if (key == nullptr || text.size() >= MAXDWORD / sizeof(wchar_t) - 1)
    return call.Done(core::kOtherError, pulRet);
  const LSTATUS status = RegSetValueExW(key.get(), L"WarningMsg", 0, REG_SZ,
                                        reinterpret_cast<const BYTE*>(text.c_str()),
                                        static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  return call.Done(status == ERROR_SUCCESS ? core::kOk : core::kOtherError, pulRet);
}

STDMETHODIMP KOBA_PAGE_HELPER_CLASS::UnRegisterCert(long* pulRet) {
  KOBA_BEGIN_CALL(18, pulRet);
  uint32_t slot;
  DeviceInfo info;
  const int found = call.FindKey(&slot, &info);
  if (found != core::kOk)
    return call.Done(found, pulRet);
  certstore::DeleteStoredCertificates(kProvider, nullptr, 0);
  return call.Done(core::kOk, pulRet);
}

STDMETHODIMP KOBA_PAGE_HELPER_CLASS::ClearSSLState(long* pulRet) {
  KOBA_BEGIN_CALL(19, pulRet);
  if (binding_.Bind() != core::kOk)
    return call.Done(kClearFailed, pulRet);
  uint32_t slots[token::kSlotListCapacity] = {};
  uint32_t count = token::kSlotListCount;
  if (binding_.GetSlotList(1, slots, &count) != 0)
    return call.Done(kClearFailed, pulRet);
  for (uint32_t i = 0; i < count && i < token::kSlotListCapacity; ++i)
    binding_.Logout(slots[i], 1);
  return call.Done(core::kOk, pulRet);
}

STDMETHODIMP KOBA_PAGE_HELPER_CLASS::GetLogFileContent(BSTR MediaID, long LineNum,
                                                       BSTR* pszContent) {
  KOBA_BEGIN_CALL(20, pszContent);
  std::string media_id;
  std::string base64;
  if (!com::BstrToAnsi(MediaID, &media_id))
    return call.Done(core::kOtherError);
  const int code = diaglog::GetLogFileContent(media_id.c_str(), LineNum, &base64);
  return call.Text(code, code == core::kOk ? com::AnsiToBstr(base64) : nullptr, pszContent);
}

}  // namespace koba::pagehelper
