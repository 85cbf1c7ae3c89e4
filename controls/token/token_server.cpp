// The token control's identities for this build and the making of its object.
#include <initguid.h>

#include "server.h"
#include "token_control.h"

namespace koba::com {

#ifdef KOBA_IDENTITY_64
const ServerIdentity& ThisServer() {
  static const ServerIdentity identity{
      CLSID_GMToken_KOBA_64,
      IID_IGMToken_KOBA_64,
      LIBID_KOBA_KvnGMUsbKey_64Lib,
      1,
      0,
      {0x467BAFDB, 0xB947, 0x4FC7, {0xB1, 0xC1, 0x5D, 0x66, 0x26, 0xBA, 0x5B, 0x2B}},
      L"KOBA_KvnGMUsbKey_64",
      L"GMToken_KOBA_64 Class",
      L"KOBA_KvnGMUsbKey_64.GMToken_KOBA_64.1",
      L"KOBA_KvnGMUsbKey_64.GMToken_KOBA_64"};
  return identity;
}
#else
const ServerIdentity& ThisServer() {
  static const ServerIdentity identity{
      CLSID_GMToken_KOBA,
      IID_IGMToken_KOBA,
      LIBID_KOBA_KvnGMUsbKeyLib,
      1,
      0,
      {0xB795D001, 0x0BE1, 0x45B9, {0x82, 0x53, 0x08, 0xDF, 0xE8, 0xB8, 0xCE, 0x32}},
      L"KOBA_KvnGMUsbKey",
      L"GMToken_KOBA Class",
      L"KOBA_KvnGMUsbKey.GMToken_KOBA.1",
      L"KOBA_KvnGMUsbKey.GMToken_KOBA"};
  return identity;
}
#endif

HRESULT CreateServerObject(IUnknown* outer, REFIID iid, void** out) {
  return DualObject<token_control::TokenInterface>::Create<token_control::CGMToken_KOBA>(outer, iid,
                                                                                         out);
}

}  // namespace koba::com
