// Cryptography of the virtual key, over libgcrypt (primitives) and libksba (certificate and
// CMS parsing). DER is written here only where neither library builds the structure: PKCS#10
// request bodies and PKCS#7 signed data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "store.h"

namespace vkey {

// Initialises libgcrypt once per process (thread-safe); false when the library is unusable.
bool CryptoReady();

// Random bytes from libgcrypt's strong generator.
Bytes RandomBytes(size_t n);

// Digest algorithms by the device's digest code (0x10000 MD5 .. 0x400000 SM3); 0 when unknown.
int GcryDigestFromCode(uint32_t code);
int GcryDigestFromOssl(int algorithm);  // Ossl_ numbering (2 MD5 .. 8 SM3)
uint32_t CodeFromOssl(int algorithm);
bool Digest(int gcry_algo, const uint8_t* data, size_t length, Bytes* out);

// Generates a key pair: algorithm 1 with 1024 or 2048 bits, or algorithm 2 (SM2, 256 bits).
bool GenerateKeyPair(uint32_t algorithm, uint32_t bits, KeyPair* pair);

// Signs a precomputed digest: RSA PKCS#1 v1.5 with the DigestInfo of the digest code; SM2
// returns DER SEQUENCE { r, s } over the digest as e.
bool SignDigest(const KeyPair& pair, uint32_t digest_code, const Bytes& digest, Bytes* signature);

// Signs a message the way a verifier expects it: RSA over H(message); SM2 over
// e = SM3(ZA || message) with the default identifier "1234567812345678".
bool SignMessage(const KeyPair& pair, uint32_t digest_code, const Bytes& message, Bytes* signature);
bool SignMessage(const KeyPair& pair, uint32_t digest_code, const uint8_t* message, size_t length,
                 Bytes* signature);

// ZA of an SM2 public key (04 || X || Y) with the default identifier.
bool Sm2Za(const Bytes& point, Bytes* za);

// DER building blocks.
namespace der {
// Tag and definite length of a value of `length` bytes.
Bytes Header(uint8_t tag, size_t length);
Bytes Tlv(uint8_t tag, const Bytes& content);
Bytes Seq(std::initializer_list<Bytes> items);
Bytes Integer(const Bytes& big_endian_unsigned);
Bytes SmallInteger(uint32_t value);
Bytes Oid(const char* dotted);
}  // namespace der

// SubjectPublicKeyInfo of a raw public key (RSA modulus, or SM2 point of 64 or 65 bytes).
bool SubjectPublicKeyInfo(const Bytes& raw, Bytes* spki);
// PKCS#1 RSAPublicKey of a modulus (exponent 65537).
Bytes RsaPublicKeyDer(const Bytes& modulus);

// PKCS#10: the body (CertificationRequestInfo) for CN=common_name, and the whole request.
bool RequestBody(const std::string& common_name, const Bytes& raw_public_key, Bytes* body);
bool RequestWithSignature(const Bytes& body, const Bytes& raw_public_key, uint32_t digest_code,
                          const Bytes& signature, Bytes* request);

// PKCS#7 signed data over a content of `content_length` bytes with the detached signature of
// the certificate's key, the content and the certificate included, no signed attributes. The
// message is `before`, the content, then `after`, so that a large content is never copied.
bool SignedData(uint32_t digest_code, size_t content_length, const Bytes& signature,
                const Bytes& certificate, Bytes* before, Bytes* after);

// Certificate facts through libksba.
struct CertificateInfo {
  Bytes public_key;  // raw: RSA modulus or SM2 X || Y (64 bytes)
  uint32_t algorithm = 0;
  std::string subject;  // RFC 2253 form as libksba gives it
  std::string issuer;
  int64_t not_after = 0;  // seconds since 1970 (UTC)
};
bool ParseCertificate(const Bytes& der, CertificateInfo* info);

// The certificates of a PKCS#7 (signed data, certificates only or not).
bool CertificatesOfPkcs7(const Bytes& der, std::vector<Bytes>* certificates);

// Base64 (standard alphabet, "=" padding); Encode inserts a line feed after every `wrap`
// characters when wrap > 0. Decode skips whitespace and fails on anything else.
std::string Base64Encode(const uint8_t* data, size_t length, size_t wrap);
bool Base64Decode(const uint8_t* text, size_t length, Bytes* out);

// The raw public key as the CSP reports it: RSA modulus, SM2 X || Y.
Bytes CspPublicKey(const KeyPair& pair);

}  // namespace vkey
