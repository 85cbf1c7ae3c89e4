#include "token_objects.h"

#include <cstring>

namespace Vexlo {
namespace {

class Writer {
 public:
  explicit Writer(size_t capacity) { bytes_.reserve(capacity); }

  void Put(uint32_t type, const void* value, size_t length) {
    PutU32(type);
    PutU32(static_cast<uint32_t>(length));
    const auto* p = static_cast<const uint8_t*>(value);
    bytes_.insert(bytes_.end(), p, p + length);
  }
  void PutByte(uint32_t type, uint8_t value) { Put(type, &value, 1); }
  void PutWord(uint32_t type, uint32_t value) {
    uint8_t le[4];
    for (int i = 0; i < 4; ++i)
      le[i] = static_cast<uint8_t>(value >> (8 * i));
    Put(type, le, 4);
  }
  // A text value with its terminating NUL.
  void PutText(uint32_t type, const char* text) { Put(type, text, std::strlen(text) + 1); }

  Bytes Take() { return std::move(bytes_); }

 private:
  void PutU32(uint32_t v) {
    for (int i = 0; i < 4; ++i)
      bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  Bytes bytes_;
};

constexpr uint8_t kTokenObject = 1;
constexpr uint8_t kPublicExponent[] = {0x01, 0x00, 0x01};

}  // namespace

Bytes CTokenStruct::NamesObject(const char* label, size_t label_length) {
  Writer w(NamesCapacity(label_length));
  w.PutWord(kAttrClass, kClassData);
  w.Put(kAttrObjectLabel, label, label_length);
  w.PutByte(kAttrToken, kTokenObject);
  w.PutByte(kAttrKeySpec, kNamesKeySpec);
  w.PutText(kAttrValue, kNamesValue);
  return w.Take();
}

Bytes CTokenStruct::PublicKeyObject(const char* label, size_t label_length, uint8_t key_id,
                                    uint8_t key_spec, uint8_t certificate_type,
                                    const uint8_t* public_key, size_t public_key_length,
                                    uint32_t key_algorithm) {
  Writer w(PublicKeyCapacity(label_length, public_key_length));
  w.PutWord(kAttrClass, kClassPublicKey);
  w.Put(kAttrObjectLabel, label, label_length);
  w.PutByte(kAttrCertificateType, certificate_type);
  w.PutByte(kAttrKeySpec, key_spec);
  w.PutByte(kAttrKeyId, key_id);
  const bool rsa = key_algorithm == kKeyAlgorithmRsa;
  if (rsa) {
    w.Put(kAttrPublicExponent, kPublicExponent, sizeof kPublicExponent);
    w.PutWord(kAttrModulusBits, static_cast<uint32_t>(public_key_length * 8));
    w.Put(kAttrModulus, public_key, public_key_length);
  } else {
    w.Put(kAttrEcPoint, public_key, public_key_length);
  }
  w.PutWord(kAttrKeyType, rsa ? kKeyTypeRsa : kKeyTypeEc);
  w.Put(kAttrId, label, label_length);
  w.PutText(kAttrLabel, "pubkey");
  w.PutByte(kAttrToken, kTokenObject);
  return w.Take();
}

Bytes CTokenStruct::PrivateKeyObject(const char* label, size_t label_length, uint8_t key_id,
                                     uint8_t key_spec, uint8_t certificate_type,
                                     uint32_t key_algorithm) {
  Writer w(PrivateKeyCapacity(label_length));
  w.PutWord(kAttrClass, kClassPrivateKey);
  w.Put(kAttrObjectLabel, label, label_length);
  w.PutByte(kAttrCertificateType, certificate_type);
  w.PutByte(kAttrKeySpec, key_spec);
  w.PutByte(kAttrKeyId, key_id);
  w.PutWord(kAttrKeyType, key_algorithm == kKeyAlgorithmRsa ? kKeyTypeRsa : kKeyTypeEc);
  w.Put(kAttrId, label, label_length);
  w.PutText(kAttrLabel, "prikey");
  w.PutByte(kAttrToken, kTokenObject);
  return w.Take();
}

Bytes CTokenStruct::CertificateObject(const char* container, size_t container_length,
                                      uint8_t key_type, uint8_t key_spec, uint8_t certificate_kind,
                                      const uint8_t* certificate, size_t certificate_length) {
  Writer w(CertificateCapacity(container_length, certificate_length));
  w.PutWord(kAttrClass, kClassCertificate);
  w.Put(kAttrObjectLabel, container, container_length);
  w.PutByte(kAttrCertificateType, certificate_kind);
  w.PutByte(kAttrKeySpec, key_spec);
  w.PutByte(kAttrKeyId, key_type);
  w.Put(kAttrValue, certificate, certificate_length);
  w.Put(kAttrId, container, container_length);
  w.PutText(kAttrLabel, "cert");
  w.PutByte(kAttrToken, kTokenObject);
  return w.Take();
}

bool ParseAttributes(const uint8_t* object, size_t length, std::vector<Attribute>* out) {
  out->clear();
  size_t pos = 0;
  while (pos < length) {
    if (length - pos < 8)
      return false;
    uint32_t type = 0, n = 0;
    for (int i = 0; i < 4; ++i) {
      type |= static_cast<uint32_t>(object[pos + i]) << (8 * i);
      n |= static_cast<uint32_t>(object[pos + 4 + i]) << (8 * i);
    }
    pos += 8;
    if (n > length - pos)
      return false;
    out->push_back(Attribute{type, {object + pos, n}});
    pos += n;
  }
  return true;
}

}  // namespace Vexlo
