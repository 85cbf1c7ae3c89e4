// The enrolment request text a bank page hands GMCreatePKCS10, the layout of the key request
// record that carries each request to the key, and the small text rules of enrolment. Windows-free.
//
// Request text: one request, or two joined by "||" (split at the first "||"), each
//   DN(...)HASH(...)KEYTYPE(...)CERTTYPE(...)
// with anything before "DN(" ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace koba::core {

// The most a common name keeps, and the subject buffer of the record.
constexpr size_t kMaxCommonName = 1022;
constexpr size_t kSubjectCapacity = 1024;
constexpr size_t kRequestPublicKeyCapacity = 512;
constexpr size_t kRequestSignatureCapacity = 256;

struct EnrolRequest {
  std::string common_name;
  uint32_t digest_code = 0;       // the key's digest algorithm code
  uint32_t key_bits = 0;          // 256 (SM2), 1024, 2048
  uint32_t certificate_type = 0;  // 1..3
};

// Parses one request. False for every text outside the grammar: a missing part, a DN without
// "CN=" or with an empty common name, an unknown HASH, KEYTYPE or CERTTYPE, and an SM2 key
// asked for certificate type 2.
bool ParseEnrolRequest(std::string_view text, EnrolRequest* request);

// Splits at the first "||" and parses each part; false (and `requests` empty) when any fails.
bool ParseEnrolRequests(std::string_view text, std::vector<EnrolRequest>* requests);

// Offsets of the key request record (packed) for a pointer width of 4 or 8 bytes.
struct KeyRequestLayout {
  size_t size, key_id, certificate_type, key_bits, digest_algorithm, public_key_length, public_key,
      reserved, subject_length, subject, signature_length, signature, total;
};
constexpr KeyRequestLayout KeyRequestLayoutFor(size_t pointer_bytes) {
  return {0,
          4,
          8,
          12,
          16,
          20,
          24,
          24 + pointer_bytes,
          25 + pointer_bytes,
          29 + pointer_bytes,
          29 + 2 * pointer_bytes,
          33 + 2 * pointer_bytes,
          33 + 3 * pointer_bytes};
}

// The label of a new key pair's objects: "{%08X-%04X-%04x}" of a GUID's first three fields.
std::string KeyLabel(uint32_t data1, uint16_t data2, uint16_t data3);

// The token library's Base64 without the line break after every 64 characters and any at the
// end.
std::string WithoutLineBreaks(std::string_view base64);

// Where VexloT_ExportPairKey's blob keeps the public key: `length` bytes from `offset`. False
// when the blob is too short for what its header says.
bool ExportedPublicKey(const uint8_t* blob, size_t blob_length, size_t* offset, size_t* length);

}  // namespace koba::core
