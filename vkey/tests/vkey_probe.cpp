// vkey_probe: drives the stand-ins through their exported entry points the way the token core
// does (enrolment, certificate installation, signing), writing DER files for an outside judge.
//   vkey_probe p10user SLOT PIN CN BITS LABEL OUT       user key: generate, export, sign request
//   vkey_probe p10admin SLOT PIN CN BITS DIGEST LABEL OUT  administrator key, device-signed
//   vkey_probe install SLOT PKCS7                        store the matching certificate
//   vkey_probe sign SLOT PIN KEYID OSSLALG RECORD OUT    PKCS#7 signed data over RECORD
//   vkey_probe list SLOT                                 containers as the CSP reports them
//   vkey_probe certinfo 0 CERT                           subject DN and raw public key (hex)
//   vkey_probe login SLOT PIN                            prints VexloT_Login's status (hex)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/csp_api.h"
#include "common/token_api.h"

namespace tk = koba::token;
namespace cs = koba::csp;
using Bytes = std::vector<uint8_t>;

namespace {

HMODULE g_token, g_csp;

template <typename T>
T Entry(HMODULE lib, const char* name) {
  auto p = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(lib, name)));
  if (!p) {
    std::fprintf(stderr, "missing %s\n", name);
    std::exit(3);
  }
  return p;
}
#define TOKEN(name) Entry<tk::PFN_##name>(g_token, #name)
#define CSP(name) Entry<cs::PFN_##name>(g_csp, #name)

int Check(uint32_t status, const char* what) {
  if (status == 0)
    return 0;
  std::fprintf(stderr, "%s failed: 0x%08X\n", what, status);
  std::exit(1);
}

Bytes ReadAll(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const char* path, const uint8_t* data, size_t n) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(n));
}

void Attr(Bytes* o, uint32_t type, const void* value, uint32_t n) {
  const auto* t = reinterpret_cast<const uint8_t*>(&type);
  const auto* l = reinterpret_cast<const uint8_t*>(&n);
  o->insert(o->end(), t, t + 4);
  o->insert(o->end(), l, l + 4);
  const auto* v = static_cast<const uint8_t*>(value);
  o->insert(o->end(), v, v + n);
}
void AttrU32(Bytes* o, uint32_t type, uint32_t v) {
  Attr(o, type, &v, 4);
}
void AttrByte(Bytes* o, uint32_t type, uint8_t v) {
  Attr(o, type, &v, 1);
}

// The public-key object that names the container of a generated key pair.
void StorePublicKeyObject(uint32_t handle, const std::string& label, uint8_t id, uint32_t cert_type,
                          const Bytes& pk, bool sm2) {
  Bytes o;
  AttrU32(&o, 0, 2);
  Attr(&o, 0x80000004, label.data(), static_cast<uint32_t>(label.size()));
  AttrByte(&o, 0x80000006, static_cast<uint8_t>(cert_type));
  AttrByte(&o, 0x80000003, 2);
  AttrByte(&o, 0x80000002, id);
  if (sm2) {
    Attr(&o, 385, pk.data(), static_cast<uint32_t>(pk.size()));
  } else {
    const uint8_t e[3] = {1, 0, 1};
    Attr(&o, 290, e, 3);
    AttrU32(&o, 289, static_cast<uint32_t>(pk.size() * 8));
    Attr(&o, 288, pk.data(), static_cast<uint32_t>(pk.size()));
  }
  AttrU32(&o, 256, sm2 ? 3 : 0);
  uint32_t object = 0;
  Check(TOKEN(VexloT_CreateObject)(handle, tk::kObjectClassKey, &object, o.data(),
                                   static_cast<uint32_t>(o.size()), 0),
        "VexloT_CreateObject");
}

void Login(uint32_t handle, const char* pin) {
  Check(TOKEN(VexloT_Login)(handle, tk::kUserTypeUser, pin, static_cast<uint32_t>(strlen(pin))),
        "VexloT_Login");
}

int P10User(uint32_t slot, const char* pin, const char* cn, uint32_t bits, const char* label,
            const char* out) {
  const uint32_t h = slot | tk::kTokenHandleFlag;
  uint8_t id[4];
  Check(TOKEN(VexloT_GeneratePairKey)(h, id, bits, 0, 0), "VexloT_GeneratePairKey");
  uint8_t blob[2304];
  uint32_t blob_len = sizeof blob;
  Check(TOKEN(VexloT_ExportPairKey)(h, id[0], tk::kExportPublicKey, blob, &blob_len),
        "VexloT_ExportPairKey");
  uint32_t pk_len;
  std::memcpy(&pk_len, blob + 4, 4);
  const Bytes pk(blob + blob_len / 3, blob + blob_len / 3 + pk_len);
  StorePublicKeyObject(h, label, id[0], 1, pk, false);
  uint8_t body[4096];
  int body_len = sizeof body;
  if (TOKEN(Ossl_PackageP10)(reinterpret_cast<const uint8_t*>(cn), static_cast<int>(strlen(cn)),
                             pk.data(), static_cast<int>(pk.size()), nullptr, 0, tk::kDigestSha1,
                             body, &body_len) != 1)
    return Check(1, "Ossl_PackageP10 (body)");
  Login(h, pin);
  void* ctx = nullptr;
  uint8_t digest[100];
  int digest_len = sizeof digest;
  if (TOKEN(Ossl_DigestInit)(&ctx, tk::kOsslSha1) != 1 ||
      TOKEN(Ossl_DigestUpdate)(ctx, body, body_len) != 1 ||
      TOKEN(Ossl_DigestFinal)(ctx, digest, &digest_len) != 1)
    return Check(1, "Ossl_Digest");
  uint8_t sig[300];
  uint32_t sig_len = sizeof sig;
  Check(TOKEN(VexloT_RsaSign)(h, id[0], tk::kDigestSha1, digest, static_cast<uint32_t>(digest_len),
                              sig, &sig_len),
        "VexloT_RsaSign");
  uint8_t req[4096];
  int req_len = sizeof req;
  if (TOKEN(Ossl_PackageP10)(reinterpret_cast<const uint8_t*>(cn), static_cast<int>(strlen(cn)),
                             pk.data(), static_cast<int>(pk.size()), sig, static_cast<int>(sig_len),
                             tk::kDigestSha1, req, &req_len) != 1)
    return Check(1, "Ossl_PackageP10");
  WriteAll(out, req, static_cast<size_t>(req_len));
  return 0;
}

int P10Admin(uint32_t slot, const char* pin, const char* cn, uint32_t bits, uint32_t digest,
             const char* label, const char* out) {
  const uint32_t h = slot | tk::kTokenHandleFlag;
  Login(h, pin);
  uint8_t pk[512], subject[1024], sig[256];
  std::memcpy(subject, cn, strlen(cn));
  tk::KeyRequest r{};
  r.size = sizeof r;
  r.certificate_type = 1;
  r.key_bits = bits;
  r.digest_algorithm = digest;
  r.public_key_length = sizeof pk;
  r.public_key = pk;
  r.subject_length = static_cast<uint32_t>(strlen(cn));
  r.subject = subject;
  r.signature_length = sizeof sig;
  r.signature = sig;
  Check(TOKEN(VexloT_GeneratePairKeyEx)(h, 1, &r, nullptr, nullptr), "VexloT_GeneratePairKeyEx");
  const bool sm2 = bits == 256;
  StorePublicKeyObject(h, label, r.key_id[0], 1, Bytes(pk, pk + r.public_key_length), sm2);
  const uint8_t* key = sm2 && digest == tk::kDigestSm3 ? pk + 1 : pk;
  const int key_len = static_cast<int>(r.public_key_length) - (key == pk ? 0 : 1);
  uint8_t req[4096];
  int req_len = sizeof req;
  if (TOKEN(Ossl_PackageP10)(subject, static_cast<int>(r.subject_length), key, key_len, sig,
                             static_cast<int>(r.signature_length), digest, req, &req_len) != 1)
    return Check(1, "Ossl_PackageP10");
  WriteAll(out, req, static_cast<size_t>(req_len));
  return 0;
}

template <typename F>
void ForEachKey(uint32_t slot, F f) {
  char reader[64];
  std::snprintf(reader, sizeof reader, cs::kReaderPathFormat, static_cast<int>(slot));
  cs::CspProv prov = 0;
  uint8_t table[cs::kProviderTableSize] = {};
  if (!CSP(CPAcquireContext)(&prov, reader, cs::kAcquireEnumerate, table))
    Check(GetLastError(), "CPAcquireContext");
  std::vector<std::string> names;
  char name[cs::kEnumNameCapacity];
  for (uint32_t flag = cs::kEnumFirst;; flag = 0) {
    uint32_t n = sizeof name;
    if (!CSP(CPGetProvParam)(prov, cs::kParamEnumContainers, reinterpret_cast<uint8_t*>(name), &n,
                             flag))
      break;
    names.emplace_back(name);
  }
  CSP(CPReleaseContext)(prov, 0);
  for (const std::string& c : names) {
    const std::string path = reader + c;
    for (uint32_t spec = 1; spec <= 2; ++spec) {
      cs::CspProv p = 0;
      if (!CSP(CPAcquireContext)(&p, path.c_str(), 0, table))
        continue;
      uint8_t pk[400], cert[4096];
      cs::KeyInfoRecord rec{};
      rec.size = sizeof rec;
      rec.public_key = pk;
      rec.public_key_length = sizeof pk;
      rec.certificate = cert;
      rec.certificate_length = sizeof cert;
      uint32_t key_spec = spec;
      if (CSP(CPGetProvParam)(p, cs::kParamKeyInfo, reinterpret_cast<uint8_t*>(&rec), &key_spec, 0))
        f(c, rec);
      CSP(CPReleaseContext)(p, 0);
    }
  }
}

int Install(uint32_t slot, const char* p7_path) {
  const Bytes p7 = ReadAll(p7_path);
  bool done = false;
  ForEachKey(slot, [&](const std::string& name, const cs::KeyInfoRecord& rec) {
    if (done)
      return;
    uint8_t cert[4096];
    int cert_len = sizeof cert;
    const int r =
        TOKEN(Ossl_GetCertFromP7)(p7.data(), static_cast<int>(p7.size()), rec.public_key,
                                  static_cast<int>(rec.public_key_length), cert, &cert_len);
    if (r != 1)
      return;
    Bytes o;
    AttrU32(&o, 0, 1);
    Attr(&o, 0x80000004, name.data(), static_cast<uint32_t>(name.size()));
    AttrByte(&o, 0x80000006, static_cast<uint8_t>(rec.certificate_kind));
    AttrByte(&o, 0x80000003, static_cast<uint8_t>(rec.key_spec));
    AttrByte(&o, 0x80000002, static_cast<uint8_t>(rec.key_type));
    Attr(&o, 0x11, cert, static_cast<uint32_t>(cert_len));
    uint32_t handle = 0;
    Check(TOKEN(VexloT_CreateObject)(slot | tk::kTokenHandleFlag, tk::kObjectClassCertificate,
                                     &handle, o.data(), static_cast<uint32_t>(o.size()), 0),
          "VexloT_CreateObject");
    std::printf("%s\n", name.c_str());
    done = true;
  });
  return done ? 0 : 4;
}

int Sign(uint32_t slot, const char* pin, uint32_t key_id, int alg, const char* record_path,
         const char* out) {
  const uint32_t h = slot | tk::kTokenHandleFlag;
  const Bytes record = ReadAll(record_path);
  Bytes cert, pk;
  ForEachKey(slot, [&](const std::string&, const cs::KeyInfoRecord& rec) {
    if (rec.key_type != key_id)
      return;
    cert.assign(rec.certificate, rec.certificate + rec.certificate_length);
    pk.assign(rec.public_key, rec.public_key + rec.public_key_length);
  });
  if (cert.empty())
    return Check(1, "certificate lookup");
  static const uint32_t kCodes[] = {0,       0,        0x10000, 0x20000, 0x40000,
                                    0x80000, 0x100000, 0,       0x400000};
  Login(h, pin);
  uint8_t sig[300];
  tk::SignRequest req{};
  req.size = sizeof req;
  req.key_type = key_id;
  req.key_algorithm = pk.size() == 64 ? 2 : 1;
  req.digest_algorithm = kCodes[alg];
  req.data = record.data();
  req.data_length = static_cast<uint32_t>(record.size());
  req.public_key = pk.data();
  req.public_key_length = static_cast<uint32_t>(pk.size());
  req.signature_length = sizeof sig;
  req.signature = sig;
  Check(TOKEN(VexloT_RsaSign_koba)(h, &req), "VexloT_RsaSign_koba");
  uint8_t* p7 = nullptr;
  int p7_len = static_cast<int>(req.signature_length + record.size() + cert.size() + 4096);
  if (TOKEN(Ossl_PKCS7_Sign)(alg, record.data(), static_cast<int>(record.size()), sig,
                             static_cast<int>(req.signature_length), cert.data(),
                             static_cast<int>(cert.size()), &p7, &p7_len) != 1 ||
      !p7)
    return Check(1, "Ossl_PKCS7_Sign");
  WriteAll(out, p7, static_cast<size_t>(p7_len));
  TOKEN(Ossl_PKCS7_free)(p7);
  return 0;
}

int List(uint32_t slot) {
  ForEachKey(slot, [&](const std::string& name, const cs::KeyInfoRecord& rec) {
    std::printf("%s spec=%u kind=%u alg=%u id=%02X pk=%u cert=%u\n", name.c_str(), rec.key_spec,
                rec.certificate_kind, rec.key_algorithm, rec.key_type, rec.public_key_length,
                rec.certificate_length);
  });
  return 0;
}

int CertInfo(const char* path) {
  const Bytes cert = ReadAll(path);
  char dn[1024];
  int dn_len = sizeof dn;
  uint8_t pk[512];
  int pk_len = sizeof pk;
  if (TOKEN(Ossl_ParseCertDN)(cert.data(), static_cast<int>(cert.size()), dn, &dn_len) != 1 ||
      TOKEN(Ossl_GetCertPublicKeyN)(cert.data(), static_cast<int>(cert.size()), pk, &pk_len) != 1)
    return Check(1, "certificate parsing");
  std::printf("%.*s\n", dn_len, dn);
  for (int i = 0; i < pk_len; ++i)
    std::printf("%02X", pk[i]);
  std::printf("\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  g_token = LoadLibraryW(L"Q2Token_koba.dll");
  g_csp = LoadLibraryW(L"Q2CSP_KOBA.dll");
  if (!g_token || !g_csp || argc < 3)
    return 2;
  const std::string cmd = argv[1];
  const uint32_t slot = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 0));
  auto num = [&](int i) { return static_cast<uint32_t>(std::strtoul(argv[i], nullptr, 0)); };
  if (cmd == "p10user" && argc == 8)
    return P10User(slot, argv[3], argv[4], num(5), argv[6], argv[7]);
  if (cmd == "p10admin" && argc == 9)
    return P10Admin(slot, argv[3], argv[4], num(5), num(6), argv[7], argv[8]);
  if (cmd == "install" && argc == 4)
    return Install(slot, argv[3]);
  if (cmd == "sign" && argc == 8)
    return Sign(slot, argv[3], num(4), static_cast<int>(num(5)), argv[6], argv[7]);
  if (cmd == "list" && argc == 3)
    return List(slot);
  if (cmd == "certinfo" && argc == 4)
    return CertInfo(argv[3]);
  if (cmd == "login" && argc == 4) {
    const uint32_t h = slot | tk::kTokenHandleFlag;
    std::printf("0x%08X\n", TOKEN(VexloT_Login)(h, tk::kUserTypeUser, argv[3],
                                                static_cast<uint32_t>(std::strlen(argv[3]))));
    return 0;
  }
  return 2;
}
