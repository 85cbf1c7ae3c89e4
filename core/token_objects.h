// The objects the key keeps beside its key pairs: the names object that ties a key pair to its
// label, the public-key and private-key objects, and the certificate object. Each is a list of
// attributes (32-bit type, 32-bit length, value) laid end to end, handed to
// VexloT_CreateObject. Windows-free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace Vexlo {

// Attribute types: the object classes and numbering follow PKCS#11; the 0x8000000x types are
// the key's own.
enum AttributeType : uint32_t {
  kAttrClass = 0,
  kAttrToken = 1,
  kAttrLabel = 3,
  kAttrValue = 0x11,
  kAttrKeyType = 0x100,
  kAttrId = 0x102,
  kAttrModulus = 0x120,
  kAttrModulusBits = 0x121,
  kAttrPublicExponent = 0x122,
  kAttrEcPoint = 0x181,
  kAttrKeyId = 0x80000002,
  kAttrKeySpec = 0x80000003,
  kAttrObjectLabel = 0x80000004,
  kAttrCertificateType = 0x80000006,
};

enum ObjectClass : uint32_t {
  kClassData = 0,
  kClassCertificate = 1,
  kClassPublicKey = 2,
  kClassPrivateKey = 3,
};

// Key algorithms of the builders' callers (1 RSA, 2 SM2) and the stored key types.
constexpr uint32_t kKeyAlgorithmRsa = 1;
constexpr uint32_t kKeyTypeRsa = 0;
constexpr uint32_t kKeyTypeEc = 3;

// The names object's key-spec mark and value.
constexpr uint8_t kNamesKeySpec = 0xD7;
constexpr char kNamesValue[] = "vexlo-names";

using Bytes = std::vector<uint8_t>;

class CTokenStruct {
 public:
  // Each builder returns the encoded object; its size is the length passed on.
  static Bytes NamesObject(const char* label, size_t label_length);
  // An RSA public key (key algorithm 1) is its modulus, stored with exponent 65537 and its
  // bit count; any other algorithm stores the key as an EC point.
  static Bytes PublicKeyObject(const char* label, size_t label_length, uint8_t key_id,
                               uint8_t key_spec, uint8_t certificate_type,
                               const uint8_t* public_key, size_t public_key_length,
                               uint32_t key_algorithm);
  static Bytes PrivateKeyObject(const char* label, size_t label_length, uint8_t key_id,
                                uint8_t key_spec, uint8_t certificate_type, uint32_t key_algorithm);
  static Bytes CertificateObject(const char* container, size_t container_length, uint8_t key_type,
                                 uint8_t key_spec, uint8_t certificate_kind,
                                 const uint8_t* certificate, size_t certificate_length);

  // The capacity each object's buffer is reserved with.
  static size_t NamesCapacity(size_t label_length) { return label_length + 58; }
  static size_t PublicKeyCapacity(size_t label_length, size_t key_length) {
    return key_length + 2 * label_length + 152;
  }
  static size_t PrivateKeyCapacity(size_t label_length) { return 2 * label_length + 121; }
  static size_t CertificateCapacity(size_t name_length, size_t certificate_length) {
    return certificate_length + 2 * name_length + 85;
  }
};

// One attribute of an encoded object.
struct Attribute {
  uint32_t type = 0;
  std::basic_string_view<uint8_t> value;
};

// Splits an encoded object into its attributes; false when a length runs past the end.
bool ParseAttributes(const uint8_t* object, size_t length, std::vector<Attribute>* out);

}  // namespace Vexlo
