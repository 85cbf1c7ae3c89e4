// The bytes a key signs for GMUsbKeySign and the records that carry them: digest names, the
// conversion of the page's texts into the key's text encoding, the file part, the two forms of
// the signing record and the sign request record handed to the token library. Windows-free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace koba::core {

// A digest the key can sign with: the record's algorithm code, the number Ossl_DigestInit and
// Ossl_PKCS7_Sign take, and the digest's length in bytes.
struct DigestChoice {
  uint32_t code = 0;
  int ossl_algorithm = 0;
  size_t length = 0;
};

// Maps a digest name ("SM3", "SHA1", "SHA256", "SHA384", "SHA512", any case). An empty name
// picks by the key's algorithm: SHA1 for RSA (1), SM3 for SM2 (2). Returns false for any other
// name, and for an empty name on a key of another algorithm.
bool LookupDigest(std::string_view name, uint32_t key_algorithm, DigestChoice* choice);

// The Ossl_ algorithm number of a record's algorithm code; codes not listed give SHA1's.
int OsslAlgorithmOfCode(uint32_t code);

// Device text encodings (device parameter 24).
constexpr int kTextGb18030 = 0;
constexpr int kTextUtf8 = 1;

// Converts UTF-8 text into the key's text encoding. Returns false for an unknown encoding or
// text that is not well-formed UTF-8 (or has no GB18030 form), leaving `out` empty.
bool ToDeviceText(std::string_view utf8, int encoding, std::string* out);

// Largest value each decimal field of the file part holds.
constexpr uint64_t kFilePartLengthLimit = 99999999;

// The file part: 16-digit N + C + 16, 8-digit N + C + 8, 8-digit N, the path text (N bytes),
// then the content's Base64 (C bytes). Returns false, leaving `out` empty, when a length does
// not fit its field (the record would be ambiguous).
bool BuildFilePart(std::string_view path, std::string_view content_base64, std::string* out);

enum class RecordForm {
  kText,    // "11" and 10 decimal digits per item, XML, key information, file part
  kBinary,  // tag byte, 4 zero bytes, 32-bit big-endian length; XML, file part, key information
};

// The signing record. Returns false, leaving `out` empty, when the lengths exceed what the
// form's length fields hold.
bool BuildSigningRecord(RecordForm form, std::string_view xml, std::string_view key_info,
                        std::string_view file_part, std::string* out);

// The form a key wants: binary for an administrator key (device parameter 100303 non-zero)
// signing with its special certificate (kind 1), text otherwise.
RecordForm RecordFormFor(int32_t admin_flag, uint32_t certificate_kind);

// Capacity of the signature buffer of the sign request record.
constexpr uint32_t kSignatureCapacity = 300;

// The sign request record's field values; pointers as plain addresses.
struct SignRequestFields {
  uint32_t key_type = 0;
  uint32_t key_algorithm = 0;
  uint32_t certificate_kind = 0;
  uint32_t digest_algorithm = 0;
  uint64_t data = 0;
  uint32_t data_length = 0;
  uint64_t public_key = 0;
  uint32_t public_key_length = 0;
  uint32_t signature_length = kSignatureCapacity;
  uint64_t signature = 0;
};

// Size of the sign request record for a pointer width of 4 or 8 bytes (44 or 56).
constexpr size_t SignRequestSize(size_t pointer_width) {
  return 8 * 4 + 3 * pointer_width;
}

// The record's bytes as a process of that pointer width lays them out (little-endian, 32-bit
// fields, pointers packed on 4-byte boundaries, the size field set). Empty for a width other
// than 4 or 8, or an address that does not fit the width.
std::vector<uint8_t> EncodeSignRequest(const SignRequestFields& fields, size_t pointer_width);

}  // namespace koba::core
