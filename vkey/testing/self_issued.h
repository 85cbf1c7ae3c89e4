// For the Windows tests and benchmarks that put a signing key on a virtual key of their own: a
// certificate for a key pair, issued by the pair itself (RSA with SHA-256).
#pragma once

#include <string>
#include <string_view>

#include "crypto.h"
#include "token_api.h"

namespace vkey::testing {

// Subject and issuer CN=`name`; valid from 2025 to 2045. Empty when the pair cannot sign.
inline Bytes SelfIssued(const KeyPair& pair, const std::string& name) {
  using namespace der;
  const auto text = [](std::string_view s) { return Bytes(s.begin(), s.end()); };
  const Bytes algorithm = Seq({Oid("1.2.840.113549.1.1.11"), Tlv(0x05, {})});
  const Bytes dn = Seq({Tlv(0x31, Seq({Oid("2.5.4.3"), Tlv(0x0C, text(name))}))});
  Bytes spki;
  if (!SubjectPublicKeyInfo(pair.public_key, &spki))
    return {};
  const Bytes tbs =
      Seq({Tlv(0xA0, SmallInteger(2)), SmallInteger(7), algorithm, dn,
           Seq({Tlv(0x17, text("250101000000Z")), Tlv(0x17, text("450101000000Z"))}), dn, spki});
  Bytes signature;
  if (!SignMessage(pair, koba::token::kDigestSha256, tbs, &signature))
    return {};
  signature.insert(signature.begin(), 0);
  return Seq({tbs, algorithm, Tlv(0x03, signature)});
}

}  // namespace vkey::testing
