// The page helper's identities for this build and the making of its object.
#include <initguid.h>

#include "page_helper.h"
#include "server.h"

namespace koba::com {

#ifdef KOBA_IDENTITY_64
const ServerIdentity& ThisServer() {
  static const ServerIdentity identity{
      CLSID_TokenUsb64,
      IID_ITokenUsb64,
      LIBID_koba_kvnusbkey64Lib,
      1,
      0,
      {0x4C1D1B13, 0x732F, 0x4B8E, {0x97, 0x3B, 0xEF, 0xA0, 0x53, 0x84, 0x04, 0x7D}},
      L"koba_kvnusbkey64",
      L"TokenUsb64 Class",
      L"koba_kvnusbkey64.TokenUsb64.1",
      L"koba_kvnusbkey64.TokenUsb64"};
  return identity;
}
#else
const ServerIdentity& ThisServer() {
  static const ServerIdentity identity{
      CLSID_Token,
      IID_IToken,
      LIBID_koba_kvnusbkeyLib,
      1,
      0,
      {0x4A905F7F, 0x8C69, 0x44AF, {0x81, 0x69, 0x37, 0x71, 0x77, 0xC6, 0x4D, 0xEC}},
      L"koba_kvnusbkey",
      L"Token Class",
      L"koba_kvnusbkey.Token.1",
      L"koba_kvnusbkey.Token"};
  return identity;
}
#endif

HRESULT CreateServerObject(IUnknown* outer, REFIID iid, void** out) {
  return DualObject<pagehelper::HelperInterface>::Create<pagehelper::KOBA_PAGE_HELPER_CLASS>(
      outer, iid, out);
}

}  // namespace koba::com
