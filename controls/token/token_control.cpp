#include "token_control.h"

#include <memory>
#include <mutex>
#include <string>

#include "bstr_text.h"
#include "cert_install.h"
#include "code_page.h"
#include "csp.h"
#include "diag_log.h"
#include "enrollment.h"
#include "file_chooser.h"
#include "file_signing.h"
#include "guards.h"
#include "module_state.h"
#include "path_policy.h"
#include "queries.h"
#include "result_codes.h"
#include "settings.h"
#include "signing.h"
#include "text_encoding.h"
#include "ui_settings.h"

namespace koba::token_control {
namespace {

enum Guard : unsigned { kNoGuard = 0, kDebuggerGuard = 1, kSignatureGuard = 2 };
constexpr unsigned kBothGuards = kDebuggerGuard | kSignatureGuard;

// The members of the interface by DISPID, with the guards each one passes first.
struct Method {
  DISPID id;
  unsigned guards;
};
constexpr Method kMethods[] = {
    {1, kNoGuard},         // LastError
    {2, kDebuggerGuard},   // GetMediaID
    {3, kDebuggerGuard},   // GetPublicKey
    {4, kDebuggerGuard},   // GetPublicKeyC
    {5, kDebuggerGuard},   // GetPublicKeyNum
    {6, kDebuggerGuard},   // GetVersion
    {7, kDebuggerGuard},   // GetCSPInfo
    {8, kDebuggerGuard},   // RegisterCert
    {9, kDebuggerGuard},   // CustInitCard
    {10, kDebuggerGuard},  // ChangePin
    {11, kDebuggerGuard},  // GetCharsetList
    {12, kDebuggerGuard},  // SetCharset
    {13, kDebuggerGuard},  // GetLanguageList
    {14, kDebuggerGuard},  // SetLanguage
    {15, kDebuggerGuard},  // SetWarningMsg
    {16, kDebuggerGuard},  // UnRegisterCert
    {17, kBothGuards},     // GMCreatePKCS10
    {18, kBothGuards},     // GMWritePKCS7
    {19, kDebuggerGuard},  // GMGetAdminKeyInfo
    {20, kBothGuards},     // GMUsbKeySign
    {21, kDebuggerGuard},  // GMGetCertDN
    {22, kBothGuards},     // GMGetPublicKey
    {23, kBothGuards},     // GMGetPublicKeyC
    {24, kBothGuards},     // GMDelTempKey
    {25, kDebuggerGuard},  // GetDriverVersion
    {26, kNoGuard},        // GMGetFileName
    {27, kBothGuards},     // GMUsbKeySignFile
    {28, kDebuggerGuard},  // GMGetPKCS7
    {29, kDebuggerGuard},  // GMJudgeAndDelOlderDN
    {30, kDebuggerGuard},  // NSChooseFileExt
    {31, kDebuggerGuard},  // GMUsbKeySignFileExt
    {32, kDebuggerGuard},  // GetSignFileContent
    {33, kDebuggerGuard},  // NSFileToTokenExt
    {34, kNoGuard},        // ClearSSLState
    {35, kNoGuard},        // GetLogFileContent
};

// Result buffer capacities in bytes (NUL included) for the byte-text operations.
constexpr size_t kKeyTextCapacity = 4096;
constexpr size_t kCertDnCapacity = 1024;
constexpr size_t kShortListCapacity = 100;
constexpr size_t kLanguageListCapacity = 200;
constexpr size_t kMediaIdCapacity = 32;
constexpr size_t kFileRecordCapacity = 10240;
constexpr size_t kSignedRecordCapacity = 1024;
// Result capacities in UTF-16 characters (NUL included).
constexpr size_t kVersionChars = 100;
constexpr size_t kFileNameChars = 260;
// The longest signer DN GMUsbKeySignFileExt takes, in bytes.
constexpr size_t kMaxSignerDnBytes = 63;

constexpr wchar_t kCspInfoFormat[] = L"Korvanet Vexlo CSP KOBA v1.0||%s";

unsigned GuardsOf(DISPID id) {
  for (const Method& m : kMethods) {
    if (m.id == id)
      return m.guards;
  }
  return kBothGuards;
}

// A version value of the machine settings: 0 and its text, or -101.
int ReadMachineVersion(const wchar_t* value, std::string* text) {
  char buffer[settings::kVersionBufferBytes] = {};
  if (settings::ReadRegString(HKEY_LOCAL_MACHINE, settings::kSettingsKey, value, buffer,
                              sizeof buffer) != ERROR_SUCCESS) {
    return settings::kErrVersionUnreadable;
  }
  *text = buffer;
  return core::kOk;
}

// "UKeySN" as the page helper and the control keep it: the serial read as GB18030, in UTF-16.
void StoreMediaIdWide(const std::string& serial) {
  std::u16string wide;
  if (!text::Gb18030ToUtf16(serial, &wide))
    return;
  HKEY raw = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, settings::kSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr,
                      &raw, nullptr) != ERROR_SUCCESS) {
    return;
  }
  const win::UniqueRegKey key(raw);
  RegSetValueExW(key.get(), L"UKeySN", 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                 static_cast<DWORD>(wide.size() * sizeof(char16_t)));
}

// A page's path as the file-signing operations take it: GB18030, refused when it cannot be
// converted or would not fit a file record.
bool PagePath(BSTR in, std::string* gb18030) {
  std::string utf8;
  std::u16string wide;
  const std::wstring_view view = com::BstrView(in);
  wide.assign(view.begin(), view.end());
  return com::BstrToUtf8(in, &utf8) &&
         paths::DoubleBackslashes(utf8).size() <= core::kMaxRecordPathBytes &&
         text::Utf16ToGb18030(wide, gb18030);
}

}  // namespace

// One method call: the apartment check, the guards, the reset of LastError and exclusive use
// of the module's core; then the end of the call with its code and result.
class CGMToken_KOBA::Call {
 public:
  Call(CGMToken_KOBA& self, DISPID id, const void* result) : self_(self) {
    if (result == nullptr) {
      hr_ = E_POINTER;
      return;
    }
    if (!self_.CalledFromOwnApartment()) {
      hr_ = self_.WrongApartment();
      return;
    }
    const unsigned guards = GuardsOf(id);
    if ((guards & kDebuggerGuard) && com::DebuggerPresent()) {
      hr_ = Refuse(core::kEnvironmentGone);
      return;
    }
    if ((guards & kSignatureGuard) && !com::VendorLibrariesTrusted()) {
      hr_ = Refuse(core::kErrorState);
      return;
    }
    self_.last_error_ = 0;
    if (!access_.Acquire()) {
      hr_ = Done(core::kOtherError);
      return;
    }
    admitted_ = true;
  }

  bool admitted() const { return admitted_; }
  HRESULT refusal() const { return hr_; }

  // Ends the call with `code`; a long result receives it too.
  HRESULT Done(int code, long* code_result = nullptr) {
    self_.last_error_ = code;
    if (code_result != nullptr)
      *code_result = code;
    if (code == core::kOk)
      return S_OK;
    // A positive code (a registry status) would read as success: it fails as that error.
    const HRESULT hr = code < 0 ? static_cast<HRESULT>(code) : HRESULT_FROM_WIN32(code);
    return self_.Fail(hr, core::MessageFor(code));
  }
  // Ends the call with a text result (taken over); a null text on success is memory lost.
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
  HRESULT Number(int code, long value, long* out) {
    if (code == core::kOk)
      *out = value;
    return Done(code);
  }

 private:
  // A guard's refusal leaves the key and LastError untouched; its own text, not the table's.
  HRESULT Refuse(int code) {
    return self_.Fail(static_cast<HRESULT>(code), core::ControlMessageFor(code));
  }

  CGMToken_KOBA& self_;
  CoreAccess access_;
  HRESULT hr_ = S_OK;
  bool admitted_ = false;
};

// Opens the call of method `id`; the result starts empty (null text, zero).
#define KOBA_BEGIN_CALL(id, result) \
  Call call(*this, id, result);     \
  if (!call.admitted())             \
    return call.refusal();          \
  *result = {}

STDMETHODIMP CGMToken_KOBA::get_LastError(long* pVal) {
  if (pVal == nullptr)
    return E_POINTER;
  if (!CalledFromOwnApartment())
    return WrongApartment();
  *pVal = last_error_;
  return S_OK;
}

STDMETHODIMP CGMToken_KOBA::GetMediaID(BSTR* pszSN) {
  KOBA_BEGIN_CALL(2, pszSN);
  char serial[kMediaIdCapacity] = {};
  const int code = Core().GetMediaID(serial, sizeof serial);
  if (code == core::kOk)
    StoreMediaIdWide(serial);
  return call.Text(code, code == core::kOk ? com::AnsiToBstr(serial) : nullptr, pszSN);
}

STDMETHODIMP CGMToken_KOBA::GetPublicKey(BSTR* pszPub) {
  KOBA_BEGIN_CALL(3, pszPub);
  auto out = std::make_unique<char[]>(kKeyTextCapacity);
  const int code = core::GetPublicKey(Core(), csp::SystemCsp(), out.get(), kKeyTextCapacity);
  return call.Text(code, code == core::kOk ? com::BytesToBstr(out.get()) : nullptr, pszPub);
}

STDMETHODIMP CGMToken_KOBA::GetPublicKeyC(BSTR* pszPub) {
  KOBA_BEGIN_CALL(4, pszPub);
  auto out = std::make_unique<char[]>(kKeyTextCapacity);
  const int code = core::GetPublicKeyC(Core(), out.get(), kKeyTextCapacity);
  return call.Text(code, code == core::kOk ? com::BytesToBstr(out.get()) : nullptr, pszPub);
}

STDMETHODIMP CGMToken_KOBA::GetPublicKeyNum(long* pulNum) {
  KOBA_BEGIN_CALL(5, pulNum);
  int count = 0;
  const int code = core::GetPublicKeyNum(Core(), csp::SystemCsp(), &count);
  return call.Number(code, count, pulNum);
}

STDMETHODIMP CGMToken_KOBA::GetVersion(BSTR* pszVersion) {
  KOBA_BEGIN_CALL(6, pszVersion);
  std::string version;
  const int code = ReadMachineVersion(L"GMUSBKeyVersion", &version);
  return call.Text(code, code == core::kOk ? com::AnsiToBstr(version) : nullptr, pszVersion);
}

STDMETHODIMP CGMToken_KOBA::GetCSPInfo(BSTR, BSTR* pszCSPVersion) {
  KOBA_BEGIN_CALL(7, pszCSPVersion);
  std::string version;
  const int code = ReadMachineVersion(L"version", &version);
  if (code != core::kOk)
    return call.Done(code);
  std::wstring wide;
  text::AnsiToUtf16(version, &wide);
  wchar_t info[kVersionChars] = {};
  _snwprintf(info, kVersionChars - 1, kCspInfoFormat, wide.c_str());
  return call.Text(code, com::WideToBstr(info), pszCSPVersion);
}

STDMETHODIMP CGMToken_KOBA::RegisterCert(long* pulRet) {
  KOBA_BEGIN_CALL(8, pulRet);
  return call.Done(core::RegisterCert(Core(), csp::SystemCsp()), pulRet);
}

STDMETHODIMP CGMToken_KOBA::CustInitCard(long* pulRet) {
  KOBA_BEGIN_CALL(9, pulRet);
  return call.Done(core::CustInitCard(Core()), pulRet);
}

STDMETHODIMP CGMToken_KOBA::ChangePin(long* pulRet) {
  KOBA_BEGIN_CALL(10, pulRet);
  return call.Done(core::ChangePin(Core()), pulRet);
}

STDMETHODIMP CGMToken_KOBA::GetCharsetList(BSTR* pszList) {
  KOBA_BEGIN_CALL(11, pszList);
  char out[kShortListCapacity] = {};
  const int code = core::GetCharsetList(Core(), out, sizeof out);
  return call.Text(code, code == core::kOk ? com::BytesToBstr(out) : nullptr, pszList);
}

STDMETHODIMP CGMToken_KOBA::SetCharset(BSTR szSet, long* pszRet) {
  KOBA_BEGIN_CALL(12, pszRet);
  std::string name;
  if (!com::BstrToAnsi(szSet, &name))
    return call.Done(core::kBadParameter, pszRet);
  return call.Done(core::SetCharset(Core(), name), pszRet);
}

STDMETHODIMP CGMToken_KOBA::GetLanguageList(BSTR* pszList) {
  KOBA_BEGIN_CALL(13, pszList);
  char out[kLanguageListCapacity] = {};
  const int code = core::GetLanguageList(Core(), out, sizeof out);
  return call.Text(code, code == core::kOk ? com::BytesToBstr(out) : nullptr, pszList);
}

STDMETHODIMP CGMToken_KOBA::SetLanguage(BSTR szLang, long* pulRet) {
  KOBA_BEGIN_CALL(14, pulRet);
  std::string name;
  if (!com::BstrToAnsi(szLang, &name))
    return call.Done(core::kBadParameter, pulRet);
  return call.Done(core::SetLanguage(Core(), name), pulRet);
}

STDMETHODIMP CGMToken_KOBA::SetWarningMsg(BSTR szMsg, long* pulRet) {
  KOBA_BEGIN_CALL(15, pulRet);
  // The text up to its first NUL, as UTF-16.
  const std::wstring text(com::BstrView(szMsg));
  return call.Done(core::SetWarningMsg(text.c_str()), pulRet);
}

STDMETHODIMP CGMToken_KOBA::UnRegisterCert(long* pulRet) {
  KOBA_BEGIN_CALL(16, pulRet);
  return call.Done(core::UnRegisterCert(Core()), pulRet);
}

STDMETHODIMP CGMToken_KOBA::GMCreatePKCS10(BSTR szInfo, BSTR* pszP10) {
  KOBA_BEGIN_CALL(17, pszP10);
  std::string info;
  if (!com::BstrToUtf8(szInfo, &info))
    return call.Done(core::kBadParameter);
  auto out = std::make_unique<char[]>(core::kPkcs10Capacity);
  const int code =
      core::GMCreatePKCS10(Core(), csp::SystemCsp(), info, out.get(), core::kPkcs10Capacity);
  return call.Text(code, code == core::kOk ? com::BytesToBstr(out.get()) : nullptr, pszP10);
}

STDMETHODIMP CGMToken_KOBA::GMWritePKCS7(BSTR pszP7, long* pulRet) {
  KOBA_BEGIN_CALL(18, pulRet);
  std::string p7;
  if (!com::BstrToAnsi(pszP7, &p7))
    return call.Done(core::kBadParameter, pulRet);
  return call.Done(core::GMWritePKCS7(Core(), csp::SystemCsp(), p7), pulRet);
}

STDMETHODIMP CGMToken_KOBA::GMGetAdminKeyInfo(BSTR* pszMsg) {
  KOBA_BEGIN_CALL(19, pszMsg);
  char out[kShortListCapacity] = {};
  const int code = core::GMGetAdminKeyInfo(Core(), out, sizeof out);
  return call.Text(code, code == core::kOk ? com::BytesToBstr(out) : nullptr, pszMsg);
}

STDMETHODIMP CGMToken_KOBA::GMUsbKeySign(BSTR szIssurerDN, BSTR szDigestName, BSTR szXMLInfo,
                                         BSTR szKeyInfo, BSTR szFileName, BSTR* pszP7) {
  KOBA_BEGIN_CALL(20, pszP7);
  std::string dn, digest, xml, key_info, path;
  if (!com::BstrToUtf8(szIssurerDN, &dn) || !com::BstrToAnsi(szDigestName, &digest) ||
      !com::BstrToUtf8(szXMLInfo, &xml) || !com::BstrToUtf8(szKeyInfo, &key_info) ||
      !com::BstrToUtf8(szFileName, &path)) {
    return call.Done(core::kBadParameter);
  }
  char* p7 = nullptr;
  const int code =
      core::GMUsbKeySign(Core(), csp::SystemCsp(), dn, digest, xml, key_info, path, &p7);
  const std::unique_ptr<char, void (*)(char*)> owned(p7, &core::ReleaseResultText);
  if (code == core::kOk && owned == nullptr)
    return call.Done(core::kOtherError);
  return call.Text(code, code == core::kOk ? com::BytesToBstr(owned.get()) : nullptr, pszP7);
}

STDMETHODIMP CGMToken_KOBA::GMGetCertDN(BSTR* pszDN) {
  KOBA_BEGIN_CALL(21, pszDN);
  char out[kCertDnCapacity] = {};
  const int code = core::GMGetCertDN(Core(), csp::SystemCsp(), out, sizeof out);
  return call.Text(code, code == core::kOk ? com::BytesToBstr(out) : nullptr, pszDN);
}

STDMETHODIMP CGMToken_KOBA::GMGetPublicKey(BSTR szType, BSTR* pszPubKey) {
  KOBA_BEGIN_CALL(22, pszPubKey);
  std::string type;
  if (!com::BstrToAnsi(szType, &type) || type.empty())
    return call.Done(core::kBadParameter);
  auto out = std::make_unique<char[]>(kKeyTextCapacity);
  const int code =
      core::GMGetPublicKey(Core(), csp::SystemCsp(), type, out.get(), kKeyTextCapacity);
  return call.Text(code, code == core::kOk ? com::BytesToBstr(out.get()) : nullptr, pszPubKey);
}

STDMETHODIMP CGMToken_KOBA::GMGetPublicKeyC(BSTR szType, BSTR szDNorKeyID, BSTR szServerRandom,
                                            BSTR* pszPubKeyC) {
  KOBA_BEGIN_CALL(23, pszPubKeyC);
  std::string type, dn_or_id, random;
  if (!com::BstrToAnsi(szType, &type) || !com::BstrToUtf8(szDNorKeyID, &dn_or_id) ||
      !com::BstrToAnsi(szServerRandom, &random)) {
    return call.Done(core::kBadParameter);
  }
  auto out = std::make_unique<char[]>(kKeyTextCapacity);
  const int code = core::GMGetPublicKeyC(Core(), csp::SystemCsp(), type, dn_or_id, random,
                                         out.get(), kKeyTextCapacity);
  return call.Text(code, code == core::kOk ? com::BytesToBstr(out.get()) : nullptr, pszPubKeyC);
}

STDMETHODIMP CGMToken_KOBA::GMDelTempKey(BSTR szDN, BSTR szPubKeyID, long* pulRet) {
  KOBA_BEGIN_CALL(24, pulRet);
  std::string dn, id;
  if (!com::BstrToUtf8(szDN, &dn) || !com::BstrToAnsi(szPubKeyID, &id))
    return call.Done(core::kBadParameter, pulRet);
  return call.Done(core::GMDelTempKey(Core(), csp::SystemCsp(), dn, id), pulRet);
}

STDMETHODIMP CGMToken_KOBA::GetDriverVersion(BSTR* pszVersion) {
  KOBA_BEGIN_CALL(25, pszVersion);
  char out[kVersionChars] = {};
  const int code = settings::GetDriverVersion(out, sizeof out);
  return call.Text(code, code == core::kOk ? com::AnsiToBstr(out) : nullptr, pszVersion);
}

STDMETHODIMP CGMToken_KOBA::GMGetFileName(BSTR* pszFileName) {
  KOBA_BEGIN_CALL(26, pszFileName);
  std::wstring path;
  const int code = core::ChooseFile(kFileNameChars, &path);
  return call.Text(code, code == core::kOk ? com::WideToBstr(path) : nullptr, pszFileName);
}

// The signature goes to the file szP7FileName names; an empty name means no output file.
STDMETHODIMP CGMToken_KOBA::GMUsbKeySignFile(BSTR szIssurerDN, BSTR szDigestName, BSTR szXMLInfo,
                                             BSTR szKeyInfo, BSTR szFileName, BSTR szP7FileName,
                                             long* pulRet) {
  KOBA_BEGIN_CALL(27, pulRet);
  std::string dn, digest, xml, key_info, path, output;
  if (!com::BstrToUtf8(szIssurerDN, &dn) || !com::BstrToAnsi(szDigestName, &digest) ||
      !com::BstrToUtf8(szXMLInfo, &xml) || !com::BstrToUtf8(szKeyInfo, &key_info) ||
      !com::BstrToUtf8(szFileName, &path) ||
      (com::BstrView(szP7FileName).size() != 0 && !PagePath(szP7FileName, &output))) {
    return call.Done(core::kBadParameter, pulRet);
  }
  return call.Done(core::GMUsbKeySignFile(Core(), csp::SystemCsp(), dn, digest, xml, key_info, path,
                                          output.empty() ? nullptr : &output),
                   pulRet);
}

STDMETHODIMP CGMToken_KOBA::GMGetPKCS7(BSTR* pszCert) {
  KOBA_BEGIN_CALL(28, pszCert);
  size_t length = 0;
  int code = core::GMGetPKCS7(Core(), csp::SystemCsp(), nullptr, 0, &length);
  if (code != core::kOk || length == 0)
    return call.Done(code != core::kOk ? code : core::kCertNotFound);
  // The size the operation reports counts raw certificate bytes; their Base64 texts, the
  // separators and the serial in front are longer, so the buffer is sized for those.
  const size_t capacity = 2 * length + 1024;
  auto out = std::make_unique<char[]>(capacity);
  code = core::GMGetPKCS7(Core(), csp::SystemCsp(), out.get(), capacity, &length);
  return call.Text(code, code == core::kOk ? com::BytesToBstr(out.get()) : nullptr, pszCert);
}

STDMETHODIMP CGMToken_KOBA::GMJudgeAndDelOlderDN() {
  Call call(*this, 29, this);
  if (!call.admitted())
    return call.refusal();
  // No result value: the page reads LastError.
  return call.Done(core::GMJudgeAndDelOlderDN(Core(), csp::SystemCsp()));
}

STDMETHODIMP CGMToken_KOBA::NSChooseFileExt(BSTR* result) {
  KOBA_BEGIN_CALL(30, result);
  auto out = std::make_unique<char[]>(kFileRecordCapacity);
  const int code = core::NSChooseFileExt(Core(), FileState(), out.get(), kFileRecordCapacity);
  return call.Text(code, code == core::kOk ? com::BytesToBstr(out.get()) : nullptr, result);
}

STDMETHODIMP CGMToken_KOBA::GMUsbKeySignFileExt(BSTR deSignerDN, BSTR HashName, BSTR xmlMsg,
                                                BSTR keyMsg, BSTR chooseFileToken, BSTR* result) {
  KOBA_BEGIN_CALL(31, result);
  std::string dn, digest, xml, key_info, token;
  if (!com::BstrToUtf8(deSignerDN, &dn) || dn.size() > kMaxSignerDnBytes ||
      !com::BstrToAnsi(HashName, &digest) || !com::BstrToUtf8(xmlMsg, &xml) ||
      !com::BstrToUtf8(keyMsg, &key_info) || !com::BstrToAnsi(chooseFileToken, &token)) {
    return call.Done(core::kBadParameter);
  }
  char out[kSignedRecordCapacity] = {};
  const int code = core::GMUsbKeySignFileExt(Core(), csp::SystemCsp(), FileState(), dn, digest, xml,
                                             key_info, token, out, sizeof out);
  return call.Text(code, code == core::kOk ? com::BytesToBstr(out) : nullptr, result);
}

// "MARK=%d||CONTENT=%s": the piece is sized by the operation, so no length of the page's
// choosing decides an allocation here.
STDMETHODIMP CGMToken_KOBA::GetSignFileContent(BSTR signedFileToken, long maxLength,
                                               long fileOffset, BSTR* result) {
  KOBA_BEGIN_CALL(32, result);
  std::string token;
  if (!com::BstrToAnsi(signedFileToken, &token))
    return call.Done(core::kBadParameter);
  std::string content;
  int mark = 0;
  const int code =
      core::GetSignFileContent(FileState(), token, maxLength, fileOffset, &content, &mark);
  if (code != core::kOk)
    return call.Done(code);
  const std::string text = "MARK=" + std::to_string(mark) + "||CONTENT=" + content;
  return call.Text(code, com::AnsiToBstr(text), result);
}

STDMETHODIMP CGMToken_KOBA::NSFileToTokenExt(BSTR path, BSTR* result) {
  KOBA_BEGIN_CALL(33, result);
  std::string page_path;
  if (!PagePath(path, &page_path))
    return call.Done(core::kBadParameter);
  auto out = std::make_unique<char[]>(kFileRecordCapacity);
  const int code =
      core::NSFileToTokenExt(Core(), FileState(), page_path, out.get(), kFileRecordCapacity);
  return call.Text(code, code == core::kOk ? com::BytesToBstr(out.get()) : nullptr, result);
}

STDMETHODIMP CGMToken_KOBA::ClearSSLState(long* pulRet) {
  KOBA_BEGIN_CALL(34, pulRet);
  return call.Done(Core().ClearSSLState(), pulRet);
}

STDMETHODIMP CGMToken_KOBA::GetLogFileContent(BSTR MediaID, long LineNum, BSTR* pszContent) {
  KOBA_BEGIN_CALL(35, pszContent);
  std::string media_id;
  std::string base64;
  if (!com::BstrToAnsi(MediaID, &media_id))
    return call.Done(diaglog::kErrLogUnreadable);
  const int code = diaglog::GetLogFileContent(media_id.c_str(), LineNum, &base64);
  return call.Text(code, code == core::kOk ? com::AnsiToBstr(base64) : nullptr, pszContent);
}

}  // namespace koba::token_control
