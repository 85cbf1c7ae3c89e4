// CGMToken_KOBA: the token control object. Every method of the dual interface converts its
// arguments, runs one token operation on the module's TokenCore and reports the code as the
// HRESULT, in LastError and, for a failure, as COM error information.
#pragma once

#include <string>

#include "dual_object.h"
#include "token_interface.h"

namespace koba::token_control {

class CGMToken_KOBA final : public com::DualObject<TokenInterface> {
 public:
  explicit CGMToken_KOBA(IUnknown* outer) : DualObject(outer) {}

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
  STDMETHODIMP GMCreatePKCS10(BSTR szInfo, BSTR* pszP10) override;
  STDMETHODIMP GMWritePKCS7(BSTR pszP7, long* pulRet) override;
  STDMETHODIMP GMGetAdminKeyInfo(BSTR* pszMsg) override;
  STDMETHODIMP GMUsbKeySign(BSTR szIssurerDN, BSTR szDigestName, BSTR szXMLInfo, BSTR szKeyInfo,
                            BSTR szFileName, BSTR* pszP7) override;
  STDMETHODIMP GMGetCertDN(BSTR* pszDN) override;
  STDMETHODIMP GMGetPublicKey(BSTR szType, BSTR* pszPubKey) override;
  STDMETHODIMP GMGetPublicKeyC(BSTR szType, BSTR szDNorKeyID, BSTR szServerRandom,
                               BSTR* pszPubKeyC) override;
  STDMETHODIMP GMDelTempKey(BSTR szDN, BSTR szPubKeyID, long* pulRet) override;
  STDMETHODIMP GetDriverVersion(BSTR* pszVersion) override;
  STDMETHODIMP GMGetFileName(BSTR* pszFileName) override;
  STDMETHODIMP GMUsbKeySignFile(BSTR szIssurerDN, BSTR szDigestName, BSTR szXMLInfo, BSTR szKeyInfo,
                                BSTR szFileName, BSTR szP7FileName, long* pulRet) override;
  STDMETHODIMP GMGetPKCS7(BSTR* pszCert) override;
  STDMETHODIMP GMJudgeAndDelOlderDN() override;
  STDMETHODIMP NSChooseFileExt(BSTR* result) override;
  STDMETHODIMP GMUsbKeySignFileExt(BSTR deSignerDN, BSTR HashName, BSTR xmlMsg, BSTR keyMsg,
                                   BSTR chooseFileToken, BSTR* result) override;
  STDMETHODIMP GetSignFileContent(BSTR signedFileToken, long maxLength, long fileOffset,
                                  BSTR* result) override;
  STDMETHODIMP NSFileToTokenExt(BSTR path, BSTR* result) override;
  STDMETHODIMP ClearSSLState(long* pulRet) override;
  STDMETHODIMP GetLogFileContent(BSTR MediaID, long LineNum, BSTR* pszContent) override;

 private:
  class Call;

  long last_error_ = 0;
};

}  // namespace koba::token_control
