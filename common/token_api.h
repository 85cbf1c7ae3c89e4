// Call shapes of the token library Q2Token_koba.dll: the entry points, their statuses, the
// device parameters and the records that cross the library boundary. The token core, the PIN
// pad, the tray monitor and the virtual key all compile against these declarations, so a
// mismatch between caller and library fails to build.
//
// Every entry point uses the Windows standard calling convention and is exported by its plain
// name. Handles: a slot number from VexloT_GetSlotList; calls on the opened device pass
// slot | kTokenHandleFlag, except VexloT_GetDeviceInfo, VexloT_GetRandBytes and VexloT_Logout.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define KOBA_TOKEN_CALL __stdcall
#else
#define KOBA_TOKEN_CALL
#endif

namespace koba::token {

constexpr uint32_t kTokenHandleFlag = 0x20000000;
constexpr uint32_t kSlotListCapacity = 16;  // callers reserve 16 slots and pass a count of 10
constexpr uint32_t kSlotListCount = 10;

// Statuses (unsigned 32-bit; 0 is success).
constexpr uint32_t kOk = 0;
constexpr uint32_t kStatusCancelled = static_cast<uint32_t>(-100);  // the user refused
constexpr uint32_t kStatusNoDevice = 0x8010002E;                    // key absent or removed
constexpr uint32_t kStatusBufferTooSmall = 0x80100008;
constexpr uint32_t kStatusNoMemory = 0xE0110004;  // no room on the key for another key pair
constexpr uint32_t kStatusBadArgument = 0xE0110005;
constexpr uint32_t kStatusUnsupported = 0xE0110006;  // unknown parameter id or algorithm
constexpr uint32_t kStatusNotLoggedIn = 0xE0110007;
constexpr uint32_t kStatusNotFound = 0xE0110008;  // no key pair, object or container
constexpr uint32_t kStatusTimeout = 0xE011000F;   // the button was not pressed in time
constexpr uint32_t kStatusPinWrong = 0xE0110010;  // + tries left; 0xE0110010 itself: locked
constexpr uint32_t kStatusPinLocked = kStatusPinWrong;
constexpr uint32_t kStatusPinWrongLast = 0xE011001E;
constexpr uint32_t kStatusEnvironment = 0xE011FFFE;  // the device session was torn down
constexpr uint32_t kStatusDeviceError = 0xE011FFFD;  // any other device failure

// User type passed to VexloT_Login, VexloT_ChangePin and VexloT_InitToken.
constexpr uint32_t kUserTypeUser = 0xE0000002;

// Device parameters of VexloT_ManTokenParam(handle, id, data). The data's shape per id:
enum ParamId : uint32_t {
  kParamLabel = 1,                   // write: NUL-terminated UTF-8 label, at most 32 bytes
  kParamPinInfo = 5,                 // read: 8 bytes; [0] max tries, [1] locked, [2] tries left
  kParamPublicKeyRequest = 11,       // write/read: 2048-byte request block (GMGetPublicKeyC)
  kParamAdminKeyList = 12,           // read: key list, up to kKeyListCapacity bytes
  kParamUserKeyList = 13,            // read: key list, up to kKeyListCapacity bytes
  kParamRsaKeyList = 14,             // read: the RSA keys' moduli, same layout
  kParamAdminInfo = 19,              // read: 20 bytes of text
  kParamLanguage = 21,               // write: uint16 language index
  kParamCharsetWrite = 22,           // write: 1 byte, 0 GBK, 1 UTF-8
  kParamCharsetRead = 24,            // read: int32 text encoding (0 GB18030, 1 UTF-8)
  kParamLanguageMask = 25,           // read: int32 language support mask
  kParamCharsetFlags = 26,           // read: int32 (0x100 GBK, 0x200 UTF-8)
  kParamDisplayFlags = 33,           // read: 1 byte; bit 0x20: the key can use the font library
  kParamFontLibrary = 34,            // write: 0 or 1, as the data argument itself or pointed to
  kParamUsbModeWrite = 302,          // write: first byte 0 CD-ROM class, 0x80 HID
  kParamUsbModeRead = 303,           // read: uint32 mode (0, 0x42, 0x43 CD-ROM class; 0x80 HID)
  kParamChanged = 100002,            // write: int32 1 after keys or certificates changed
  kParamContainersRead = 100101,     // command, no data: the caller finished reading containers
  kParamDeviceChanged = 100102,      // read: uint32, 1 when the key set changed since this
                                     // process last asked; any handle, 0 too
  kParamResetAfterFailure = 100103,  // command, plain slot, no data
  kParamStillPresent = 100203,       // command, plain slot, no data: 0 while the key is present
  kParamToolStart = 100204,          // command, no data; any handle, 0 too
  kParamAdminFlag = 100303,          // read: int32 1 administrator key, 0 user key
  kParamIdentifierString = 100401,   // read: NUL-terminated text, kIdentifierStringCapacity
  kParamDeviceValue = 100405,        // read: 8 bytes for the PIN dialogs
};

constexpr size_t kKeyListCapacity = 5160;
constexpr size_t kPublicKeyRequestSize = 2048;
constexpr size_t kAdminInfoSize = 20;
constexpr size_t kIdentifierStringCapacity = 64;
constexpr size_t kDeviceValueSize = 8;
constexpr size_t kLabelCapacity = 33;

// Language support mask bits and charset flags (parameters 25 and 26).
constexpr uint32_t kCharsetGbk = 0x100;
constexpr uint32_t kCharsetUtf8 = 0x200;

// Device-information record filled by VexloT_GetDeviceInfo(slot, flags, record).
namespace devinfo {
constexpr size_t kSize = 577;
constexpr size_t kReserve = 600;     // callers' buffer
constexpr size_t kRecordSize = 0;    // uint32, set to 577 by the library
constexpr size_t kManufacturer = 4;  // 32 bytes ASCII, NUL padded
constexpr size_t kDeviceId = 40;     // 16 bytes, used in container paths
constexpr size_t kLabel = 56;        // 33 bytes UTF-8, NUL padded
constexpr size_t kLabelSize = 33;
constexpr size_t kModelCode = 136;  // 4 ASCII characters
constexpr size_t kTotalSize = 140;  // uint32 bytes of storage
constexpr size_t kFreeSize = 144;   // uint32 bytes free
constexpr size_t kSerial = 248;     // 16 bytes ASCII, space padded
constexpr size_t kSerialSize = 16;
constexpr size_t kContainerCount = 264;   // uint32
constexpr size_t kLanguage = 340;         // uint16 language index
constexpr size_t kMaxTries = 389;         // uint8
constexpr size_t kTriesLeft = 390;        // uint8; 0: PIN locked
constexpr uint32_t kFlagSizes = 0x80000;  // flags value of the key-information view
}  // namespace devinfo

// Digest algorithm codes of the sign request and key request records.
constexpr uint32_t kDigestMd5 = 0x10000;
constexpr uint32_t kDigestSha1 = 0x20000;
constexpr uint32_t kDigestSha256 = 0x40000;
constexpr uint32_t kDigestSha384 = 0x80000;
constexpr uint32_t kDigestSha512 = 0x100000;
constexpr uint32_t kDigestSm3 = 0x400000;

// Algorithm numbers of Ossl_DigestInit, Ossl_PKCS7_Sign and Ossl_GetHashNID.
constexpr int kOsslMd5 = 2;
constexpr int kOsslSha1 = 3;
constexpr int kOsslSha256 = 4;
constexpr int kOsslSha384 = 5;
constexpr int kOsslSha512 = 6;
constexpr int kOsslSm3 = 8;
constexpr int kOsslCipherDesEde3Cbc = 10;  // 24-byte key, 8-byte IV

// Algorithm numbers of ALG_Digest; it returns the digest length (0 on failure).
constexpr int kAlgMd5 = 1;
constexpr int kAlgSha1 = 2;
constexpr int kAlgSha256 = 3;
constexpr int kAlgSha384 = 4;
constexpr int kAlgSha512 = 5;
constexpr int kAlgSm3 = 6;
// Modes of ALG_DesEncrypt / ALG_DesDecrypt: low byte the cipher, kDesPad adds or removes
// PKCS#7 padding (without it the length must be a multiple of 8).
constexpr uint32_t kDesEcb = 1;   // 8-byte key
constexpr uint32_t kDesCbc = 2;   // 8-byte key, zero IV
constexpr uint32_t kDes3Cbc = 5;  // 16- or 24-byte key, zero IV
constexpr uint32_t kDes3Ecb = 6;  // 16- or 24-byte key
constexpr uint32_t kDesPad = 0x80000000;

// Key algorithms and key specs as the CSP and the records report them.
constexpr uint32_t kKeyAlgRsa = 1;
constexpr uint32_t kKeyAlgSm2 = 2;
constexpr uint32_t kKeySpecExchange = 1;
constexpr uint32_t kKeySpecSignature = 2;

// Object classes of VexloT_CreateObject.
constexpr uint32_t kObjectClassKey = 2;
constexpr uint32_t kObjectClassCertificate = 130;
constexpr uint32_t kExportPublicKey = 0x20000;  // VexloT_ExportPairKey blob type

#if defined(_WIN32)
#pragma pack(push, 4)
#endif
// Sign request record of VexloT_RsaSign_koba: 44 bytes in a 32-bit process, 56 in a 64-bit one.
struct SignRequest {
  uint32_t size;
  uint32_t key_type;
  uint32_t key_algorithm;
  uint32_t certificate_kind;
  uint32_t digest_algorithm;
  const uint8_t* data;
  uint32_t data_length;
  const uint8_t* public_key;
  uint32_t public_key_length;
  uint32_t signature_length;  // in: capacity (300); out: bytes written
  uint8_t* signature;
};
#if defined(_WIN32)
#pragma pack(pop)
#endif

#pragma pack(push, 1)
// Key request record of VexloT_GeneratePairKeyEx (and the core's request building):
// 45 bytes in a 32-bit process, 57 in a 64-bit one.
struct KeyRequest {
  uint32_t size;
  uint8_t key_id[4];
  uint32_t certificate_type;
  uint32_t key_bits;  // 256 (SM2), 1024, 2048
  uint32_t digest_algorithm;
  uint32_t public_key_length;  // in: 512
  uint8_t* public_key;         // RSA: modulus; SM2: 04 || X || Y
  uint8_t reserved;
  uint32_t subject_length;
  uint8_t* subject;           // the common name
  uint32_t signature_length;  // in: 256
  uint8_t* signature;         // the device's signature over the request body
};
#pragma pack(pop)

#if defined(_WIN32)
static_assert(sizeof(void*) == 4 ? sizeof(SignRequest) == 44 : sizeof(SignRequest) == 56,
              "sign request record layout");
static_assert(sizeof(void*) == 4 ? sizeof(KeyRequest) == 45 : sizeof(KeyRequest) == 57,
              "key request record layout");
static_assert(offsetof(KeyRequest, subject_length) == (sizeof(void*) == 4 ? 29 : 33),
              "key request subject length offset");
static_assert(offsetof(KeyRequest, signature) == (sizeof(void*) == 4 ? 41 : 49),
              "key request signature offset");
#endif

// GenKeyWaitHandle and PinpadParam belong to the PIN pad library; the token library needs none.

extern "C" {
typedef uint32_t(KOBA_TOKEN_CALL* PFN_VexloT_GetSlotList)(uint32_t present_only, uint32_t* slots,
                                                          uint32_t* count);
typedef uint32_t(KOBA_TOKEN_CALL* PFN_VexloT_GetDeviceInfo)(uint32_t slot, uint32_t flags,
                                                            uint8_t* record);
typedef uint32_t(KOBA_TOKEN_CALL* PFN_VexloT_ManTokenParam)(uint32_t handle, uint32_t id,
                                                            void* data);
typedef int32_t(KOBA_TOKEN_CALL* PFN_VexloT_GetRandBytes)(uint32_t slot, uint8_t* out,
                                                          uint32_t length);
typedef uint32_t(KOBA_TOKEN_CALL* PFN_VexloT_Logout)(uint32_t slot, uint32_t user_type);
// The PIN functions the PIN pad runs with the entered PIN(s); the PIN never comes back.
typedef uint32_t(KOBA_TOKEN_CALL* PFN_VexloT_Login)(uint32_t handle, uint32_t user_type,
                                                    const char* pin, uint32_t pin_length);
typedef uint32_t(KOBA_TOKEN_CALL* PFN_VexloT_ChangePin)(uint32_t handle, uint32_t user_type,
                                                        const char* old_pin, uint32_t old_length,
                                                        const char* new_pin, uint32_t new_length);
typedef uint32_t(KOBA_TOKEN_CALL* PFN_VexloT_InitToken)(uint32_t handle, uint32_t user_type,
                                                        const char* new_pin, uint32_t new_length);
// key_id receives 4 bytes of which the first is the new key pair's id.
typedef uint32_t(KOBA_TOKEN_CALL* PFN_VexloT_GeneratePairKey)(uint32_t handle, uint8_t* key_id,
                                                              uint32_t key_bits, uint32_t reserved1,
                                                              uint32_t reserved2);
typedef uint32_t(KOBA_TOKEN_CALL* PFN_VexloT_GeneratePairKeyEx)(uint32_t handle, uint32_t count,
                                                                KeyRequest* requests,
                                                                void* reserved1, void* reserved2);
// Blob: uint32 algorithm, uint32 public-key length L, ...; the L public-key bytes start at
// offset (returned length / 3).
typedef uint32_t(KOBA_TOKEN_CALL* PFN_VexloT_ExportPairKey)(uint32_t handle, uint32_t key_id,
                                                            uint32_t blob_type, uint8_t* blob,
                                                            uint32_t* length);
typedef uint32_t(KOBA_TOKEN_CALL* PFN_VexloT_CreateObject)(uint32_t handle, uint32_t object_class,
                                                           uint32_t* object_handle,
                                                           const uint8_t* object, uint32_t length,
                                                           uint32_t flags);
// Signs a digest: RSA PKCS#1 v1.5 (DigestInfo of the digest code), SM2 (r, s) in DER.
typedef uint32_t(KOBA_TOKEN_CALL* PFN_VexloT_RsaSign)(uint32_t handle, uint32_t key_id,
                                                      uint32_t digest_algorithm,
                                                      const uint8_t* digest, uint32_t digest_length,
                                                      uint8_t* signature,
                                                      uint32_t* signature_length);
typedef uint32_t(KOBA_TOKEN_CALL* PFN_VexloT_RsaSign_koba)(uint32_t handle, SignRequest* request);

// Ossl_ functions return 1 on success and 0 (or a negative value) on failure.
typedef int(KOBA_TOKEN_CALL* PFN_Ossl_DigestInit)(void** context, int algorithm);
typedef int(KOBA_TOKEN_CALL* PFN_Ossl_DigestUpdate)(void* context, const uint8_t* data, int length);
// Writes the digest, sets *length and frees the context.
typedef int(KOBA_TOKEN_CALL* PFN_Ossl_DigestFinal)(void* context, uint8_t* digest, int* length);
typedef int(KOBA_TOKEN_CALL* PFN_Ossl_EncryptInit)(void** context, int cipher, const uint8_t* key,
                                                   const uint8_t* iv);
typedef int(KOBA_TOKEN_CALL* PFN_Ossl_EncryptUpdate)(void* context, const uint8_t* in,
                                                     int in_length, uint8_t* out, int* out_length);
// Writes the last (padded) block, sets *out_length and frees the context.
typedef int(KOBA_TOKEN_CALL* PFN_Ossl_EncryptFinal)(void* context, uint8_t* out, int* out_length);
typedef PFN_Ossl_EncryptInit PFN_Ossl_DecryptInit;
typedef PFN_Ossl_EncryptUpdate PFN_Ossl_DecryptUpdate;
typedef PFN_Ossl_EncryptFinal PFN_Ossl_DecryptFinal;
// Base64 with a line feed after every 64 characters; *out_length: in capacity, out used
// (without a terminator; one is written when room is left).
typedef int(KOBA_TOKEN_CALL* PFN_Ossl_Base64_Encode)(const uint8_t* in, int in_length, uint8_t* out,
                                                     int* out_length);
// Accepts line breaks anywhere.
typedef int(KOBA_TOKEN_CALL* PFN_Ossl_Base64_Decode)(const uint8_t* in, int in_length, uint8_t* out,
                                                     int* out_length);
// Base64 of a file's content, without line breaks.
typedef int(KOBA_TOKEN_CALL* PFN_Ossl_Base64_P7_FileData)(const uint8_t* in, int in_length,
                                                          uint8_t* out, int* out_length);
// Streaming Base64 (line feed after every 64 characters).
typedef int(KOBA_TOKEN_CALL* PFN_Ossl_EncodeInit)(void** context);
typedef int(KOBA_TOKEN_CALL* PFN_Ossl_EncodeUpdate)(void* context, const uint8_t* in, int in_length,
                                                    uint8_t* out, int* out_length);
typedef int(KOBA_TOKEN_CALL* PFN_Ossl_EncodeFinal)(void* context, uint8_t* out, int* out_length);
// PKCS#7 signed data over the record, with the certificate; *pkcs7 is released with
// Ossl_PKCS7_free. *pkcs7_length: in the caller's size hint, out the DER length.
typedef int(KOBA_TOKEN_CALL* PFN_Ossl_PKCS7_Sign)(int algorithm, const uint8_t* data,
                                                  int data_length, const uint8_t* signature,
                                                  int signature_length, const uint8_t* certificate,
                                                  int certificate_length, uint8_t** pkcs7,
                                                  int* pkcs7_length);
typedef void(KOBA_TOKEN_CALL* PFN_Ossl_PKCS7_free)(uint8_t* pkcs7);
// 1: the message holds the certificate of this public key (copied out); 0: it does not;
// negative: the message cannot be parsed or the buffer is too small.
typedef int(KOBA_TOKEN_CALL* PFN_Ossl_GetCertFromP7)(const uint8_t* pkcs7, int pkcs7_length,
                                                     const uint8_t* public_key,
                                                     int public_key_length, uint8_t* certificate,
                                                     int* certificate_length);
// DER PKCS#10 for CN=subject. Without a signature (null or length 0) the output is the
// request body that is to be signed; with one the whole request. The public key is an RSA
// modulus (128 or 256 bytes) or an SM2 point (64 bytes, or 65 starting with 04).
typedef int(KOBA_TOKEN_CALL* PFN_Ossl_PackageP10)(const uint8_t* subject, int subject_length,
                                                  const uint8_t* public_key, int public_key_length,
                                                  const uint8_t* signature, int signature_length,
                                                  uint32_t digest_algorithm, uint8_t* out,
                                                  int* out_length);
// Subject DN as text ("CN=..., O=...", encoding order); *out_length as Base64.
typedef int(KOBA_TOKEN_CALL* PFN_Ossl_ParseCertDN)(const uint8_t* certificate, int length,
                                                   char* out, int* out_length);
// Raw public key of a certificate: RSA modulus or SM2 X || Y.
typedef int(KOBA_TOKEN_CALL* PFN_Ossl_GetCertPublicKeyN)(const uint8_t* certificate, int length,
                                                         uint8_t* out, int* out_length);
// OpenSSL NID of an algorithm number (kOssl*), 0 when unknown.
typedef int(KOBA_TOKEN_CALL* PFN_Ossl_GetHashNID)(int algorithm);

// Returns the digest length, 0 on failure.
typedef int(KOBA_TOKEN_CALL* PFN_ALG_Digest)(const uint8_t* data, uint32_t length, uint8_t* out,
                                             int algorithm);
// In place; returns the new length, 0 on failure (bad key, padding or capacity).
typedef uint32_t(KOBA_TOKEN_CALL* PFN_ALG_DesEncrypt)(uint8_t* data, uint32_t length,
                                                      uint32_t capacity, const uint8_t* key,
                                                      uint32_t key_length, uint32_t mode);
typedef PFN_ALG_DesEncrypt PFN_ALG_DesDecrypt;
// Raw RSA public operation in^e mod n (big-endian); returns the output length (the modulus
// length), 0 on failure.
typedef int(KOBA_TOKEN_CALL* PFN_SSL_RsaPublic_crypt)(const uint8_t* in, int in_length,
                                                      uint8_t* out, const uint8_t* modulus,
                                                      int modulus_length, const uint8_t* exponent,
                                                      int exponent_length);
}

}  // namespace koba::token
