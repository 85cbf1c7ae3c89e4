// Q2CSP_KOBA.dll: the key's CryptoAPI provider entry points, answering from the virtual keys.
// Contexts are opened on a reader path ("\\.\Korvanet VexloToken <slot>\<name>") or a container
// path ("\\.\Korvanet <device id or serial>\<name>").
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "common/csp_api.h"
#include "common/token_api.h"
#include "crypto.h"
#include "device.h"
#include "store.h"

using namespace vkey;
namespace cs = koba::csp;
namespace tk = koba::token;

#define CSP_EXPORT extern "C" __declspec(dllexport)

namespace {

constexpr uint32_t kErrorNoCertificate = 0x8010002C;  // SCARD_E_NO_SUCH_CERTIFICATE
constexpr uint32_t kContextMagic = 0x4B435350;        // "PSCK"
constexpr uint32_t kKeyMagic = 0x4B59454B;

struct Context {
  uint32_t magic = kContextMagic;
  uint32_t slot = 0;
  std::string container;  // empty for an enumeration context
  size_t enum_index = 0;
};

struct KeyHandle {
  uint32_t magic = kKeyMagic;
  uint32_t slot = 0;
  std::string container;
  uint32_t spec = 0;
};

BOOL Fail(uint32_t error) {
  SetLastError(error);
  return FALSE;
}

Context* AsContext(cs::CspProv prov) {
  auto* c = reinterpret_cast<Context*>(prov);
  return c && c->magic == kContextMagic ? c : nullptr;
}

KeyHandle* AsKey(cs::CspKey key) {
  auto* k = reinterpret_cast<KeyHandle*>(key);
  return k && k->magic == kKeyMagic ? k : nullptr;
}

// The status of a device call as the CSP's last error.
uint32_t CspError(uint32_t status) {
  switch (status) {
    case tk::kOk:
      return 0;
    case tk::kStatusNoDevice:
      return cs::kErrorNoDevice;
    case tk::kStatusCancelled:
      return cs::kErrorCancelled;
    case tk::kStatusTimeout:
      return cs::kErrorTimeout;
    case tk::kStatusNotFound:
      return cs::kErrorBadKeyset;
    default:
      return status;
  }
}

// Splits "\\.\Korvanet VexloToken 3\name" or "\\.\Korvanet ABCDEF0123456789\name" into the
// key's slot and the container name.
bool ParsePath(const char* path, uint32_t* slot, std::string* name) {
  static const char kReader[] = "\\\\.\\Korvanet VexloToken ";
  static const char kPrefix[] = "\\\\.\\Korvanet ";
  if (!path)
    return false;
  std::string p(path);
  if (p.rfind(kReader, 0) == 0) {
    const size_t end = p.find('\\', sizeof kReader - 1);
    if (end == std::string::npos)
      return false;
    const std::string digits = p.substr(sizeof kReader - 1, end - (sizeof kReader - 1));
    if (digits.empty() || digits.size() > 9 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
      return false;
    *slot = static_cast<uint32_t>(std::stoul(digits));
    *name = p.substr(end + 1);
    return true;
  }
  if (p.rfind(kPrefix, 0) != 0)
    return false;
  const size_t end = p.find('\\', sizeof kPrefix - 1);
  if (end == std::string::npos)
    return false;
  const std::string id = p.substr(sizeof kPrefix - 1, end - (sizeof kPrefix - 1));
  bool found = false;
  Transact([&](Store& store) {
    for (const Key& k : store.keys) {
      std::string serial = k.serial;
      while (!serial.empty() && serial.back() == ' ')
        serial.pop_back();
      if (k.present &&
          (std::string(k.device_id.begin(), k.device_id.end()) == id || serial == id)) {
        *slot = k.slot;
        found = true;
      }
    }
    return false;
  });
  *name = p.substr(end + 1);
  return found;
}

std::string BareName(const std::string& entry) {
  std::string n = entry;
  n.erase(std::find(n.begin(), n.end(), '\0'), n.end());
  const size_t slash = n.rfind('\\');
  return slash == std::string::npos ? n : n.substr(slash + 1);
}

uint32_t FillKeyInfo(Key& key, const std::string& name, cs::KeyInfoRecord* rec, uint32_t spec) {
  Container* c = key.FindContainer(name);
  if (!c)
    return cs::kErrorBadKeyset;
  for (const ContainerKey& ck : c->keys) {
    if (ck.spec != spec)
      continue;
    const KeyPair* pair = key.FindPair(ck.pair_id);
    if (!pair)
      return cs::kErrorNoKey;
    const Bytes pk = CspPublicKey(*pair);
    if (rec->public_key && rec->public_key_length < pk.size())
      return cs::kErrorMoreData;
    if (rec->certificate && rec->certificate_length < ck.certificate.size())
      return cs::kErrorMoreData;
    rec->key_spec = spec;
    rec->certificate_kind = ck.certificate_kind;
    rec->key_algorithm = pair->algorithm;
    rec->key_type = ck.pair_id;
    if (rec->public_key)
      std::memcpy(rec->public_key, pk.data(), pk.size());
    rec->public_key_length = static_cast<uint32_t>(pk.size());
    if (rec->certificate && !ck.certificate.empty())
      std::memcpy(rec->certificate, ck.certificate.data(), ck.certificate.size());
    rec->certificate_length = static_cast<uint32_t>(ck.certificate.size());
    return 0;
  }
  return cs::kErrorNoKey;
}

// Waits for the user's confirmation of a deletion on the key's button.
uint32_t ConfirmDeletion(uint32_t slot) {
  switch (AwaitPress(slot)) {
    case Press::kConfirm:
      return 0;
    case Press::kRefuse:
      return cs::kErrorCancelled;
    case Press::kTimeout:
      return cs::kErrorTimeout;
    default:
      return cs::kErrorNoDevice;
  }
}

BOOL DeleteBatch(cs::BatchRecord* rec) {
  if (!rec->list || rec->list_length == 0 || rec->list_length > cs::kBatchListCapacity ||
      !rec->key_types || !rec->key_specs)
    return Fail(ERROR_INVALID_PARAMETER);
  struct Entry {
    std::string name;
    uint8_t type, spec;
  };
  std::vector<Entry> entries;
  size_t pos = 0;
  while (pos < rec->list_length && entries.size() < cs::kBatchEntries) {
    const size_t n = rec->list[pos];
    if (n == 0)
      break;
    if (pos + 1 + n > rec->list_length)
      return Fail(ERROR_INVALID_PARAMETER);
    const size_t i = entries.size();
    entries.push_back(Entry{BareName(std::string(rec->list + pos + 1, rec->list + pos + 1 + n)),
                            rec->key_types[i], rec->key_specs[i]});
    pos += 1 + n;
    while (pos < rec->list_length && rec->list[pos] == 0)
      ++pos;
  }
  if (entries.empty())
    return Fail(ERROR_INVALID_PARAMETER);
  // Every entry must name an existing key pair before anything is deleted.
  uint32_t status = WithKey("CPGetProvParam", rec->slot, [&](Store&, Key& key, bool&) {
    for (const Entry& e : entries) {
      Container* c = key.FindContainer(e.name);
      if (!c)
        return cs::kErrorBadKeyset;
      auto it = std::find_if(c->keys.begin(), c->keys.end(), [&](const ContainerKey& k) {
        return k.spec == e.spec && (e.type == 0 || k.pair_id == e.type);
      });
      if (it == c->keys.end())
        return cs::kErrorNoKey;
    }
    return 0u;
  });
  if (status)
    return Fail(CspError(status));
  if ((status = ConfirmDeletion(rec->slot)) != 0)
    return Fail(status);
  status = WithKey("CPGetProvParam", rec->slot, [&](Store&, Key& key, bool& dirty) {
    for (const Entry& e : entries)
      dirty |= DeleteContainerKey(key, e.name, e.spec);
    return 0u;
  });
  return status ? Fail(CspError(status)) : TRUE;
}

BOOL ListBatch(cs::BatchRecord* rec) {
  if (!rec->list || !rec->key_types || !rec->key_specs)
    return Fail(ERROR_INVALID_PARAMETER);
  const uint32_t capacity = rec->list_length ? rec->list_length : cs::kBatchListCapacity;
  const uint32_t status = WithKey("CPGetProvParam", rec->slot, [&](Store&, Key& key, bool&) {
    std::string list;
    uint32_t count = 0;
    for (const Container& c : key.containers) {
      if (c.keys.empty() || count == cs::kBatchEntries)
        continue;
      list += c.name;
      list += '\0';
      rec->key_types[count] = c.keys.front().pair_id;
      rec->key_specs[count] = static_cast<uint8_t>(c.keys.front().spec);
      if (rec->certificate_kinds)
        rec->certificate_kinds[count] = static_cast<uint8_t>(c.keys.front().certificate_kind);
      ++count;
    }
    list += '\0';
    if (list.size() > capacity)
      return cs::kErrorMoreData;
    std::memcpy(rec->list, list.data(), list.size());
    rec->list_length = static_cast<uint32_t>(list.size());
    rec->count = count;
    return 0u;
  });
  return status ? Fail(CspError(status)) : TRUE;
}

}  // namespace

CSP_EXPORT BOOL WINAPI CPAcquireContext(cs::CspProv* prov, const char* container, uint32_t flags,
                                        void* provider_table) {
  (void)provider_table;
  if (!prov)
    return Fail(ERROR_INVALID_PARAMETER);
  auto ctx = std::make_unique<Context>();
  if (!ParsePath(container, &ctx->slot, &ctx->container))
    return Fail(cs::kErrorBadKeyset);
  const bool enumerate = (flags & cs::kAcquireEnumerate) == cs::kAcquireEnumerate;
  const uint32_t status = WithKey("CPAcquireContext", ctx->slot, [&](Store&, Key& key, bool&) {
    if (enumerate || ctx->container.empty())
      return 0u;
    return key.FindContainer(ctx->container) ? 0u : cs::kErrorBadKeyset;
  });
  if (status)
    return Fail(CspError(status));
  *prov = reinterpret_cast<cs::CspProv>(ctx.release());
  return TRUE;
}

CSP_EXPORT BOOL WINAPI CPReleaseContext(cs::CspProv prov, uint32_t flags) {
  (void)flags;
  std::unique_ptr<Context> ctx(AsContext(prov));
  if (!ctx)
    return Fail(ERROR_INVALID_HANDLE);
  ctx->magic = 0;
  return TRUE;
}

CSP_EXPORT BOOL WINAPI CPGetProvParam(cs::CspProv prov, uint32_t param, uint8_t* data,
                                      uint32_t* length, uint32_t flags) {
  if (prov == 0 && (param == cs::kParamDeleteBatch || param == cs::kParamListBatch)) {
    if (!data || !length || *length < sizeof(cs::BatchRecord))
      return Fail(ERROR_INVALID_PARAMETER);
    auto* rec = reinterpret_cast<cs::BatchRecord*>(data);
    return param == cs::kParamDeleteBatch ? DeleteBatch(rec) : ListBatch(rec);
  }
  Context* ctx = AsContext(prov);
  if (!ctx)
    return Fail(ERROR_INVALID_HANDLE);
  switch (param) {
    case cs::kParamEnumContainers: {
      if (!length)
        return Fail(ERROR_INVALID_PARAMETER);
      if (flags & cs::kEnumFirst)
        ctx->enum_index = 0;
      std::string name;
      const uint32_t status = WithKey("CPGetProvParam", ctx->slot, [&](Store&, Key& key, bool&) {
        if (ctx->enum_index >= key.containers.size())
          return static_cast<uint32_t>(ERROR_NO_MORE_ITEMS);
        name = key.containers[ctx->enum_index].name;
        return 0u;
      });
      if (status)
        return Fail(CspError(status));
      if (!data) {
        *length = cs::kEnumNameCapacity;
        return TRUE;
      }
      if (*length < name.size() + 1) {
        *length = static_cast<uint32_t>(name.size() + 1);
        return Fail(cs::kErrorMoreData);
      }
      std::memcpy(data, name.c_str(), name.size() + 1);
      *length = static_cast<uint32_t>(name.size() + 1);
      ++ctx->enum_index;
      return TRUE;
    }
    case cs::kParamKeyInfo: {
      auto* rec = reinterpret_cast<cs::KeyInfoRecord*>(data);
      if (!rec || !length || rec->size != sizeof(cs::KeyInfoRecord))
        return Fail(ERROR_INVALID_PARAMETER);
      const uint32_t spec = *length;
      const uint32_t status = WithKey("CPGetProvParam", ctx->slot, [&](Store&, Key& key, bool&) {
        return FillKeyInfo(key, ctx->container, rec, spec);
      });
      return status ? Fail(CspError(status)) : TRUE;
    }
    case cs::kParamDeleteKey: {
      if (!data)
        return Fail(ERROR_INVALID_PARAMETER);
      uint32_t spec;
      std::memcpy(&spec, data, 4);
      uint32_t status = WithKey("CPGetProvParam", ctx->slot, [&](Store&, Key& key, bool&) {
        Container* c = key.FindContainer(ctx->container);
        if (!c)
          return cs::kErrorBadKeyset;
        return std::any_of(c->keys.begin(), c->keys.end(),
                           [&](const ContainerKey& k) { return k.spec == spec; })
                   ? 0u
                   : cs::kErrorNoKey;
      });
      if (status)
        return Fail(CspError(status));
      if ((status = ConfirmDeletion(ctx->slot)) != 0)
        return Fail(status);
      status = WithKey("CPGetProvParam", ctx->slot, [&](Store&, Key& key, bool& dirty) {
        dirty = DeleteContainerKey(key, ctx->container, spec);
        return dirty ? 0u : cs::kErrorNoKey;
      });
      return status ? Fail(CspError(status)) : TRUE;
    }
    default:
      return Fail(cs::kErrorBadType);
  }
}

CSP_EXPORT BOOL WINAPI CPSetProvParam(cs::CspProv, uint32_t, const uint8_t*, uint32_t) {
  return Fail(cs::kErrorNotSupported);
}

CSP_EXPORT BOOL WINAPI CPGetUserKey(cs::CspProv prov, uint32_t key_spec, cs::CspKey* key_out) {
  Context* ctx = AsContext(prov);
  if (!ctx || !key_out)
    return Fail(ERROR_INVALID_PARAMETER);
  const uint32_t status = WithKey("CPGetUserKey", ctx->slot, [&](Store&, Key& key, bool&) {
    Container* c = key.FindContainer(ctx->container);
    if (!c)
      return cs::kErrorBadKeyset;
    return std::any_of(c->keys.begin(), c->keys.end(),
                       [&](const ContainerKey& k) { return k.spec == key_spec; })
               ? 0u
               : cs::kErrorNoKey;
  });
  if (status)
    return Fail(CspError(status));
  auto* handle = new KeyHandle();
  handle->slot = ctx->slot;
  handle->container = ctx->container;
  handle->spec = key_spec;
  *key_out = reinterpret_cast<cs::CspKey>(handle);
  return TRUE;
}

CSP_EXPORT BOOL WINAPI CPDestroyKey(cs::CspProv, cs::CspKey key) {
  std::unique_ptr<KeyHandle> k(AsKey(key));
  if (!k)
    return Fail(ERROR_INVALID_HANDLE);
  k->magic = 0;
  return TRUE;
}

// PUBLICKEYBLOB: BLOBHEADER (type 6, version 2, CALG_RSA_KEYX or CALG_RSA_SIGN) and RSAPUBKEY
// ("RSA1", bits, 65537) with the modulus little-endian; an SM2 key gives magic "SM21", 256 and
// X || Y big-endian after a header with algorithm id 0.
namespace {

// Hands a variable-length value back the CryptoAPI way: its size alone when there is no
// buffer, ERROR_MORE_DATA with the size when the buffer is too small.
BOOL CopyOut(const Bytes& value, uint8_t* data, uint32_t* length) {
  if (!data) {
    *length = static_cast<uint32_t>(value.size());
    return TRUE;
  }
  if (*length < value.size()) {
    *length = static_cast<uint32_t>(value.size());
    return Fail(cs::kErrorMoreData);
  }
  std::memcpy(data, value.data(), value.size());
  *length = static_cast<uint32_t>(value.size());
  return TRUE;
}

}  // namespace

CSP_EXPORT BOOL WINAPI CPExportKey(cs::CspProv, cs::CspKey key, cs::CspKey, uint32_t blob_type,
                                   uint32_t, uint8_t* data, uint32_t* length) {
  KeyHandle* k = AsKey(key);
  if (!k || !length)
    return Fail(ERROR_INVALID_PARAMETER);
  if (blob_type != cs::kPublicKeyBlob)
    return Fail(cs::kErrorBadType);
  Bytes blob;
  const uint32_t status = WithKey("CPExportKey", k->slot, [&](Store&, Key& vk, bool&) {
    Container* c = vk.FindContainer(k->container);
    if (!c)
      return cs::kErrorBadKeyset;
    for (const ContainerKey& ck : c->keys) {
      if (ck.spec != k->spec)
        continue;
      const KeyPair* pair = vk.FindPair(ck.pair_id);
      if (!pair)
        break;
      const Bytes pk = CspPublicKey(*pair);
      const bool rsa = pair->algorithm == tk::kKeyAlgRsa;
      const uint32_t alg = rsa ? (k->spec == 1 ? 0xA400 : 0x2400) : 0;
      blob = {6, 2, 0, 0};
      blob.insert(blob.end(), reinterpret_cast<const uint8_t*>(&alg),
                  reinterpret_cast<const uint8_t*>(&alg) + 4);
      const uint32_t header[3] = {rsa ? 0x31415352u : 0x31324D53u, rsa ? pair->bits : 256u,
                                  rsa ? 65537u : 0u};
      blob.insert(blob.end(), reinterpret_cast<const uint8_t*>(header),
                  reinterpret_cast<const uint8_t*>(header) + 12);
      if (rsa)
        blob.insert(blob.end(), pk.rbegin(), pk.rend());
      else
        blob.insert(blob.end(), pk.begin(), pk.end());
      return 0u;
    }
    return cs::kErrorNoKey;
  });
  if (status)
    return Fail(CspError(status));
  return CopyOut(blob, data, length);
}

CSP_EXPORT BOOL WINAPI CPImportKey(cs::CspProv, const uint8_t*, uint32_t, cs::CspKey, uint32_t,
                                   cs::CspKey*) {
  return Fail(cs::kErrorNotSupported);
}

CSP_EXPORT BOOL WINAPI CPGetKeyParam(cs::CspProv, cs::CspKey key, uint32_t param, uint8_t* data,
                                     uint32_t* length, uint32_t) {
  KeyHandle* k = AsKey(key);
  if (!k || !length)
    return Fail(ERROR_INVALID_PARAMETER);
  if (param != cs::kKeyParamCertificate)
    return Fail(cs::kErrorBadType);
  Bytes cert;
  const uint32_t status = WithKey("CPGetKeyParam", k->slot, [&](Store&, Key& vk, bool&) {
    Container* c = vk.FindContainer(k->container);
    if (!c)
      return cs::kErrorBadKeyset;
    for (const ContainerKey& ck : c->keys) {
      if (ck.spec != k->spec)
        continue;
      if (ck.certificate.empty())
        return kErrorNoCertificate;
      cert = ck.certificate;
      return 0u;
    }
    return cs::kErrorNoKey;
  });
  if (status)
    return Fail(CspError(status));
  return CopyOut(cert, data, length);
}

CSP_EXPORT BOOL WINAPI CPSetKeyParam(cs::CspProv, cs::CspKey, uint32_t, const uint8_t*, uint32_t) {
  return Fail(cs::kErrorNotSupported);
}
