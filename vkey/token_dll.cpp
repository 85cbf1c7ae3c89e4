// Q2Token_koba.dll: the token library, answering from the virtual keys of the store.
#include <windows.h>

#include <gcrypt.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "common/text_encoding.h"
#include "common/token_api.h"
#include "crypto.h"
#include "device.h"
#include "store.h"

using namespace vkey;
namespace tk = koba::token;

#define TOKEN_EXPORT extern "C" __declspec(dllexport)

namespace {

// Small values travel in the data argument itself (parameters 34 and 100002 in some callers);
// the first 64 KiB of the address space are never mapped on Windows.
uint32_t ValueOrPointee(const void* data) {
  const uintptr_t v = reinterpret_cast<uintptr_t>(data);
  if (v < 0x10000)
    return static_cast<uint32_t>(v);
  uint32_t out;
  std::memcpy(&out, data, 4);
  return out;
}

void PutU32(void* data, uint32_t v) {
  std::memcpy(data, &v, 4);
}

uint32_t WriteKeyList(const std::vector<Bytes>& entries, void* data) {
  Bytes block(4, 0);
  for (const Bytes& e : entries) {
    const uint32_t n = static_cast<uint32_t>(e.size());
    block.insert(block.end(), reinterpret_cast<const uint8_t*>(&n),
                 reinterpret_cast<const uint8_t*>(&n) + 4);
    block.insert(block.end(), e.begin(), e.end());
  }
  if (block.size() > tk::kKeyListCapacity)
    return tk::kStatusBufferTooSmall;
  const uint32_t total = static_cast<uint32_t>(block.size() - 4);
  std::memcpy(block.data(), &total, 4);
  std::memcpy(data, block.data(), block.size());
  return tk::kOk;
}

// The device's answer to a public-key request block (parameter 11): the 15 random bytes
// stay, then a 32-bit length L and L bytes: for each requested key id (offsets 17 and 18,
// 0 = none) the id, a 16-bit big-endian length and the raw public key; then a 16-bit length
// and the first key's signature (SHA-256 for RSA, SM3 with ZA for SM2) over the random bytes
// followed by those entries.
uint32_t AnswerPublicKeyRequest(Key& key, uint8_t* block) {
  if (!key.admin)
    return tk::kStatusUnsupported;
  Bytes entries;
  const KeyPair* first = nullptr;
  for (int at : {17, 18}) {
    if (block[at] == 0)
      continue;
    const KeyPair* pair = key.FindPair(block[at]);
    if (!pair)
      return tk::kStatusNotFound;
    if (!first)
      first = pair;
    const Bytes pk = CspPublicKey(*pair);
    entries.push_back(pair->id);
    entries.push_back(static_cast<uint8_t>(pk.size() >> 8));
    entries.push_back(static_cast<uint8_t>(pk.size()));
    entries.insert(entries.end(), pk.begin(), pk.end());
  }
  if (!first)
    return tk::kStatusBadArgument;
  Bytes message(block + 2, block + 17);
  message.insert(message.end(), entries.begin(), entries.end());
  Bytes sig;
  if (!SignMessage(*first, tk::kDigestSha256, message, &sig))
    return tk::kStatusDeviceError;
  entries.push_back(static_cast<uint8_t>(sig.size() >> 8));
  entries.push_back(static_cast<uint8_t>(sig.size()));
  entries.insert(entries.end(), sig.begin(), sig.end());
  if (entries.size() + 19 > tk::kPublicKeyRequestSize)
    return tk::kStatusBufferTooSmall;
  Bytes random(block + 2, block + 17);
  std::memset(block, 0, tk::kPublicKeyRequestSize);
  std::memcpy(block, random.data(), 15);
  PutU32(block + 15, static_cast<uint32_t>(entries.size()));
  std::memcpy(block + 19, entries.data(), entries.size());
  return tk::kOk;
}

// Parameters about the key set rather than one key; the tray monitor and the management tool
// ask them with handle 0.
uint32_t KeySetParam(uint32_t id, void* data) {
  static uint32_t seen_generation = 0;
  if (id == tk::kParamToolStart)
    return tk::kOk;
  if (!data)
    return tk::kStatusBadArgument;
  uint32_t generation = 0;
  if (!Transact([&](Store& store) {
        generation = store.generation;
        return false;
      }))
    return tk::kStatusDeviceError;
  PutU32(data, generation != seen_generation ? 1 : 0);
  seen_generation = generation;
  return tk::kOk;
}

uint32_t ManParam(Key& key, uint32_t id, void* data, bool& dirty) {
  const bool is_command = id == tk::kParamContainersRead || id == tk::kParamResetAfterFailure ||
                          id == tk::kParamStillPresent || id == tk::kParamToolStart ||
                          id == tk::kParamFontLibrary || id == tk::kParamChanged;
  if (!data && !is_command)
    return tk::kStatusBadArgument;
  auto* bytes = static_cast<uint8_t*>(data);
  switch (id) {
    case tk::kParamLabel: {
      const char* text = static_cast<const char*>(data);
      const size_t n = strnlen(text, tk::kLabelCapacity);
      if (n >= tk::kLabelCapacity)
        return tk::kStatusBadArgument;
      key.label.assign(text, n);
      dirty = true;
      return tk::kOk;
    }
    case tk::kParamPinInfo:
      std::memset(bytes, 0, 8);
      bytes[0] = static_cast<uint8_t>(key.max_tries);
      bytes[1] = key.tries_left == 0 ? 1 : 0;
      bytes[2] = static_cast<uint8_t>(key.tries_left);
      return tk::kOk;
    case tk::kParamPublicKeyRequest:
      return AnswerPublicKeyRequest(key, bytes);
    case tk::kParamAdminKeyList:
      if (!key.admin)
        return tk::kStatusUnsupported;
      return WriteKeyList(key.admin_key_list, data);
    case tk::kParamUserKeyList:
      return WriteKeyList(key.user_key_list, data);
    case tk::kParamRsaKeyList: {
      std::vector<Bytes> list;
      for (const KeyPair& p : key.pairs)
        if (p.algorithm == tk::kKeyAlgRsa)
          list.push_back(p.public_key);
      return WriteKeyList(list, data);
    }
    case tk::kParamAdminInfo: {
      std::memset(bytes, 0, tk::kAdminInfoSize);
      std::memcpy(bytes, key.admin_info.data(),
                  std::min(key.admin_info.size(), tk::kAdminInfoSize));
      return tk::kOk;
    }
    case tk::kParamLanguage: {
      uint16_t v;
      std::memcpy(&v, data, 2);
      if (v > 10)
        return tk::kStatusBadArgument;
      key.language = v;
      dirty = true;
      return tk::kOk;
    }
    case tk::kParamCharsetWrite:
      if (bytes[0] > 1)
        return tk::kStatusBadArgument;
      key.text_encoding = bytes[0];
      dirty = true;
      return tk::kOk;
    case tk::kParamCharsetRead:
      PutU32(data, key.text_encoding);
      return tk::kOk;
    case tk::kParamLanguageMask:
      PutU32(data, key.language_mask);
      return tk::kOk;
    case tk::kParamCharsetFlags:
      PutU32(data, key.charset_flags);
      return tk::kOk;
    case tk::kParamDisplayFlags:
      bytes[0] = key.display_flags;
      return tk::kOk;
    case tk::kParamFontLibrary:
      key.font_library = ValueOrPointee(data);
      dirty = true;
      return tk::kOk;
    case tk::kParamUsbModeWrite:
      if (bytes[0] != 0 && bytes[0] != 0x80)
        return tk::kStatusBadArgument;
      key.usb_mode = bytes[0];
      dirty = true;
      return tk::kOk;
    case tk::kParamUsbModeRead:
      PutU32(data, key.usb_mode);
      return tk::kOk;
    case tk::kParamChanged:
      ++key.changed;
      dirty = true;
      return tk::kOk;
    case tk::kParamResetAfterFailure:
      key.logged_in = false;
      dirty = true;
      return tk::kOk;
    case tk::kParamContainersRead:
    case tk::kParamStillPresent:
    case tk::kParamToolStart:
      return tk::kOk;
    case tk::kParamAdminFlag:
      PutU32(data, key.admin ? 1 : 0);
      return tk::kOk;
    case tk::kParamIdentifierString: {
      const size_t n = std::min(key.identifier.size(), tk::kIdentifierStringCapacity - 1);
      std::memcpy(bytes, key.identifier.data(), n);
      bytes[n] = 0;
      return tk::kOk;
    }
    case tk::kParamDeviceValue: {
      std::memset(bytes, 0, tk::kDeviceValueSize);
      std::memcpy(bytes, key.device_value.data(),
                  std::min(key.device_value.size(), tk::kDeviceValueSize));
      return tk::kOk;
    }
    default:
      return tk::kStatusUnsupported;
  }
}

uint32_t PressStatus(Press p) {
  switch (p) {
    case Press::kConfirm:
      return tk::kOk;
    case Press::kRefuse:
      return tk::kStatusCancelled;
    case Press::kTimeout:
      return tk::kStatusTimeout;
    default:
      return tk::kStatusNoDevice;
  }
}

bool PinOk(const char* pin, uint32_t length) {
  return pin && length >= 1 && length <= 64;
}

// The transaction text a record carries (text form "11"... or binary form 0x11 ...): the XML
// item, which the key shows before it signs.
std::string DisplayText(const uint8_t* data, uint32_t length) {
  if (length >= 24 && data[0] == '1' && data[1] == '1' && data[12] == '2' && data[13] == '1') {
    const unsigned long x = std::strtoul(std::string(data + 14, data + 24).c_str(), nullptr, 10);
    if (x <= length - 24)
      return std::string(data + 24, data + 24 + x);
  }
  if (length >= 18 && data[0] == 0x11 && data[9] == 0x21) {
    const uint32_t x =
        uint32_t(data[14]) << 24 | uint32_t(data[15]) << 16 | uint32_t(data[16]) << 8 | data[17];
    if (x <= length - 18)
      return std::string(data + 18, data + 18 + x);
  }
  return std::string(reinterpret_cast<const char*>(data), std::min<uint32_t>(length, 256));
}

struct Attribute {
  uint32_t type;
  Bytes value;
};

bool ParseAttributes(const uint8_t* p, uint32_t length, std::vector<Attribute>* out) {
  uint32_t pos = 0;
  while (pos < length) {
    if (length - pos < 8)
      return false;
    uint32_t type, n;
    std::memcpy(&type, p + pos, 4);
    std::memcpy(&n, p + pos + 4, 4);
    pos += 8;
    if (n > length - pos)
      return false;
    out->push_back(Attribute{type, Bytes(p + pos, p + pos + n)});
    pos += n;
  }
  return true;
}

const Bytes* FindAttribute(const std::vector<Attribute>& attrs, uint32_t type) {
  for (const Attribute& a : attrs)
    if (a.type == type)
      return &a.value;
  return nullptr;
}

uint32_t AttrU32(const Bytes* v) {
  if (!v || v->empty())
    return 0;
  if (v->size() >= 4) {
    uint32_t x;
    std::memcpy(&x, v->data(), 4);
    return x;
  }
  return (*v)[0];
}

// Key objects bind a generated key pair to its container (label) and key spec; certificate
// objects store the certificate with the container's key pair.
uint32_t ApplyObject(Key& key, uint32_t object_class, const std::vector<Attribute>& attrs) {
  const Bytes* cls = FindAttribute(attrs, 0);
  const Bytes* label = FindAttribute(attrs, 0x80000004);
  if (!cls || !label || label->empty())
    return tk::kStatusBadArgument;
  std::string name(label->begin(), label->end());
  name.erase(std::find(name.begin(), name.end(), '\0'), name.end());
  const uint32_t c = AttrU32(cls);
  if (object_class == tk::kObjectClassCertificate) {
    const Bytes* value = FindAttribute(attrs, 0x11);
    const uint32_t spec = AttrU32(FindAttribute(attrs, 0x80000003));
    const uint32_t kind = AttrU32(FindAttribute(attrs, 0x80000006));
    const uint8_t id = static_cast<uint8_t>(AttrU32(FindAttribute(attrs, 0x80000002)));
    if (c != 1 || !value || value->empty())
      return tk::kStatusBadArgument;
    CertificateInfo info;
    if (!ParseCertificate(*value, &info))
      return tk::kStatusBadArgument;
    Container* container = key.FindContainer(name);
    if (!container)
      return tk::kStatusNotFound;
    for (ContainerKey& ck : container->keys) {
      if (ck.spec != spec || (id && ck.pair_id != id))
        continue;
      const KeyPair* pair = key.FindPair(ck.pair_id);
      if (!pair || CspPublicKey(*pair) != info.public_key)
        return tk::kStatusBadArgument;
      ck.certificate = *value;
      ck.certificate_kind = kind;
      return tk::kOk;
    }
    return tk::kStatusNotFound;
  }
  if (object_class != tk::kObjectClassKey)
    return tk::kStatusBadArgument;
  if (c == 0)
    return tk::kOk;  // names object: kept as stored
  if (c != 2 && c != 3)
    return tk::kStatusBadArgument;
  const uint8_t id = static_cast<uint8_t>(AttrU32(FindAttribute(attrs, 0x80000002)));
  const uint32_t spec = AttrU32(FindAttribute(attrs, 0x80000003));
  const uint32_t cert_type = AttrU32(FindAttribute(attrs, 0x80000006));
  KeyPair* pair = key.FindPair(id);
  if (!pair || (spec != 1 && spec != 2))
    return tk::kStatusNotFound;
  pair->certificate_type = cert_type;
  for (Container& other : key.containers) {
    for (const ContainerKey& ck : other.keys)
      if (ck.pair_id == id)
        return other.name == name ? tk::kOk : tk::kStatusBadArgument;
  }
  Container* container = key.FindContainer(name);
  if (!container) {
    key.containers.push_back(Container{name, {}});
    container = &key.containers.back();
  }
  for (const ContainerKey& ck : container->keys)
    if (ck.spec == spec)
      return tk::kStatusBadArgument;
  ContainerKey ck;
  ck.spec = spec;
  ck.pair_id = id;
  ck.certificate_kind = cert_type;
  container->keys.push_back(ck);
  return tk::kOk;
}

struct DigestContext {
  gcry_md_hd_t md = nullptr;
  ~DigestContext() {
    if (md)
      gcry_md_close(md);
  }
};

struct CipherContext {
  gcry_cipher_hd_t h = nullptr;
  bool encrypt = true;
  Bytes pending;  // bytes not yet processed (the last block is kept back when decrypting)
  ~CipherContext() {
    if (h)
      gcry_cipher_close(h);
  }
};

int CipherInit(void** context, int cipher, const uint8_t* key, const uint8_t* iv, bool encrypt) {
  if (!context || cipher != tk::kOsslCipherDesEde3Cbc || !key || !iv || !CryptoReady())
    return 0;
  auto ctx = std::make_unique<CipherContext>();
  ctx->encrypt = encrypt;
  if (gcry_cipher_open(&ctx->h, GCRY_CIPHER_3DES, GCRY_CIPHER_MODE_CBC, 0) ||
      gcry_cipher_setkey(ctx->h, key, 24) || gcry_cipher_setiv(ctx->h, iv, 8))
    return 0;
  *context = ctx.release();
  return 1;
}

int CipherUpdate(void* context, const uint8_t* in, int in_length, uint8_t* out, int* out_length) {
  auto* ctx = static_cast<CipherContext*>(context);
  if (!ctx || in_length < 0 || (in_length && !in) || !out_length)
    return 0;
  ctx->pending.insert(ctx->pending.end(), in, in + in_length);
  size_t n = ctx->pending.size() / 8 * 8;
  if (!ctx->encrypt && n == ctx->pending.size() && n)
    n -= 8;  // keep the padded block back
  if (n && (!out || *out_length < static_cast<int>(n)))
    return 0;
  if (n) {
    const gcry_error_t err = ctx->encrypt
                                 ? gcry_cipher_encrypt(ctx->h, out, n, ctx->pending.data(), n)
                                 : gcry_cipher_decrypt(ctx->h, out, n, ctx->pending.data(), n);
    if (err)
      return 0;
  }
  ctx->pending.erase(ctx->pending.begin(), ctx->pending.begin() + static_cast<long>(n));
  *out_length = static_cast<int>(n);
  return 1;
}

int CipherFinal(void* context, uint8_t* out, int* out_length) {
  std::unique_ptr<CipherContext> ctx(static_cast<CipherContext*>(context));
  if (!ctx || !out || !out_length)
    return 0;
  if (ctx->encrypt) {
    const uint8_t pad = static_cast<uint8_t>(8 - ctx->pending.size() % 8);
    ctx->pending.insert(ctx->pending.end(), pad, pad);
    if (*out_length < 8 || gcry_cipher_encrypt(ctx->h, out, 8, ctx->pending.data(), 8))
      return 0;
    *out_length = 8;
    return 1;
  }
  if (ctx->pending.size() != 8)
    return 0;
  uint8_t block[8];
  if (gcry_cipher_decrypt(ctx->h, block, 8, ctx->pending.data(), 8))
    return 0;
  const uint8_t pad = block[7];
  if (pad == 0 || pad > 8)
    return 0;
  for (int i = 8 - pad; i < 8; ++i)
    if (block[i] != pad)
      return 0;
  if (*out_length < 8 - pad)
    return 0;
  std::memcpy(out, block, 8 - pad);
  *out_length = 8 - pad;
  return 1;
}

int PutText(const std::string& text, uint8_t* out, int* out_length) {
  if (!out || !out_length || *out_length < static_cast<int>(text.size()))
    return 0;
  std::memcpy(out, text.data(), text.size());
  if (*out_length > static_cast<int>(text.size()))
    out[text.size()] = 0;
  *out_length = static_cast<int>(text.size());
  return 1;
}

struct EncodeContext {
  Bytes pending;
  size_t column = 0;
};

// Streams Base64 with a line feed after every 64 characters: whole 48-byte lines at a time.
std::string EncodeLines(EncodeContext* ctx, bool final) {
  std::string out;
  size_t n = final ? ctx->pending.size() : ctx->pending.size() / 48 * 48;
  for (size_t at = 0; at < n; at += 48) {
    const size_t chunk = std::min<size_t>(48, n - at);
    out += Base64Encode(ctx->pending.data() + at, chunk, 0);
    out += '\n';
  }
  ctx->pending.erase(ctx->pending.begin(), ctx->pending.begin() + static_cast<long>(n));
  return out;
}

int DesMode(const uint8_t* key, uint32_t key_length, uint32_t mode, gcry_cipher_hd_t* h) {
  const uint32_t cipher = mode & 0xFF;
  const bool triple = cipher == tk::kDes3Cbc || cipher == tk::kDes3Ecb;
  const bool cbc = cipher == tk::kDesCbc || cipher == tk::kDes3Cbc;
  if (!key || !CryptoReady())
    return 0;
  if (!(triple ? (key_length == 16 || key_length == 24) : key_length == 8))
    return 0;
  if (cipher != tk::kDesEcb && cipher != tk::kDesCbc && !triple)
    return 0;
  uint8_t k[24];
  std::memcpy(k, key, key_length);
  if (key_length == 16)
    std::memcpy(k + 16, key, 8);
  if (gcry_cipher_open(h, triple ? GCRY_CIPHER_3DES : GCRY_CIPHER_DES,
                       cbc ? GCRY_CIPHER_MODE_CBC : GCRY_CIPHER_MODE_ECB, 0))
    return 0;
  if (gcry_cipher_setkey(*h, k, triple ? 24 : 8)) {
    gcry_cipher_close(*h);
    return 0;
  }
  if (cbc) {
    const uint8_t iv[8] = {};
    gcry_cipher_setiv(*h, iv, 8);
  }
  return 1;
}

struct CipherCloser {
  void operator()(gcry_cipher_hd_t h) const { gcry_cipher_close(h); }
};

bool ReadCertificate(const uint8_t* cert, int length, CertificateInfo* info) {
  return cert && length > 0 && ParseCertificate(Bytes(cert, cert + length), info);
}

}  // namespace

TOKEN_EXPORT uint32_t WINAPI VexloT_GetSlotList(uint32_t present_only, uint32_t* slots,
                                                uint32_t* count) {
  (void)present_only;
  if (!count)
    return tk::kStatusBadArgument;
  uint32_t status = tk::kOk;
  std::vector<uint32_t> list;
  const bool ok = Transact([&](Store& store) {
    bool dirty = false;
    for (Key& key : store.keys) {
      if (!key.present)
        continue;
      status = TakeFault(store, key, "VexloT_GetSlotList", &dirty);
      if (status)
        return dirty;
    }
    list = store.PresentSlots();
    return dirty;
  });
  if (!ok)
    return tk::kStatusDeviceError;
  if (status)
    return status;
  // A count of 0 on entry asks with the default room of 10 slots.
  const uint32_t capacity = *count ? *count : tk::kSlotListCount;
  if (list.size() > capacity || (!slots && !list.empty())) {
    *count = static_cast<uint32_t>(list.size());
    return tk::kStatusBufferTooSmall;
  }
  for (size_t i = 0; i < list.size(); ++i)
    slots[i] = list[i];
  *count = static_cast<uint32_t>(list.size());
  return tk::kOk;
}

TOKEN_EXPORT uint32_t WINAPI VexloT_GetDeviceInfo(uint32_t slot, uint32_t flags, uint8_t* record) {
  (void)flags;
  if (!record)
    return tk::kStatusBadArgument;
  return WithKey("VexloT_GetDeviceInfo", slot, [&](Store&, Key& key, bool&) {
    FillDeviceInfo(key, record);
    return tk::kOk;
  });
}

TOKEN_EXPORT uint32_t WINAPI VexloT_ManTokenParam(uint32_t handle, uint32_t id, void* data) {
  if (id == tk::kParamDeviceChanged || id == tk::kParamToolStart)
    return KeySetParam(id, data);
  return WithKey("VexloT_ManTokenParam", handle,
                 [&](Store&, Key& key, bool& dirty) { return ManParam(key, id, data, dirty); });
}

TOKEN_EXPORT int32_t WINAPI VexloT_GetRandBytes(uint32_t slot, uint8_t* out, uint32_t length) {
  if (!out || length == 0 || length > 4096)
    return static_cast<int32_t>(tk::kStatusBadArgument);
  const uint32_t status = WithKey("VexloT_GetRandBytes", slot, [&](Store&, Key&, bool&) {
    const Bytes r = RandomBytes(length);
    std::memcpy(out, r.data(), length);
    return tk::kOk;
  });
  return static_cast<int32_t>(status);
}

TOKEN_EXPORT uint32_t WINAPI VexloT_Logout(uint32_t slot, uint32_t user_type) {
  (void)user_type;
  return WithKey("VexloT_Logout", slot, [&](Store&, Key& key, bool& dirty) {
    dirty = key.logged_in;
    key.logged_in = false;
    return tk::kOk;
  });
}

TOKEN_EXPORT uint32_t WINAPI VexloT_Login(uint32_t handle, uint32_t user_type, const char* pin,
                                          uint32_t pin_length) {
  if (!PinOk(pin, pin_length) || user_type != tk::kUserTypeUser)
    return tk::kStatusBadArgument;
  const uint32_t status = WithKey("VexloT_Login", handle, [&](Store&, Key& key, bool& dirty) {
    if (key.tries_left == 0)
      return tk::kStatusPinLocked;
    dirty = true;
    if (std::string(pin, pin_length) != key.pin) {
      --key.tries_left;
      key.logged_in = false;
      return tk::kStatusPinWrong + key.tries_left;
    }
    key.tries_left = key.max_tries;
    return tk::kOk;
  });
  if (status)
    return status;
  const uint32_t press = PressStatus(AwaitPress(handle));
  if (press)
    return press;
  return WithKey("VexloT_Login", handle, [&](Store&, Key& key, bool& dirty) {
    key.logged_in = true;
    dirty = true;
    return tk::kOk;
  });
}

TOKEN_EXPORT uint32_t WINAPI VexloT_ChangePin(uint32_t handle, uint32_t user_type,
                                              const char* old_pin, uint32_t old_length,
                                              const char* new_pin, uint32_t new_length) {
  if (!PinOk(old_pin, old_length) || !PinOk(new_pin, new_length) || user_type != tk::kUserTypeUser)
    return tk::kStatusBadArgument;
  return WithKey("VexloT_ChangePin", handle, [&](Store&, Key& key, bool& dirty) {
    if (key.tries_left == 0)
      return tk::kStatusPinLocked;
    dirty = true;
    if (std::string(old_pin, old_length) != key.pin) {
      --key.tries_left;
      key.logged_in = false;
      return tk::kStatusPinWrong + key.tries_left;
    }
    key.pin.assign(new_pin, new_length);
    key.tries_left = key.max_tries;
    return tk::kOk;
  });
}

TOKEN_EXPORT uint32_t WINAPI VexloT_InitToken(uint32_t handle, uint32_t user_type,
                                              const char* new_pin, uint32_t new_length) {
  if (!PinOk(new_pin, new_length) || user_type != tk::kUserTypeUser)
    return tk::kStatusBadArgument;
  return WithKey("VexloT_InitToken", handle, [&](Store&, Key& key, bool& dirty) {
    key.pin.assign(new_pin, new_length);
    key.tries_left = key.max_tries;
    key.logged_in = false;
    key.initialised = true;
    key.pairs.clear();
    key.containers.clear();
    key.objects.clear();
    dirty = true;
    return tk::kOk;
  });
}

TOKEN_EXPORT uint32_t WINAPI VexloT_GeneratePairKey(uint32_t handle, uint8_t* key_id,
                                                    uint32_t key_bits, uint32_t, uint32_t) {
  if (!key_id || (key_bits != 1024 && key_bits != 2048))
    return tk::kStatusBadArgument;
  if (!AwaitBusy(handle))
    return tk::kStatusNoDevice;
  return WithKey("VexloT_GeneratePairKey", handle, [&](Store&, Key& key, bool& dirty) {
    KeyPair pair;
    pair.id = key.NextPairId();
    if (pair.id == 0)
      return tk::kStatusNoMemory;
    if (!GenerateKeyPair(tk::kKeyAlgRsa, key_bits, &pair))
      return tk::kStatusDeviceError;
    std::memset(key_id, 0, 4);
    key_id[0] = pair.id;
    key.pairs.push_back(std::move(pair));
    dirty = true;
    return tk::kOk;
  });
}

TOKEN_EXPORT uint32_t WINAPI VexloT_GeneratePairKeyEx(uint32_t handle, uint32_t count,
                                                      tk::KeyRequest* requests, void*, void*) {
  if (!requests || count == 0 || count > 2)
    return tk::kStatusBadArgument;
  for (uint32_t i = 0; i < count; ++i) {
    const tk::KeyRequest& r = requests[i];
    if (r.size != sizeof(tk::KeyRequest) || !r.public_key || !r.subject || !r.signature ||
        r.subject_length == 0 || r.subject_length > 1024 ||
        (r.key_bits != 256 && r.key_bits != 1024 && r.key_bits != 2048))
      return tk::kStatusBadArgument;
  }
  if (!AwaitBusy(handle))
    return tk::kStatusNoDevice;
  return WithKey("VexloT_GeneratePairKeyEx", handle, [&](Store&, Key& key, bool& dirty) {
    if (!key.admin)
      return tk::kStatusUnsupported;
    if (!key.logged_in)
      return tk::kStatusNotLoggedIn;
    std::vector<KeyPair> made;
    std::vector<Bytes> publics, signatures;
    for (uint32_t i = 0; i < count; ++i) {
      const tk::KeyRequest& r = requests[i];
      KeyPair pair;
      const uint32_t alg = r.key_bits == 256 ? tk::kKeyAlgSm2 : tk::kKeyAlgRsa;
      if (!GenerateKeyPair(alg, r.key_bits, &pair))
        return tk::kStatusDeviceError;
      pair.certificate_type = r.certificate_type;
      Bytes body, sig;
      const std::string cn(reinterpret_cast<const char*>(r.subject), r.subject_length);
      const uint32_t digest = alg == tk::kKeyAlgSm2 ? tk::kDigestSm3 : r.digest_algorithm;
      if (!RequestBody(cn, pair.public_key, &body) || !SignMessage(pair, digest, body, &sig))
        return tk::kStatusBadArgument;
      if (pair.public_key.size() > r.public_key_length || sig.size() > r.signature_length)
        return tk::kStatusBufferTooSmall;
      publics.push_back(pair.public_key);
      signatures.push_back(sig);
      made.push_back(std::move(pair));
    }
    for (size_t i = 0; i < made.size(); ++i) {
      made[i].id = key.NextPairId();
      if (made[i].id == 0)
        return tk::kStatusNoMemory;
      key.pairs.push_back(made[i]);
    }
    for (uint32_t i = 0; i < count; ++i) {
      tk::KeyRequest& r = requests[i];
      std::memset(r.key_id, 0, 4);
      r.key_id[0] = made[i].id;
      std::memcpy(r.public_key, publics[i].data(), publics[i].size());
      r.public_key_length = static_cast<uint32_t>(publics[i].size());
      std::memcpy(r.signature, signatures[i].data(), signatures[i].size());
      r.signature_length = static_cast<uint32_t>(signatures[i].size());
    }
    dirty = true;
    return tk::kOk;
  });
}

TOKEN_EXPORT uint32_t WINAPI VexloT_ExportPairKey(uint32_t handle, uint32_t key_id,
                                                  uint32_t blob_type, uint8_t* blob,
                                                  uint32_t* length) {
  if (blob_type != tk::kExportPublicKey || !length)
    return tk::kStatusBadArgument;
  return WithKey("VexloT_ExportPairKey", handle, [&](Store&, Key& key, bool&) {
    const KeyPair* pair = key.FindPair(static_cast<uint8_t>(key_id));
    if (!pair)
      return tk::kStatusNotFound;
    const Bytes& pk = pair->public_key;
    // Header: algorithm, public-key length, bits; the key starts at a third of the blob.
    const uint32_t start = std::max<uint32_t>(16, static_cast<uint32_t>(pk.size()));
    const uint32_t total = start * 3;
    if (!blob || *length < total) {
      *length = total;
      return tk::kStatusBufferTooSmall;
    }
    std::memset(blob, 0, total);
    PutU32(blob, pair->algorithm);
    PutU32(blob + 4, static_cast<uint32_t>(pk.size()));
    PutU32(blob + 8, pair->bits);
    std::memcpy(blob + start, pk.data(), pk.size());
    *length = total;
    return tk::kOk;
  });
}

TOKEN_EXPORT uint32_t WINAPI VexloT_CreateObject(uint32_t handle, uint32_t object_class,
                                                 uint32_t* object_handle, const uint8_t* object,
                                                 uint32_t length, uint32_t flags) {
  std::vector<Attribute> attrs;
  if (!object || length == 0 || length > (1u << 20) || !ParseAttributes(object, length, &attrs))
    return tk::kStatusBadArgument;
  return WithKey("VexloT_CreateObject", handle, [&](Store&, Key& key, bool& dirty) {
    const uint32_t status = ApplyObject(key, object_class, attrs);
    if (status)
      return status;
    StoredObject so;
    so.handle = key.next_object++;
    so.object_class = object_class;
    so.flags = flags;
    so.data.assign(object, object + length);
    key.objects.push_back(std::move(so));
    if (object_handle)
      *object_handle = key.objects.back().handle;
    dirty = true;
    return tk::kOk;
  });
}

TOKEN_EXPORT uint32_t WINAPI VexloT_RsaSign(uint32_t handle, uint32_t key_id,
                                            uint32_t digest_algorithm, const uint8_t* digest,
                                            uint32_t digest_length, uint8_t* signature,
                                            uint32_t* signature_length) {
  if (!digest || !digest_length || !signature || !signature_length)
    return tk::kStatusBadArgument;
  return WithKey("VexloT_RsaSign", handle, [&](Store&, Key& key, bool&) {
    if (!key.logged_in)
      return tk::kStatusNotLoggedIn;
    const KeyPair* pair = key.FindPair(static_cast<uint8_t>(key_id));
    if (!pair)
      return tk::kStatusNotFound;
    Bytes sig;
    if (!SignDigest(*pair, digest_algorithm, Bytes(digest, digest + digest_length), &sig))
      return tk::kStatusBadArgument;
    if (sig.size() > *signature_length)
      return tk::kStatusBufferTooSmall;
    std::memcpy(signature, sig.data(), sig.size());
    *signature_length = static_cast<uint32_t>(sig.size());
    return tk::kOk;
  });
}

TOKEN_EXPORT uint32_t WINAPI VexloT_RsaSign_koba(uint32_t handle, tk::SignRequest* request) {
  if (!request || request->size != sizeof(tk::SignRequest) || !request->data ||
      !request->data_length || !request->signature)
    return tk::kStatusBadArgument;
  uint8_t pair_id = static_cast<uint8_t>(request->key_type);
  uint32_t status = WithKey("VexloT_RsaSign_koba", handle, [&](Store&, Key& key, bool& dirty) {
    if (!key.logged_in)
      return tk::kStatusNotLoggedIn;
    const KeyPair* pair = key.FindPair(pair_id);
    if (!pair)
      return tk::kStatusNotFound;
    if (request->public_key && request->public_key_length &&
        Bytes(request->public_key, request->public_key + request->public_key_length) !=
            CspPublicKey(*pair))
      return tk::kStatusBadArgument;
    key.last_display = DisplayText(request->data, request->data_length);
    dirty = true;
    return tk::kOk;
  });
  if (status)
    return status;
  status = PressStatus(AwaitPress(handle));
  if (status)
    return status;
  return WithKey("VexloT_RsaSign_koba", handle, [&](Store&, Key& key, bool&) {
    const KeyPair* pair = key.FindPair(pair_id);
    if (!pair || !key.logged_in)
      return tk::kStatusNotLoggedIn;
    Bytes sig, digest;
    if (pair->algorithm == tk::kKeyAlgSm2 && !key.sm2_za) {
      if (!Digest(GcryDigestFromCode(tk::kDigestSm3), request->data, request->data_length,
                  &digest) ||
          !SignDigest(*pair, tk::kDigestSm3, digest, &sig))
        return tk::kStatusBadArgument;
    } else if (!SignMessage(*pair, request->digest_algorithm, request->data, request->data_length,
                            &sig)) {
      return tk::kStatusBadArgument;
    }
    if (sig.size() > request->signature_length)
      return tk::kStatusBufferTooSmall;
    std::memcpy(request->signature, sig.data(), sig.size());
    request->signature_length = static_cast<uint32_t>(sig.size());
    return tk::kOk;
  });
}

TOKEN_EXPORT int WINAPI Ossl_DigestInit(void** context, int algorithm) {
  const int algo = GcryDigestFromOssl(algorithm);
  if (!context || !algo || !CryptoReady())
    return 0;
  auto ctx = std::make_unique<DigestContext>();
  if (gcry_md_open(&ctx->md, algo, 0))
    return 0;
  *context = ctx.release();
  return 1;
}

TOKEN_EXPORT int WINAPI Ossl_DigestUpdate(void* context, const uint8_t* data, int length) {
  auto* ctx = static_cast<DigestContext*>(context);
  if (!ctx || length < 0 || (length && !data))
    return 0;
  gcry_md_write(ctx->md, data, static_cast<size_t>(length));
  return 1;
}

TOKEN_EXPORT int WINAPI Ossl_DigestFinal(void* context, uint8_t* digest, int* length) {
  std::unique_ptr<DigestContext> ctx(static_cast<DigestContext*>(context));
  if (!ctx || !digest || !length)
    return 0;
  const int algo = gcry_md_get_algo(ctx->md);
  const int n = static_cast<int>(gcry_md_get_algo_dlen(algo));
  if (*length < n)
    return 0;
  std::memcpy(digest, gcry_md_read(ctx->md, algo), static_cast<size_t>(n));
  *length = n;
  return 1;
}

TOKEN_EXPORT int WINAPI Ossl_EncryptInit(void** context, int cipher, const uint8_t* key,
                                         const uint8_t* iv) {
  return CipherInit(context, cipher, key, iv, true);
}
TOKEN_EXPORT int WINAPI Ossl_EncryptUpdate(void* context, const uint8_t* in, int in_length,
                                           uint8_t* out, int* out_length) {
  return CipherUpdate(context, in, in_length, out, out_length);
}
TOKEN_EXPORT int WINAPI Ossl_EncryptFinal(void* context, uint8_t* out, int* out_length) {
  return CipherFinal(context, out, out_length);
}
TOKEN_EXPORT int WINAPI Ossl_DecryptInit(void** context, int cipher, const uint8_t* key,
                                         const uint8_t* iv) {
  return CipherInit(context, cipher, key, iv, false);
}
TOKEN_EXPORT int WINAPI Ossl_DecryptUpdate(void* context, const uint8_t* in, int in_length,
                                           uint8_t* out, int* out_length) {
  return CipherUpdate(context, in, in_length, out, out_length);
}
TOKEN_EXPORT int WINAPI Ossl_DecryptFinal(void* context, uint8_t* out, int* out_length) {
  return CipherFinal(context, out, out_length);
}

TOKEN_EXPORT int WINAPI Ossl_Base64_Encode(const uint8_t* in, int in_length, uint8_t* out,
                                           int* out_length) {
  if (!in || in_length < 0)
    return 0;
  std::string text = Base64Encode(in, static_cast<size_t>(in_length), 64);
  if (!text.empty())
    text += '\n';
  return PutText(text, out, out_length);
}

TOKEN_EXPORT int WINAPI Ossl_Base64_Decode(const uint8_t* in, int in_length, uint8_t* out,
                                           int* out_length) {
  Bytes bytes;
  if (!in || in_length < 0 || !Base64Decode(in, static_cast<size_t>(in_length), &bytes))
    return 0;
  return PutText(std::string(bytes.begin(), bytes.end()), out, out_length);
}

TOKEN_EXPORT int WINAPI Ossl_Base64_P7_FileData(const uint8_t* in, int in_length, uint8_t* out,
                                                int* out_length) {
  if (!in || in_length < 0 || !out || !out_length)
    return 0;
  // Files can be large: the text is written straight into the caller's buffer.
  const std::string_view bytes(reinterpret_cast<const char*>(in), static_cast<size_t>(in_length));
  const size_t text_length = koba::text::Base64EncodedSize(bytes.size());
  if (*out_length < 0 || static_cast<size_t>(*out_length) < text_length)
    return 0;
  koba::text::Base64EncodeTo(bytes, reinterpret_cast<char*>(out));
  if (static_cast<size_t>(*out_length) > text_length)
    out[text_length] = 0;
  *out_length = static_cast<int>(text_length);
  return 1;
}

TOKEN_EXPORT int WINAPI Ossl_EncodeInit(void** context) {
  if (!context)
    return 0;
  *context = new EncodeContext();
  return 1;
}

TOKEN_EXPORT int WINAPI Ossl_EncodeUpdate(void* context, const uint8_t* in, int in_length,
                                          uint8_t* out, int* out_length) {
  auto* ctx = static_cast<EncodeContext*>(context);
  if (!ctx || in_length < 0 || (in_length && !in))
    return 0;
  const size_t before = ctx->pending.size();
  ctx->pending.insert(ctx->pending.end(), in, in + in_length);
  const size_t lines = ctx->pending.size() / 48 * 48;
  if (!out_length || *out_length < static_cast<int>(lines / 48 * 65)) {
    ctx->pending.resize(before);
    return 0;
  }
  return PutText(EncodeLines(ctx, false), out, out_length);
}

TOKEN_EXPORT int WINAPI Ossl_EncodeFinal(void* context, uint8_t* out, int* out_length) {
  std::unique_ptr<EncodeContext> ctx(static_cast<EncodeContext*>(context));
  if (!ctx)
    return 0;
  return PutText(EncodeLines(ctx.get(), true), out, out_length);
}

TOKEN_EXPORT int WINAPI Ossl_PKCS7_Sign(int algorithm, const uint8_t* data, int data_length,
                                        const uint8_t* signature, int signature_length,
                                        const uint8_t* certificate, int certificate_length,
                                        uint8_t** pkcs7, int* pkcs7_length) {
  const uint32_t code = CodeFromOssl(algorithm);
  if (!data || data_length < 0 || !signature || signature_length <= 0 || !certificate ||
      certificate_length <= 0 || !pkcs7 || !pkcs7_length || !code)
    return 0;
  *pkcs7 = nullptr;
  Bytes before;
  Bytes after;
  const size_t length = static_cast<size_t>(data_length);
  if (!SignedData(code, length, Bytes(signature, signature + signature_length),
                  Bytes(certificate, certificate + certificate_length), &before, &after))
    return 0;
  const size_t total = before.size() + length + after.size();
  if (total > static_cast<size_t>(std::numeric_limits<int>::max()))
    return 0;
  auto* buffer = static_cast<uint8_t*>(std::malloc(total));
  if (!buffer)
    return 0;
  std::memcpy(buffer, before.data(), before.size());
  std::memcpy(buffer + before.size(), data, length);
  std::memcpy(buffer + before.size() + length, after.data(), after.size());
  *pkcs7 = buffer;
  *pkcs7_length = static_cast<int>(total);
  return 1;
}

TOKEN_EXPORT void WINAPI Ossl_PKCS7_free(uint8_t* pkcs7) {
  std::free(pkcs7);
}

TOKEN_EXPORT int WINAPI Ossl_GetCertFromP7(const uint8_t* pkcs7, int pkcs7_length,
                                           const uint8_t* public_key, int public_key_length,
                                           uint8_t* certificate, int* certificate_length) {
  if (!pkcs7 || pkcs7_length <= 0 || !public_key || public_key_length <= 0 || !certificate ||
      !certificate_length)
    return -1;
  Bytes wanted(public_key, public_key + public_key_length);
  if (wanted.size() == 65 && wanted[0] == 0x04)
    wanted.erase(wanted.begin());
  std::vector<Bytes> certs;
  if (!CertificatesOfPkcs7(Bytes(pkcs7, pkcs7 + pkcs7_length), &certs))
    return -1;
  for (const Bytes& cert : certs) {
    CertificateInfo info;
    if (!ParseCertificate(cert, &info) || info.public_key != wanted)
      continue;
    if (*certificate_length < static_cast<int>(cert.size()))
      return -2;
    std::memcpy(certificate, cert.data(), cert.size());
    *certificate_length = static_cast<int>(cert.size());
    return 1;
  }
  return 0;
}

TOKEN_EXPORT int WINAPI Ossl_PackageP10(const uint8_t* subject, int subject_length,
                                        const uint8_t* public_key, int public_key_length,
                                        const uint8_t* signature, int signature_length,
                                        uint32_t digest_algorithm, uint8_t* out, int* out_length) {
  if (!subject || subject_length <= 0 || !public_key || public_key_length <= 0 || !out ||
      !out_length)
    return 0;
  const Bytes pk(public_key, public_key + public_key_length);
  Bytes body, result;
  if (!RequestBody(std::string(subject, subject + subject_length), pk, &body))
    return 0;
  if (!signature || signature_length <= 0) {
    result = body;
  } else if (!RequestWithSignature(body, pk, digest_algorithm,
                                   Bytes(signature, signature + signature_length), &result)) {
    return 0;
  }
  if (*out_length < static_cast<int>(result.size()))
    return 0;
  std::memcpy(out, result.data(), result.size());
  *out_length = static_cast<int>(result.size());
  return 1;
}

TOKEN_EXPORT int WINAPI Ossl_ParseCertDN(const uint8_t* certificate, int length, char* out,
                                         int* out_length) {
  CertificateInfo info;
  if (!ReadCertificate(certificate, length, &info))
    return 0;
  return PutText(info.subject, reinterpret_cast<uint8_t*>(out), out_length);
}

TOKEN_EXPORT int WINAPI Ossl_GetCertPublicKeyN(const uint8_t* certificate, int length, uint8_t* out,
                                               int* out_length) {
  CertificateInfo info;
  if (!ReadCertificate(certificate, length, &info) || !out || !out_length ||
      *out_length < static_cast<int>(info.public_key.size()))
    return 0;
  std::memcpy(out, info.public_key.data(), info.public_key.size());
  *out_length = static_cast<int>(info.public_key.size());
  return 1;
}

TOKEN_EXPORT int WINAPI Ossl_GetHashNID(int algorithm) {
  switch (algorithm) {
    case tk::kOsslMd5:
      return 4;
    case tk::kOsslSha1:
      return 64;
    case tk::kOsslSha256:
      return 672;
    case tk::kOsslSha384:
      return 673;
    case tk::kOsslSha512:
      return 674;
    case tk::kOsslSm3:
      return 1143;
    default:
      return 0;
  }
}

TOKEN_EXPORT int WINAPI ALG_Digest(const uint8_t* data, uint32_t length, uint8_t* out,
                                   int algorithm) {
  static const int kMap[] = {
      0, GCRY_MD_MD5, GCRY_MD_SHA1, GCRY_MD_SHA256, GCRY_MD_SHA384, GCRY_MD_SHA512, GCRY_MD_SM3};
  if ((!data && length) || !out || algorithm < tk::kAlgMd5 || algorithm > tk::kAlgSm3)
    return 0;
  Bytes d;
  if (!Digest(kMap[algorithm], data, length, &d))
    return 0;
  std::memcpy(out, d.data(), d.size());
  return static_cast<int>(d.size());
}

TOKEN_EXPORT uint32_t WINAPI ALG_DesEncrypt(uint8_t* data, uint32_t length, uint32_t capacity,
                                            const uint8_t* key, uint32_t key_length,
                                            uint32_t mode) {
  gcry_cipher_hd_t h = nullptr;
  if (!data || !DesMode(key, key_length, mode, &h))
    return 0;
  std::unique_ptr<gcry_cipher_handle, CipherCloser> cipher(h);
  uint32_t n = length;
  if (mode & tk::kDesPad) {
    const uint8_t pad = static_cast<uint8_t>(8 - length % 8);
    n = length + pad;
    if (n > capacity)
      return 0;
    std::memset(data + length, pad, pad);
  } else if (length % 8 || length == 0) {
    return 0;
  }
  return gcry_cipher_encrypt(h, data, n, nullptr, 0) ? 0 : n;
}

TOKEN_EXPORT uint32_t WINAPI ALG_DesDecrypt(uint8_t* data, uint32_t length, uint32_t capacity,
                                            const uint8_t* key, uint32_t key_length,
                                            uint32_t mode) {
  gcry_cipher_hd_t h = nullptr;
  if (!data || length == 0 || length % 8 || length > capacity ||
      !DesMode(key, key_length, mode, &h))
    return 0;
  std::unique_ptr<gcry_cipher_handle, CipherCloser> cipher(h);
  if (gcry_cipher_decrypt(h, data, length, nullptr, 0))
    return 0;
  if (!(mode & tk::kDesPad))
    return length;
  const uint8_t pad = data[length - 1];
  if (pad == 0 || pad > 8)
    return 0;
  for (uint32_t i = length - pad; i < length; ++i)
    if (data[i] != pad)
      return 0;
  return length - pad;
}

TOKEN_EXPORT int WINAPI SSL_RsaPublic_crypt(const uint8_t* in, int in_length, uint8_t* out,
                                            const uint8_t* modulus, int modulus_length,
                                            const uint8_t* exponent, int exponent_length) {
  if (!in || in_length <= 0 || !out || !modulus || modulus_length <= 0 || !exponent ||
      exponent_length <= 0 || in_length > modulus_length || !CryptoReady())
    return 0;
  gcry_mpi_t m = nullptr, n = nullptr, e = nullptr;
  gcry_mpi_scan(&m, GCRYMPI_FMT_USG, in, static_cast<size_t>(in_length), nullptr);
  gcry_mpi_scan(&n, GCRYMPI_FMT_USG, modulus, static_cast<size_t>(modulus_length), nullptr);
  gcry_mpi_scan(&e, GCRYMPI_FMT_USG, exponent, static_cast<size_t>(exponent_length), nullptr);
  int result = 0;
  if (m && n && e && gcry_mpi_cmp(m, n) < 0) {
    gcry_mpi_t r = gcry_mpi_new(0);
    gcry_mpi_powm(r, m, e, n);
    size_t written = 0;
    uint8_t buf[1024];
    if (gcry_mpi_print(GCRYMPI_FMT_USG, buf, sizeof buf, &written, r) == 0 &&
        written <= static_cast<size_t>(modulus_length)) {
      const size_t lead = static_cast<size_t>(modulus_length) - written;
      std::memset(out, 0, lead);
      std::memcpy(out + lead, buf, written);
      result = modulus_length;
    }
    gcry_mpi_release(r);
  }
  gcry_mpi_release(m);
  gcry_mpi_release(n);
  gcry_mpi_release(e);
  return result;
}
