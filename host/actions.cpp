#include "actions.h"

#include "queries.h"
#include "result_codes.h"

namespace koba::host {

ActionTable BuildActionTable(core::TokenCore& core, csp::CspInterface& csp) {
  ActionTable table;
  table.Add(TextAction("GetMediaID", {}, 60, [&core](const Args&, char* out, size_t cap) {
    return core.GetMediaID(out, cap);
  }));
  table.Add(IsExtensionOkAction());
  table.Add(TextAction("GMGetCertDN", {}, 1024, [&core, &csp](const Args&, char* out, size_t cap) {
    return core::GMGetCertDN(core, csp, out, cap);
  }));
  table.Add(TextAction("GetPublicKeyC", {}, 5160, [&core](const Args&, char* out, size_t cap) {
    return core::GetPublicKeyC(core, out, cap);
  }));
  table.Add(TextAction("GMGetAdminKeyInfo", {}, 80, [&core](const Args&, char* out, size_t cap) {
    return core::GMGetAdminKeyInfo(core, out, cap);
  }));
  table.Add(TextAction("GMGetPublicKey", {{"keyType"}}, 8192,
                       [&core, &csp](const Args& a, char* out, size_t cap) {
                         return core::GMGetPublicKey(core, csp, a.Str(0), out, cap);
                       }));
  table.Add(TextAction("GMGetPublicKeyC", {{"KeyType"}, {"dnOrID"}, {"Base64SerRand"}}, 12288,
                       [&core, &csp](const Args& a, char* out, size_t cap) {
                         return core::GMGetPublicKeyC(core, csp, a.Str(0), a.Str(1), a.Str(2), out,
                                                      cap);
                       }));
  // The page only learns whether the keys were logged out.
  table.Add(CodeAction("ClearSSLState", {},
                       [&core](const Args&) { return core.ClearSSLState() == 0 ? 0 : -1; }));
  return table;
}

}  // namespace koba::host
