#include "crypto.h"

#include <gcrypt.h>
#include <ksba.h>

#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <string_view>

#include "common/text_encoding.h"

namespace vkey {
namespace {

struct SexpFree {
  void operator()(gcry_sexp_t s) const { gcry_sexp_release(s); }
};
using Sexp = std::unique_ptr<gcry_sexp, SexpFree>;
struct MpiFree {
  void operator()(gcry_mpi_t m) const { gcry_mpi_release(m); }
};
using Mpi = std::unique_ptr<gcry_mpi, MpiFree>;
struct KsbaCertFree {
  void operator()(ksba_cert_t c) const { ksba_cert_release(c); }
};
using KsbaCert = std::unique_ptr<ksba_cert_s, KsbaCertFree>;
struct KsbaCmsFree {
  void operator()(ksba_cms_t c) const { ksba_cms_release(c); }
};
using KsbaCms = std::unique_ptr<ksba_cms_s, KsbaCmsFree>;
struct KsbaReaderFree {
  void operator()(ksba_reader_t r) const { ksba_reader_release(r); }
};
using KsbaReader = std::unique_ptr<ksba_reader_s, KsbaReaderFree>;
struct KsbaFree {
  void operator()(void* p) const { ksba_free(p); }
};

void QuietLog(void*, int, const char*, va_list) {}

const char kSm2Id[] = "1234567812345678";

// sm2p256v1 domain parameters for ZA.
const char* const kSm2Params[] = {
    "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFC",
    "28E9FA9E9D9F5E344D5A9E4BCF6509A7F39789F515AB8F92DDBCBD414D940E93",
    "32C4AE2C1F1981195F9904466A39C9948FE30BBFF2660BE1715A4589334C74C7",
    "BC3736A2F4F6779C59BDCEE36B692153D0A9877CC62A474002DF32E52139F0A0",
};

Bytes MpiBytes(gcry_mpi_t m, size_t width) {
  unsigned char* buf = nullptr;
  size_t n = 0;
  if (gcry_mpi_aprint(GCRYMPI_FMT_USG, &buf, &n, m) != 0)
    return {};
  Bytes out(buf, buf + n);
  gcry_free(buf);
  if (width > out.size())
    out.insert(out.begin(), width - out.size(), 0);
  return out;
}

Bytes TokenMpi(gcry_sexp_t s, const char* token, size_t width) {
  Sexp t(gcry_sexp_find_token(s, token, 0));
  if (!t)
    return {};
  Mpi m(gcry_sexp_nth_mpi(t.get(), 1, GCRYMPI_FMT_USG));
  if (!m)
    return {};
  return MpiBytes(m.get(), width);
}

Bytes TokenData(gcry_sexp_t s, const char* token) {
  Sexp t(gcry_sexp_find_token(s, token, 0));
  if (!t)
    return {};
  size_t n = 0;
  const char* d = gcry_sexp_nth_data(t.get(), 1, &n);
  return d ? Bytes(d, d + n) : Bytes{};
}

Bytes Canonical(gcry_sexp_t s) {
  size_t n = gcry_sexp_sprint(s, GCRYSEXP_FMT_CANON, nullptr, 0);
  Bytes out(n);
  gcry_sexp_sprint(s, GCRYSEXP_FMT_CANON, out.data(), n);
  return out;
}

const char* DigestName(int algo) {
  switch (algo) {
    case GCRY_MD_MD5:
      return "md5";
    case GCRY_MD_SHA1:
      return "sha1";
    case GCRY_MD_SHA256:
      return "sha256";
    case GCRY_MD_SHA384:
      return "sha384";
    case GCRY_MD_SHA512:
      return "sha512";
    case GCRY_MD_SM3:
      return "sm3";
    default:
      return nullptr;
  }
}

const char* DigestOid(int algo) {
  switch (algo) {
    case GCRY_MD_MD5:
      return "1.2.840.113549.2.5";
    case GCRY_MD_SHA1:
      return "1.3.14.3.2.26";
    case GCRY_MD_SHA256:
      return "2.16.840.1.101.3.4.2.1";
    case GCRY_MD_SHA384:
      return "2.16.840.1.101.3.4.2.2";
    case GCRY_MD_SHA512:
      return "2.16.840.1.101.3.4.2.3";
    case GCRY_MD_SM3:
      return "1.2.156.10197.1.401";
    default:
      return nullptr;
  }
}

const char* RsaSignatureOid(int algo) {
  switch (algo) {
    case GCRY_MD_MD5:
      return "1.2.840.113549.1.1.4";
    case GCRY_MD_SHA1:
      return "1.2.840.113549.1.1.5";
    case GCRY_MD_SHA256:
      return "1.2.840.113549.1.1.11";
    case GCRY_MD_SHA384:
      return "1.2.840.113549.1.1.12";
    case GCRY_MD_SHA512:
      return "1.2.840.113549.1.1.13";
    case GCRY_MD_SM3:
      return "1.2.156.10197.1.504";
    default:
      return nullptr;
  }
}

const char kOidRsa[] = "1.2.840.113549.1.1.1";
const char kOidEcPublicKey[] = "1.2.840.10045.2.1";
const char kOidSm2Curve[] = "1.2.156.10197.1.301";
const char kOidSm2WithSm3[] = "1.2.156.10197.1.501";
const char kOidData[] = "1.2.840.113549.1.7.1";
const char kOidSignedData[] = "1.2.840.113549.1.7.2";
const char kOidCommonName[] = "2.5.4.3";

bool IsSm2Point(const Bytes& raw) {
  return raw.size() == 64 || (raw.size() == 65 && raw[0] == 0x04);
}

Bytes Sm2Point65(const Bytes& raw) {
  if (raw.size() == 65)
    return raw;
  Bytes p{0x04};
  p.insert(p.end(), raw.begin(), raw.end());
  return p;
}

Bytes AlgorithmId(const char* oid, bool null_params) {
  Bytes content = der::Oid(oid);
  if (null_params)
    content.insert(content.end(), {0x05, 0x00});
  return der::Tlv(0x30, content);
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts)
    out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Minimal DER reading for the two certificate fields the signer identifier needs.
bool ReadTlv(const Bytes& d, size_t pos, size_t* header, size_t* length) {
  if (pos + 2 > d.size())
    return false;
  size_t len = d[pos + 1];
  size_t h = 2;
  if (len & 0x80) {
    size_t n = len & 0x7F;
    if (n == 0 || n > 4 || pos + 2 + n > d.size())
      return false;
    len = 0;
    for (size_t i = 0; i < n; ++i)
      len = len << 8 | d[pos + 2 + i];
    h += n;
  }
  if (pos + h + len > d.size())
    return false;
  *header = h;
  *length = len;
  return true;
}

bool IssuerAndSerial(const Bytes& cert, Bytes* out) {
  size_t h, l;
  if (!ReadTlv(cert, 0, &h, &l) || cert[0] != 0x30)
    return false;
  size_t pos = h;  // tbsCertificate
  if (!ReadTlv(cert, pos, &h, &l) || cert[pos] != 0x30)
    return false;
  pos += h;
  if (cert[pos] == 0xA0) {  // version
    if (!ReadTlv(cert, pos, &h, &l))
      return false;
    pos += h + l;
  }
  size_t serial_pos = pos;
  if (!ReadTlv(cert, pos, &h, &l) || cert[pos] != 0x02)
    return false;
  size_t serial_len = h + l;
  pos += h + l;
  if (!ReadTlv(cert, pos, &h, &l))
    return false;  // signature algorithm
  pos += h + l;
  size_t issuer_pos = pos;
  if (!ReadTlv(cert, pos, &h, &l) || cert[pos] != 0x30)
    return false;
  Bytes issuer(cert.begin() + issuer_pos, cert.begin() + issuer_pos + h + l);
  Bytes serial(cert.begin() + serial_pos, cert.begin() + serial_pos + serial_len);
  *out = der::Tlv(0x30, Concat({issuer, serial}));
  return true;
}

int64_t IsoToEpoch(const char* iso) {
  // "YYYYMMDDTHHMMSS"
  if (std::strlen(iso) < 15)
    return 0;
  auto num = [&](int at, int n) {
    int v = 0;
    for (int i = 0; i < n; ++i)
      v = v * 10 + (iso[at + i] - '0');
    return v;
  };
  int y = num(0, 4), m = num(4, 2), d = num(6, 2);
  // Days from civil date (proleptic Gregorian).
  y -= m <= 2;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t days = static_cast<int64_t>(era) * 146097 + static_cast<int64_t>(doe) - 719468;
  return days * 86400 + num(9, 2) * 3600 + num(11, 2) * 60 + num(13, 2);
}

}  // namespace

bool CryptoReady() {
  static std::once_flag once;
  static bool ok = false;
  std::call_once(once, [] {
    gcry_set_log_handler(QuietLog, nullptr);
    ok = gcry_check_version(GCRYPT_VERSION) != nullptr;
    if (ok) {
      gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
      gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    }
  });
  return ok;
}

Bytes RandomBytes(size_t n) {
  Bytes out(n);
  if (CryptoReady())
    gcry_randomize(out.data(), n, GCRY_STRONG_RANDOM);
  return out;
}

int GcryDigestFromCode(uint32_t code) {
  switch (code) {
    case 0x10000:
      return GCRY_MD_MD5;
    case 0x20000:
      return GCRY_MD_SHA1;
    case 0x40000:
      return GCRY_MD_SHA256;
    case 0x80000:
      return GCRY_MD_SHA384;
    case 0x100000:
      return GCRY_MD_SHA512;
    case 0x400000:
      return GCRY_MD_SM3;
    default:
      return 0;
  }
}

uint32_t CodeFromOssl(int algorithm) {
  switch (algorithm) {
    case 2:
      return 0x10000;
    case 3:
      return 0x20000;
    case 4:
      return 0x40000;
    case 5:
      return 0x80000;
    case 6:
      return 0x100000;
    case 8:
      return 0x400000;
    default:
      return 0;
  }
}

int GcryDigestFromOssl(int algorithm) {
  return GcryDigestFromCode(CodeFromOssl(algorithm));
}

bool Digest(int algo, const uint8_t* data, size_t length, Bytes* out) {
  if (!CryptoReady() || algo == 0)
    return false;
  const unsigned n = gcry_md_get_algo_dlen(algo);
  if (n == 0)
    return false;
  out->assign(n, 0);
  gcry_md_hash_buffer(algo, out->data(), data, length);
  return true;
}

bool GenerateKeyPair(uint32_t algorithm, uint32_t bits, KeyPair* pair) {
  if (!CryptoReady())
    return false;
  gcry_sexp_t parms = nullptr;
  if (algorithm == 1 && (bits == 1024 || bits == 2048)) {
    if (gcry_sexp_build(&parms, nullptr, "(genkey (rsa (nbits %d)))", static_cast<int>(bits)))
      return false;
  } else if (algorithm == 2 && bits == 256) {
    if (gcry_sexp_build(&parms, nullptr, "(genkey (ecc (curve sm2p256v1)))"))
      return false;
  } else {
    return false;
  }
  Sexp params(parms);
  gcry_sexp_t key = nullptr;
  if (gcry_pk_genkey(&key, params.get()) != 0)
    return false;
  Sexp whole(key);
  Sexp priv(gcry_sexp_find_token(whole.get(), "private-key", 0));
  if (!priv)
    return false;
  pair->algorithm = algorithm;
  pair->bits = bits;
  pair->private_key = Canonical(priv.get());
  pair->public_key =
      algorithm == 1 ? TokenMpi(priv.get(), "n", bits / 8) : TokenData(priv.get(), "q");
  return algorithm == 1 ? pair->public_key.size() == bits / 8 : pair->public_key.size() == 65;
}

bool SignDigest(const KeyPair& pair, uint32_t digest_code, const Bytes& digest, Bytes* signature) {
  if (!CryptoReady())
    return false;
  gcry_sexp_t k = nullptr;
  if (gcry_sexp_new(&k, pair.private_key.data(), pair.private_key.size(), 1))
    return false;
  Sexp key(k);
  const int algo = GcryDigestFromCode(digest_code);
  gcry_sexp_t d = nullptr;
  if (pair.algorithm == 1) {
    const char* name = DigestName(algo);
    if (!name || digest.size() != gcry_md_get_algo_dlen(algo))
      return false;
    if (gcry_sexp_build(&d, nullptr, "(data (flags pkcs1) (hash %s %b))", name,
                        static_cast<int>(digest.size()), digest.data()))
      return false;
  } else {
    if (digest.empty() || digest.size() > 64)
      return false;
    if (gcry_sexp_build(&d, nullptr, "(data (flags sm2) (hash sm3 %b))",
                        static_cast<int>(digest.size()), digest.data()))
      return false;
  }
  Sexp data(d);
  gcry_sexp_t s = nullptr;
  if (gcry_pk_sign(&s, data.get(), key.get()) != 0)
    return false;
  Sexp sig(s);
  if (pair.algorithm == 1) {
    *signature = TokenMpi(sig.get(), "s", pair.bits / 8);
    return signature->size() == pair.bits / 8;
  }
  Bytes r = TokenMpi(sig.get(), "r", 0), sv = TokenMpi(sig.get(), "s", 0);
  if (r.empty() || sv.empty())
    return false;
  *signature = der::Seq({der::Integer(r), der::Integer(sv)});
  return true;
}

bool Sm2Za(const Bytes& point, Bytes* za) {
  if (!IsSm2Point(point))
    return false;
  const Bytes p = Sm2Point65(point);
  Bytes m{0x00, 0x80};
  m.insert(m.end(), kSm2Id, kSm2Id + 16);
  for (const char* hex : kSm2Params) {
    Bytes b;
    FromHex(hex, &b);
    m.insert(m.end(), b.begin(), b.end());
  }
  m.insert(m.end(), p.begin() + 1, p.end());
  return Digest(GCRY_MD_SM3, m.data(), m.size(), za);
}

bool SignMessage(const KeyPair& pair, uint32_t digest_code, const uint8_t* message, size_t length,
                 Bytes* signature) {
  Bytes digest;
  if (pair.algorithm == 2) {
    // e = SM3(ZA || M), hashed in two pieces so that the message is not copied.
    Bytes za;
    if (!Sm2Za(pair.public_key, &za) || !CryptoReady())
      return false;
    gcry_buffer_t pieces[2] = {};
    pieces[0].size = pieces[0].len = za.size();
    pieces[0].data = za.data();
    pieces[1].size = pieces[1].len = length;
    pieces[1].data = const_cast<uint8_t*>(message);
    digest.assign(gcry_md_get_algo_dlen(GCRY_MD_SM3), 0);
    if (gcry_md_hash_buffers(GCRY_MD_SM3, 0, digest.data(), pieces, 2) != 0)
      return false;
    return SignDigest(pair, 0x400000, digest, signature);
  }
  if (!Digest(GcryDigestFromCode(digest_code), message, length, &digest))
    return false;
  return SignDigest(pair, digest_code, digest, signature);
}

bool SignMessage(const KeyPair& pair, uint32_t digest_code, const Bytes& message,
                 Bytes* signature) {
  return SignMessage(pair, digest_code, message.data(), message.size(), signature);
}

namespace der {

Bytes Header(uint8_t tag, size_t length) {
  Bytes out{tag};
  if (length < 0x80) {
    out.push_back(static_cast<uint8_t>(length));
  } else {
    Bytes len;
    for (size_t v = length; v; v >>= 8)
      len.insert(len.begin(), static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>(0x80 | len.size()));
    out.insert(out.end(), len.begin(), len.end());
  }
  return out;
}

Bytes Tlv(uint8_t tag, const Bytes& content) {
  Bytes out = Header(tag, content.size());
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

Bytes Seq(std::initializer_list<Bytes> items) {
  return Tlv(0x30, Concat(items));
}

Bytes Integer(const Bytes& value) {
  size_t i = 0;
  while (i + 1 < value.size() && value[i] == 0)
    ++i;
  Bytes v(value.begin() + static_cast<long>(i), value.end());
  if (v.empty())
    v.push_back(0);
  if (v[0] & 0x80)
    v.insert(v.begin(), 0);
  return Tlv(0x02, v);
}

Bytes SmallInteger(uint32_t value) {
  Bytes b;
  for (int shift = 24; shift >= 0; shift -= 8)
    b.push_back(static_cast<uint8_t>(value >> shift));
  return Integer(b);
}

Bytes Oid(const char* dotted) {
  std::vector<uint32_t> arcs;
  uint32_t v = 0;
  for (const char* p = dotted;; ++p) {
    if (*p == '.' || *p == 0) {
      arcs.push_back(v);
      v = 0;
      if (*p == 0)
        break;
    } else {
      v = v * 10 + static_cast<uint32_t>(*p - '0');
    }
  }
  Bytes content{static_cast<uint8_t>(arcs[0] * 40 + arcs[1])};
  for (size_t i = 2; i < arcs.size(); ++i) {
    Bytes enc{static_cast<uint8_t>(arcs[i] & 0x7F)};
    for (uint32_t a = arcs[i] >> 7; a; a >>= 7)
      enc.insert(enc.begin(), static_cast<uint8_t>(0x80 | (a & 0x7F)));
    content.insert(content.end(), enc.begin(), enc.end());
  }
  return Tlv(0x06, content);
}

}  // namespace der

Bytes RsaPublicKeyDer(const Bytes& modulus) {
  return der::Seq({der::Integer(modulus), der::Integer({0x01, 0x00, 0x01})});
}

bool SubjectPublicKeyInfo(const Bytes& raw, Bytes* spki) {
  Bytes bits{0x00};
  Bytes alg;
  if (IsSm2Point(raw)) {
    const Bytes p = Sm2Point65(raw);
    bits.insert(bits.end(), p.begin(), p.end());
    alg = der::Seq({der::Oid(kOidEcPublicKey), der::Oid(kOidSm2Curve)});
  } else if (raw.size() == 128 || raw.size() == 256) {
    const Bytes k = RsaPublicKeyDer(raw);
    bits.insert(bits.end(), k.begin(), k.end());
    alg = AlgorithmId(kOidRsa, true);
  } else {
    return false;
  }
  *spki = der::Seq({alg, der::Tlv(0x03, bits)});
  return true;
}

bool RequestBody(const std::string& common_name, const Bytes& raw_public_key, Bytes* body) {
  Bytes spki;
  if (common_name.empty() || !SubjectPublicKeyInfo(raw_public_key, &spki))
    return false;
  const Bytes cn(common_name.begin(), common_name.end());
  const Bytes name =
      der::Seq({der::Tlv(0x31, der::Seq({der::Oid(kOidCommonName), der::Tlv(0x0C, cn)}))});
  *body = der::Seq({der::SmallInteger(0), name, spki, der::Tlv(0xA0, {})});
  return true;
}

bool RequestWithSignature(const Bytes& body, const Bytes& raw_public_key, uint32_t digest_code,
                          const Bytes& signature, Bytes* request) {
  Bytes alg;
  if (IsSm2Point(raw_public_key)) {
    alg = AlgorithmId(kOidSm2WithSm3, false);
  } else {
    const char* oid = RsaSignatureOid(GcryDigestFromCode(digest_code));
    if (!oid)
      return false;
    alg = AlgorithmId(oid, true);
  }
  if (signature.empty())
    return false;
  Bytes bits{0x00};
  bits.insert(bits.end(), signature.begin(), signature.end());
  *request = Concat({body, alg, der::Tlv(0x03, bits)});
  *request = der::Tlv(0x30, *request);
  return true;
}

bool SignedData(uint32_t digest_code, size_t content_length, const Bytes& signature,
                const Bytes& certificate, Bytes* before, Bytes* after) {
  CertificateInfo info;
  Bytes signer_id;
  const int algo = GcryDigestFromCode(digest_code);
  const char* digest_oid = DigestOid(algo);
  if (!digest_oid || signature.empty() || !ParseCertificate(certificate, &info) ||
      !IssuerAndSerial(certificate, &signer_id))
    return false;
  const Bytes digest_alg = AlgorithmId(digest_oid, algo == GCRY_MD_MD5);
  const Bytes sig_alg =
      info.algorithm == 2 ? AlgorithmId(kOidSm2WithSm3, false) : AlgorithmId(kOidRsa, true);
  const Bytes signer_info =
      der::Seq({der::SmallInteger(1), signer_id, digest_alg, sig_alg, der::Tlv(0x04, signature)});
  // The content may be large: it is never copied here. Each enclosing header is made from the
  // lengths alone, and the content goes between `before` and `after`.
  const Bytes octets = der::Header(0x04, content_length);
  const Bytes explicit_content = der::Header(0xA0, octets.size() + content_length);
  const Bytes data_oid = der::Oid(kOidData);
  const size_t encap_length =
      data_oid.size() + explicit_content.size() + octets.size() + content_length;
  const Bytes encap = der::Header(0x30, encap_length);
  const Bytes head = Concat({der::SmallInteger(1), der::Tlv(0x31, digest_alg)});
  *after = Concat({der::Tlv(0xA0, certificate), der::Tlv(0x31, signer_info)});
  const size_t signed_length = head.size() + encap.size() + encap_length + after->size();
  const Bytes signed_data = der::Header(0x30, signed_length);
  const Bytes explicit_signed = der::Header(0xA0, signed_data.size() + signed_length);
  const Bytes type_oid = der::Oid(kOidSignedData);
  const Bytes top = der::Header(
      0x30, type_oid.size() + explicit_signed.size() + signed_data.size() + signed_length);
  *before = Concat({top, type_oid, explicit_signed, signed_data, head, encap, data_oid,
                    explicit_content, octets});
  return true;
}

bool ParseCertificate(const Bytes& der_bytes, CertificateInfo* info) {
  if (!CryptoReady() || der_bytes.empty())
    return false;
  ksba_cert_t c = nullptr;
  if (ksba_cert_new(&c))
    return false;
  KsbaCert cert(c);
  if (ksba_cert_init_from_mem(cert.get(), der_bytes.data(), der_bytes.size()))
    return false;
  ksba_sexp_t pk = ksba_cert_get_public_key(cert.get());
  if (!pk)
    return false;
  std::unique_ptr<unsigned char, KsbaFree> pk_owner(pk);
  const size_t pk_len = gcry_sexp_canon_len(pk, 0, nullptr, nullptr);
  gcry_sexp_t s = nullptr;
  if (pk_len == 0 || gcry_sexp_new(&s, pk, pk_len, 1))
    return false;
  Sexp key(s);
  if (Sexp rsa{gcry_sexp_find_token(key.get(), "rsa", 0)}) {
    info->algorithm = 1;
    info->public_key = TokenMpi(rsa.get(), "n", 0);
  } else {
    Bytes q = TokenData(key.get(), "q");
    if (q.size() != 65 || q[0] != 0x04)
      return false;
    info->algorithm = 2;
    info->public_key.assign(q.begin() + 1, q.end());
  }
  for (int which = 0; which < 2; ++which) {
    char* dn =
        which == 0 ? ksba_cert_get_subject(cert.get(), 0) : ksba_cert_get_issuer(cert.get(), 0);
    std::string text = dn ? dn : "";
    ksba_free(dn);
    (which == 0 ? info->subject : info->issuer) = text;
  }
  ksba_isotime_t t;
  if (ksba_cert_get_validity(cert.get(), 1, t) == 0)
    info->not_after = IsoToEpoch(t);
  return !info->public_key.empty();
}

bool CertificatesOfPkcs7(const Bytes& der_bytes, std::vector<Bytes>* certificates) {
  if (!CryptoReady() || der_bytes.empty())
    return false;
  ksba_reader_t r = nullptr;
  if (ksba_reader_new(&r))
    return false;
  KsbaReader reader(r);
  if (ksba_reader_set_mem(reader.get(), der_bytes.data(), der_bytes.size()))
    return false;
  ksba_cms_t c = nullptr;
  if (ksba_cms_new(&c))
    return false;
  KsbaCms cms(c);
  if (ksba_cms_set_reader_writer(cms.get(), reader.get(), nullptr))
    return false;
  ksba_stop_reason_t stop = KSBA_SR_NONE;
  for (int rounds = 0; rounds < 32; ++rounds) {
    if (ksba_cms_parse(cms.get(), &stop))
      return false;
    if (stop == KSBA_SR_READY)
      break;
  }
  if (stop != KSBA_SR_READY)
    return false;
  certificates->clear();
  for (int i = 0;; ++i) {
    ksba_cert_t cert = ksba_cms_get_cert(cms.get(), i);
    if (!cert)
      break;
    KsbaCert owner(cert);
    size_t n = 0;
    const unsigned char* img = ksba_cert_get_image(cert, &n);
    if (img && n)
      certificates->emplace_back(img, img + n);
  }
  return true;
}

std::string Base64Encode(const uint8_t* data, size_t length, size_t wrap) {
  const std::string text =
      koba::text::Base64Encode(std::string_view(reinterpret_cast<const char*>(data), length));
  if (wrap == 0)
    return text;
  std::string out;
  out.reserve(text.size() + text.size() / wrap);
  for (size_t at = 0; at < text.size(); at += wrap) {
    if (at != 0)
      out.push_back('\n');
    out.append(text, at, wrap);
  }
  return out;
}

bool Base64Decode(const uint8_t* text, size_t length, Bytes* out) {
  // Line breaks and blanks, as in PEM, are skipped; the rest must be canonical Base64.
  std::string compact;
  compact.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    const char c = static_cast<char>(text[i]);
    if (c != '\r' && c != '\n' && c != ' ' && c != '\t')
      compact.push_back(c);
  }
  std::string bytes;
  if (!koba::text::Base64Decode(compact, &bytes))
    return false;
  out->assign(bytes.begin(), bytes.end());
  return true;
}

Bytes CspPublicKey(const KeyPair& pair) {
  if (pair.algorithm == 2 && pair.public_key.size() == 65)
    return Bytes(pair.public_key.begin() + 1, pair.public_key.end());
  return pair.public_key;
}

}  // namespace vkey
