// vkey: lays out the virtual USB keys of the store for tests and demonstrations.
#include <windows.h>

#include <wincrypt.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "bus_client.h"
#include "common/token_api.h"
#include "common/win_handle.h"
#include "crypto.h"
#include "device.h"
#include "scsi.h"
#include "store.h"

using namespace vkey;
namespace tk = koba::token;
namespace bus = vkey::bus;

namespace {

const char kUsage[] =
    "usage: vkey COMMAND ...\n"
    "  create SERIAL [--admin]            new key (inserted); prints its slot\n"
    "  list                               slot, serial, present, kind, label, containers\n"
    "  insert SERIAL | remove SERIAL      plug the key in or pull it out (also as a device of\n"
    "                                     the bus driver, when it is installed)\n"
    "  devices                            the keys plugged into the bus driver: serial, model\n"
    "  use-store FOLDER                   make FOLDER the machine's store (the setting the bus\n"
    "                                     driver follows) and re-plug the bus from it\n"
    "  delete SERIAL                      delete the key and everything on it\n"
    "  show SERIAL                        the key's record as JSON (private keys left out)\n"
    "  set SERIAL FIELD VALUE             pin, tries, tries-left, label, model, language,\n"
    "                                     language-mask, charset-flags, text-encoding, admin,\n"
    "                                     admin-info, device-value, identifier, usb-mode,\n"
    "                                     display-flags, total-size, free-size, default-press,\n"
    "                                     sm2-za (1: SM2 record signatures over SM3(ZA || M)),\n"
    "                                     admin-key-list HEX[,HEX..], user-key-list "
    "TEXT[||TEXT..]\n"
    "  genkey SERIAL CONTAINER ALG [--spec 1|2] [--kind N]   ALG: rsa1024, rsa2048, sm2;\n"
    "                                     prints the key id (two decimal digits)\n"
    "  request SERIAL CONTAINER SPEC CN FILE [--digest sha1|sha256|sm3]  DER PKCS#10\n"
    "  pubkey SERIAL CONTAINER SPEC FILE  DER SubjectPublicKeyInfo\n"
    "  import-cert SERIAL FILE [--kind N] DER or PEM; stored with the matching key pair\n"
    "  press SERIAL PRESS...              queue button presses: confirm, refuse, timeout,\n"
    "                                     pending:N\n"
    "  fault SERIAL ENTRY [--status HEX] [--remove]  the next call of ENTRY fails\n"
    "  clear-script SERIAL                drop queued presses and faults\n"
    "  display SERIAL                     the transaction text the key showed last\n"
    "  trust-root FILE                    add a DER or PEM root certificate to the machine\n"
    "                                     ROOT store (the test root of the code signatures)\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

bool ParseNumber(const std::string& text, uint32_t* out) {
  if (text.empty())
    return false;
  char* end = nullptr;
  const unsigned long v = std::strtoul(text.c_str(), &end, 0);
  if (*end != 0)
    return false;
  *out = static_cast<uint32_t>(v);
  return true;
}

bool ReadFile(const std::string& path, Bytes* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return false;
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool WriteFile(const std::string& path, const Bytes& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  return static_cast<bool>(out);
}

// PEM to DER; DER passes unchanged.
bool CertificateBytes(const Bytes& file, Bytes* der) {
  const std::string text(file.begin(), file.end());
  const size_t begin = text.find("-----BEGIN CERTIFICATE-----");
  if (begin == std::string::npos) {
    *der = file;
    return true;
  }
  const size_t body = begin + 27;
  const size_t end = text.find("-----END CERTIFICATE-----", body);
  if (end == std::string::npos)
    return false;
  return Base64Decode(reinterpret_cast<const uint8_t*>(text.data() + body), end - body, der);
}

std::string Option(std::vector<std::string>& args, const std::string& name,
                   const std::string& fallback) {
  for (size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == name) {
      std::string v = args[i + 1];
      args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
      return v;
    }
  }
  return fallback;
}

bool Flag(std::vector<std::string>& args, const std::string& name) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == name) {
      args.erase(args.begin() + static_cast<long>(i));
      return true;
    }
  }
  return false;
}

// Runs `work` on the key named by its serial (trailing spaces ignored); `work` returns an
// error text or "" and sets `dirty`.
int OnKey(const std::string& serial,
          const std::function<std::string(Store&, Key&, bool& dirty)>& work) {
  std::string failure, store_error;
  const bool ok = Transact(
      [&](Store& store) {
        for (Key& k : store.keys) {
          if (TrimmedSerial(k.serial) != serial)
            continue;
          bool dirty = false;
          failure = work(store, k, dirty);
          return failure.empty() && dirty;
        }
        failure = "no key with serial " + serial;
        return false;
      },
      &store_error);
  if (!ok)
    failure = store_error;
  if (!failure.empty()) {
    std::fprintf(stderr, "vkey: %s\n", failure.c_str());
    return 1;
  }
  return 0;
}

std::string SetField(Store& store, Key& k, const std::string& field, const std::string& value) {
  uint32_t n = 0;
  const bool numeric = ParseNumber(value, &n);
  auto need_number = [&](uint32_t* target, uint32_t max) -> std::string {
    if (!numeric || n > max)
      return "bad value for " + field;
    *target = n;
    return "";
  };
  if (field == "pin") {
    if (value.empty() || value.size() > 30)
      return "a PIN has 1 to 30 characters";
    k.pin = value;
    return "";
  }
  if (field == "tries") {
    if (!numeric || n == 0 || n > 15)
      return "tries must be 1..15";
    k.max_tries = k.tries_left = n;
    return "";
  }
  if (field == "tries-left")
    return need_number(&k.tries_left, k.max_tries);
  if (field == "label") {
    if (value.size() >= tk::kLabelCapacity)
      return "a label has at most 32 bytes";
    k.label = value;
    return "";
  }
  if (field == "model") {
    if (value.size() != 4)
      return "a model code has 4 characters";
    k.model = value;
    return "";
  }
  if (field == "language") {
    uint32_t v = 0;
    std::string e = need_number(&v, 10);
    k.language = static_cast<uint16_t>(v);
    return e;
  }
  if (field == "language-mask")
    return need_number(&k.language_mask, 0xFFFFFFFF);
  if (field == "charset-flags")
    return need_number(&k.charset_flags, 0xFFFFFFFF);
  if (field == "text-encoding")
    return need_number(&k.text_encoding, 0xFFFFFFFF);
  if (field == "admin") {
    if (!numeric || n > 1)
      return "admin is 0 or 1";
    k.admin = n == 1;
    return "";
  }
  if (field == "admin-info") {
    if (value.size() > tk::kAdminInfoSize)
      return "admin-info has at most 20 characters";
    k.admin_info = value;
    return "";
  }
  if (field == "device-value") {
    if (value.size() > tk::kDeviceValueSize)
      return "device-value has at most 8 characters";
    k.device_value = value;
    return "";
  }
  if (field == "identifier") {
    if (value.size() >= tk::kIdentifierStringCapacity)
      return "identifier too long";
    k.identifier = value;
    return "";
  }
  if (field == "usb-mode")
    return need_number(&k.usb_mode, 0xFF);
  if (field == "display-flags") {
    uint32_t v = 0;
    std::string e = need_number(&v, 0xFF);
    k.display_flags = static_cast<uint8_t>(v);
    return e;
  }
  if (field == "total-size")
    return need_number(&k.total_size, 0xFFFFFFFF);
  if (field == "free-size")
    return need_number(&k.free_size, 0xFFFFFFFF);
  if (field == "sm2-za") {
    if (!numeric || n > 1)
      return "sm2-za is 0 or 1";
    k.sm2_za = n == 1;
    return "";
  }
  if (field == "default-press") {
    if (!IsValidPress(value) || value.rfind("pending", 0) == 0)
      return "bad default press";
    k.default_press = value;
    return "";
  }
  if (field == "admin-key-list" || field == "user-key-list") {
    std::vector<Bytes> list;
    const bool hex = field == "admin-key-list";
    const std::string sep = hex ? "," : "||";
    size_t at = 0;
    while (!value.empty() && at <= value.size()) {
      size_t next = value.find(sep, at);
      if (next == std::string::npos)
        next = value.size();
      const std::string item = value.substr(at, next - at);
      Bytes b;
      if (hex ? !FromHex(item, &b) : false)
        return "bad hex entry " + item;
      if (!hex)
        b.assign(item.begin(), item.end());
      list.push_back(b);
      at = next + sep.size();
    }
    (hex ? k.admin_key_list : k.user_key_list) = list;
    return "";
  }
  (void)store;
  return "unknown field " + field;
}

void PrintKeyJson(const Key& key) {
  Store one;
  one.keys.push_back(key);
  for (KeyPair& p : one.keys[0].pairs)
    p.private_key.clear();
  one.keys[0].pin = "";
  std::printf("%s\n", ToJson(one).c_str());
}

struct StoreCloser {
  void operator()(HCERTSTORE s) const { CertCloseStore(s, 0); }
};
using CertStore = std::unique_ptr<void, StoreCloser>;
struct CertFree {
  void operator()(PCCERT_CONTEXT c) const { CertFreeCertificateContext(c); }
};
using CertContext = std::unique_ptr<const CERT_CONTEXT, CertFree>;

// The registry view of the machine ROOT store: Wine's plain system view of ROOT is built from
// the host's certificates and does not show what was added.
CertStore OpenMachineRoot() {
  return CertStore(CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0,
                                 CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT"));
}

// Adds the certificate to the machine ROOT store and checks that a fresh view of the store
// holds it.
int TrustRoot(const std::string& path) {
  Bytes file, der;
  if (!ReadFile(path, &file) || !CertificateBytes(file, &der) || der.empty()) {
    std::fprintf(stderr, "vkey: cannot read a certificate from %s\n", path.c_str());
    return 1;
  }
  CertContext added;
  {
    CertStore store = OpenMachineRoot();
    PCCERT_CONTEXT ctx = nullptr;
    if (!store || !CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, der.data(),
                                                    static_cast<DWORD>(der.size()),
                                                    CERT_STORE_ADD_REPLACE_EXISTING, &ctx)) {
      std::fprintf(stderr, "vkey: cannot add to the ROOT store: 0x%08lX\n", GetLastError());
      return 1;
    }
    added.reset(ctx);
  }
  CertStore check = OpenMachineRoot();
  CertContext found(check ? CertFindCertificateInStore(check.get(), X509_ASN_ENCODING, 0,
                                                       CERT_FIND_EXISTING, added.get(), nullptr)
                          : nullptr);
  if (!found) {
    std::fprintf(stderr, "vkey: the ROOT store does not keep the certificate\n");
    return 1;
  }
  std::printf("trusted\n");
  return 0;
}

// Follows a store change on the bus driver's devices. Without the driver there is nothing to
// follow: the store alone is what the libraries see.
int PlugIntoBus(const std::string& serial, bool insert) {
  uint32_t error = insert ? bus::Plug(serial) : bus::Unplug(serial);
  if (error == bus::kBusNotInstalled || (!insert && error == ERROR_FILE_NOT_FOUND))
    error = 0;
  if (error)
    std::fprintf(stderr, "vkey: %s\n", bus::Explain(error).c_str());
  return error ? 1 : 0;
}

// Writes the machine's store setting and has the bus driver, when installed, plug in the
// store's present keys.
int UseStore(const std::string& folder) {
  const std::wstring wide(folder.begin(), folder.end());
  HKEY raw = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kStoreSettingKey, 0, nullptr, 0,
                      KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &raw, nullptr) != ERROR_SUCCESS) {
    std::fprintf(stderr, "vkey: cannot write the store setting\n");
    return 1;
  }
  koba::win::UniqueRegKey key(raw);
  if (RegSetValueExW(key.get(), kStoreSettingValue, 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(wide.c_str()),
                     static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t))) != ERROR_SUCCESS) {
    std::fprintf(stderr, "vkey: cannot write the store setting\n");
    return 1;
  }
  CreateDirectoryW(wide.c_str(), nullptr);
  const uint32_t error = bus::Resync();
  if (error && error != bus::kBusNotInstalled) {
    std::fprintf(stderr, "vkey: %s\n", bus::Explain(error).c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty())
    return Usage();
  const std::string cmd = args[0];
  args.erase(args.begin());

  if (cmd == "devices") {
    std::vector<VKEYBUS_KEY> keys;
    if (const uint32_t error = bus::List(&keys)) {
      std::fprintf(stderr, "vkey: %s\n", bus::Explain(error).c_str());
      return 1;
    }
    for (const VKEYBUS_KEY& k : keys)
      std::printf("%s %s\n", k.serial, k.model);
    return 0;
  }
  if (cmd == "list") {
    std::string err;
    const bool ok = Transact(
        [&](Store& store) {
          for (const Key& k : store.keys)
            std::printf("%u %s %s %s %s %zu\n", k.slot, TrimmedSerial(k.serial).c_str(),
                        k.present ? "present" : "removed", k.admin ? "admin" : "user",
                        k.label.c_str(), k.containers.size());
          return false;
        },
        &err);
    if (!ok)
      std::fprintf(stderr, "vkey: %s\n", err.c_str());
    return ok ? 0 : 1;
  }
  if (cmd == "create" && !args.empty()) {
    const bool admin = Flag(args, "--admin");
    if (args.size() != 1 || args[0].empty() || args[0].size() > 16 ||
        args[0].find_first_of(" \\") != std::string::npos)
      return Usage();
    std::string failure, err;
    uint32_t slot = 0;
    const bool ok = Transact(
        [&](Store& store) {
          for (const Key& k : store.keys)
            if (TrimmedSerial(k.serial) == args[0]) {
              failure = "a key with serial " + args[0] + " exists";
              return false;
            }
          slot = AddKey(store, args[0], admin).slot;
          return true;
        },
        &err);
    if (!ok || !failure.empty()) {
      std::fprintf(stderr, "vkey: %s\n", ok ? failure.c_str() : err.c_str());
      return 1;
    }
    std::printf("%u\n", slot);
    return 0;
  }
  if (args.empty())
    return Usage();
  if (cmd == "trust-root")
    return args.size() == 1 ? TrustRoot(args[0]) : Usage();
  const std::string serial = args[0];

  if (cmd == "insert" || cmd == "remove") {
    const int status = OnKey(serial, [&](Store& store, Key& k, bool& dirty) {
      if (cmd == "insert")
        InsertKey(store, k);
      else
        RemoveKey(store, k);
      dirty = true;
      return std::string();
    });
    return status ? status : PlugIntoBus(serial, cmd == "insert");
  }
  if (cmd == "use-store")
    return args.size() == 1 ? UseStore(args[0]) : Usage();
  if (cmd == "delete") {
    const int status = OnKey(serial, [&](Store& store, Key& k, bool& dirty) {
      RemoveKey(store, k);
      const uint32_t slot = k.slot;
      store.keys.erase(std::remove_if(store.keys.begin(), store.keys.end(),
                                      [&](const Key& x) { return x.slot == slot; }),
                       store.keys.end());
      dirty = true;
      return std::string();
    });
    return status ? status : PlugIntoBus(serial, false);
  }
  if (cmd == "show" || cmd == "display") {
    return OnKey(serial, [&](Store&, Key& k, bool&) {
      if (cmd == "show")
        PrintKeyJson(k);
      else
        std::printf("%s\n", k.last_display.c_str());
      return std::string();
    });
  }
  if (cmd == "set" && args.size() == 3) {
    return OnKey(serial, [&](Store& store, Key& k, bool& dirty) {
      dirty = true;
      return SetField(store, k, args[1], args[2]);
    });
  }
  if (cmd == "genkey") {
    const std::string spec_text = Option(args, "--spec", "2");
    const std::string kind_text = Option(args, "--kind", "0");
    uint32_t spec = 0, kind = 0;
    if (args.size() != 3 || !ParseNumber(spec_text, &spec) || !ParseNumber(kind_text, &kind))
      return Usage();
    const std::string alg = args[2];
    KeyPair pair;
    const bool made = alg == "rsa1024"   ? GenerateKeyPair(1, 1024, &pair)
                      : alg == "rsa2048" ? GenerateKeyPair(1, 2048, &pair)
                      : alg == "sm2"     ? GenerateKeyPair(2, 256, &pair)
                                         : false;
    if (!made) {
      std::fprintf(stderr, "vkey: cannot generate a %s key pair\n", alg.c_str());
      return 1;
    }
    pair.certificate_type = kind;
    return OnKey(serial, [&](Store&, Key& k, bool& dirty) {
      if (!AddPairToContainer(k, args[1], spec, pair, kind))
        return std::string("the container already holds that key spec, or the key is full");
      std::printf("%02X\n", k.pairs.back().id);
      dirty = true;
      return std::string();
    });
  }
  if (cmd == "request" || cmd == "pubkey") {
    const std::string digest = Option(args, "--digest", "sha256");
    const size_t want = cmd == "request" ? 5 : 4;
    uint32_t spec = 0;
    if (args.size() != want || !ParseNumber(args[2], &spec))
      return Usage();
    return OnKey(serial, [&](Store&, Key& k, bool&) {
      Container* c = k.FindContainer(args[1]);
      const ContainerKey* ck = nullptr;
      if (c)
        for (const ContainerKey& x : c->keys)
          if (x.spec == spec)
            ck = &x;
      const KeyPair* pair = ck ? k.FindPair(ck->pair_id) : nullptr;
      if (!pair)
        return std::string("no such container key");
      Bytes out;
      if (cmd == "pubkey") {
        if (!SubjectPublicKeyInfo(pair->public_key, &out))
          return std::string("bad public key");
        return WriteFile(args[3], out) ? std::string() : "cannot write " + args[3];
      }
      const uint32_t code = digest == "sha1"  ? tk::kDigestSha1
                            : digest == "sm3" ? tk::kDigestSm3
                                              : tk::kDigestSha256;
      Bytes body, sig;
      if (!RequestBody(args[3], pair->public_key, &body) ||
          !SignMessage(*pair, pair->algorithm == 2 ? tk::kDigestSm3 : code, body, &sig) ||
          !RequestWithSignature(body, pair->public_key, code, sig, &out))
        return std::string("cannot build the request");
      return WriteFile(args[4], out) ? std::string() : "cannot write " + args[4];
    });
  }
  if (cmd == "import-cert") {
    const std::string kind_text = Option(args, "--kind", "0");
    uint32_t kind = 0;
    Bytes file, der;
    if (args.size() != 2 || !ParseNumber(kind_text, &kind))
      return Usage();
    if (!ReadFile(args[1], &file) || !CertificateBytes(file, &der)) {
      std::fprintf(stderr, "vkey: cannot read a certificate from %s\n", args[1].c_str());
      return 1;
    }
    return OnKey(serial, [&](Store&, Key& k, bool& dirty) {
      std::string container, error;
      if (!ImportCertificate(k, der, kind, &container, &error))
        return error;
      std::printf("%s\n", container.c_str());
      dirty = true;
      return std::string();
    });
  }
  if (cmd == "press" && args.size() >= 2) {
    for (size_t i = 1; i < args.size(); ++i)
      if (!IsValidPress(args[i]))
        return Usage();
    return OnKey(serial, [&](Store&, Key& k, bool& dirty) {
      k.presses.insert(k.presses.end(), args.begin() + 1, args.end());
      dirty = true;
      return std::string();
    });
  }
  if (cmd == "fault") {
    const std::string status_text = Option(args, "--status", "0");
    const bool remove = Flag(args, "--remove");
    uint32_t status = 0;
    if (args.size() != 2 || !ParseNumber(status_text, &status))
      return Usage();
    return OnKey(serial, [&](Store&, Key& k, bool& dirty) {
      k.faults.push_back(Fault{args[1], status, remove});
      dirty = true;
      return std::string();
    });
  }
  if (cmd == "clear-script") {
    return OnKey(serial, [&](Store&, Key& k, bool& dirty) {
      k.presses.clear();
      k.faults.clear();
      dirty = true;
      return std::string();
    });
  }
  return Usage();
}
