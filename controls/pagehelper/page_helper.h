// CToken (CTokenUsb64 in the 64-bit build): the page helper object. Each method binds the
// object's own slim binding, works on the key and unbinds before it returns; the code becomes
// LastError, the HRESULT and, for a failure, COM error information.
#pragma once

#include <cstdint>
#include <string>

#include "dual_object.h"
#include "helper_interface.h"
#include "page_binding.h"

namespace koba::pagehelper {

class KOBA_PAGE_HELPER_CLASS final : public com::DualObject<HelperInterface> {
 public:
  explicit KOBA_PAGE_HELPER_CLASS(IUnknown* outer) : DualObject(outer) {}

  STDMETHODIMP get_LastError(long* pVal) override;
  STDMETHODIMP GetMediaID(BSTR* pszSN) override;
  STDMETHODIMP GetPublicKey(BSTR* pszPub) override;
  STDMETHODIMP GetPublicKeyC(BSTR* pszPub) override;
  STDMETHODIMP GetPublicKeyNum(long* pulNum) override;
  STDMETHODIMP GetVersion(BSTR* pszVersion) override;
  STDMETHODIMP GetCSPInfo(BSTR szSN, BSTR* pszCSPVersion) override;
  STDMETHODIMP RegisterCert(long* pulRet) override;
  STDMETHODIMP CustInitCard(long* pulRet) override;
  STDMETHODIMP ChangePin(long* pulRet) override;
  STDMETHODIMP GetCharsetList(BSTR* pszList) override;
  STDMETHODIMP SetCharset(BSTR szSet, long* pszRet) override;
  STDMETHODIMP GetLanguageList(BSTR* pszList) override;
  STDMETHODIMP SetLanguage(BSTR szLang, long* pulRet) override;
  STDMETHODIMP SetWarningMsg(BSTR szMsg, long* pulRet) override;
  STDMETHODIMP UnRegisterCert(long* pulRet) override;
  STDMETHODIMP ClearSSLState(long* pulRet) override;
  STDMETHODIMP GetLogFileContent(BSTR MediaID, long LineNum, BSTR* pszContent) override;

 private:
  class Call;

  // Reads a key list parameter (13 or 14) of the found key into its text.
  int ReadKeyList(uint32_t slot, uint32_t id, std::string* text, bool rsa);

  // Finds the key and reads a 32-bit device parameter (charset flags, language mask) into the
  // list text `list` makes of it.
  int ReadListParameter(uint32_t id, std::string (*list)(uint32_t), std::string* text);

  int32_t last_error_ = 0;
  PageBinding binding_;
  bool busy_ = false;
};

}  // namespace koba::pagehelper
