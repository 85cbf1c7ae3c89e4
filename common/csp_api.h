// Call shapes of the key's CryptoAPI provider Q2CSP_KOBA.dll ("Korvanet Vexlo CSP KOBA v1.0"):
// the CSP entry points the system calls directly, the private provider parameters and their
// records, and the container path forms.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define KOBA_CSP_CALL __stdcall
#else
#define KOBA_CSP_CALL
#endif

namespace koba::csp {

constexpr char kProviderName[] = "Korvanet Vexlo CSP KOBA v1.0";
// Reader path (slot number) and container prefix (16-character device identifier); a
// container's full name is either one followed by the container name.
constexpr char kReaderPathFormat[] = "\\\\.\\Korvanet VexloToken %d\\";
constexpr char kContainerPrefixFormat[] = "\\\\.\\Korvanet %s\\";

constexpr uint32_t kProviderTableSize = 24;  // zero bytes handed to CPAcquireContext
constexpr uint32_t kAcquireEnumerate = 0xF0000000;
constexpr uint32_t kParamEnumContainers = 2;  // PP_ENUMCONTAINERS
constexpr uint32_t kEnumFirst = 1;            // CRYPT_FIRST
constexpr uint32_t kEnumNameCapacity = 256;
constexpr uint32_t kParamKeyInfo = 0x10004;
constexpr uint32_t kParamDeleteKey = 0x10005;
constexpr uint32_t kParamDeleteBatch = 0x10006;
constexpr uint32_t kParamListBatch = 0x10007;
constexpr uint32_t kKeyParamCertificate = 26;  // KP_CERTIFICATE
constexpr uint32_t kPublicKeyBlob = 6;         // PUBLICKEYBLOB

// Last errors the provider sets.
constexpr uint32_t kErrorNoProvider = 0x8009001D;    // NTE_PROVIDER_DLL_FAIL
constexpr uint32_t kErrorBadKeyset = 0x80090016;     // NTE_BAD_KEYSET: no such container or key
constexpr uint32_t kErrorNoKey = 0x8009000D;         // NTE_NO_KEY
constexpr uint32_t kErrorBadType = 0x8009000A;       // NTE_BAD_TYPE: unknown parameter
constexpr uint32_t kErrorMoreData = 234;             // ERROR_MORE_DATA
constexpr uint32_t kErrorNoMoreItems = 259;          // ERROR_NO_MORE_ITEMS
constexpr uint32_t kErrorNotSupported = 0x80090029;  // NTE_NOT_SUPPORTED
constexpr uint32_t kErrorCancelled = 0x8010006E;     // SCARD_W_CANCELLED_BY_USER
constexpr uint32_t kErrorTimeout = 0x80100007;
constexpr uint32_t kErrorNoDevice = 0x8010002E;
constexpr uint32_t kErrorLocked = 0x8010006C;

// Record of private parameter 0x10004 (CPGetProvParam(context, 0x10004, record, &key_spec, 0)).
// 36 bytes in a 32-bit process, 56 in a 64-bit one.
struct KeyInfoRecord {
  uint32_t size;
  uint32_t key_spec;
  uint32_t certificate_kind;   // 1: the key's special certificate; 3: skipped for admin signing
  uint32_t key_algorithm;      // 1 RSA, 2 SM2
  uint32_t key_type;           // the key pair's id byte
  uint8_t* public_key;         // RSA modulus or SM2 X || Y
  uint32_t public_key_length;  // in: capacity; out: bytes
  uint8_t* certificate;
  uint32_t certificate_length;  // in: capacity; out: bytes (0: no certificate)
};

// Batch record of private parameters 0x10006 (delete) and 0x10007 (list), passed with a null
// context and the address of its size. 44 bytes in a 32-bit process, 72 in a 64-bit one.
//   delete: list = entries of a length byte and a container name (reader path + name or the
//           bare name), the last one NUL-terminated; key_types/key_specs one byte per entry.
//   list:   the provider writes the container names as consecutive NUL-terminated strings
//           ended by an empty one, and per container one byte each of key type, key spec,
//           certificate kind and key algorithm (its first key pair); count = containers.
struct BatchRecord {
  uint32_t slot;
  uint8_t* list;         // 4096 bytes
  uint32_t list_length;  // delete: bytes used; list: capacity in, bytes used out
  uint32_t count;        // entries
  uint32_t reserved1;
  uint32_t reserved2;
  uint32_t reserved3;
  uint8_t* key_types;          // 100 bytes
  uint8_t* key_specs;          // 100 bytes
  uint8_t* certificate_kinds;  // list only; may be null
  uint32_t reserved4;
};
constexpr size_t kBatchListCapacity = 4096;
constexpr size_t kBatchEntries = 100;

#if defined(_WIN32)
static_assert(sizeof(void*) == 4 ? sizeof(KeyInfoRecord) == 36 : sizeof(KeyInfoRecord) == 56,
              "key information record layout");
static_assert(sizeof(void*) == 4 ? sizeof(BatchRecord) == 44 : sizeof(BatchRecord) == 72,
              "batch record layout");
static_assert(offsetof(BatchRecord, key_types) == (sizeof(void*) == 4 ? 28 : 40),
              "batch record key type array");
#endif

typedef uintptr_t CspProv;
typedef uintptr_t CspKey;

extern "C" {
typedef int(KOBA_CSP_CALL* PFN_CPAcquireContext)(CspProv* prov, const char* container,
                                                 uint32_t flags, void* provider_table);
typedef int(KOBA_CSP_CALL* PFN_CPReleaseContext)(CspProv prov, uint32_t flags);
typedef int(KOBA_CSP_CALL* PFN_CPGetProvParam)(CspProv prov, uint32_t param, uint8_t* data,
                                               uint32_t* length, uint32_t flags);
typedef int(KOBA_CSP_CALL* PFN_CPSetProvParam)(CspProv prov, uint32_t param, const uint8_t* data,
                                               uint32_t flags);
typedef int(KOBA_CSP_CALL* PFN_CPGetUserKey)(CspProv prov, uint32_t key_spec, CspKey* key);
typedef int(KOBA_CSP_CALL* PFN_CPExportKey)(CspProv prov, CspKey key, CspKey exchange_key,
                                            uint32_t blob_type, uint32_t flags, uint8_t* data,
                                            uint32_t* length);
typedef int(KOBA_CSP_CALL* PFN_CPImportKey)(CspProv prov, const uint8_t* data, uint32_t length,
                                            CspKey exchange_key, uint32_t flags, CspKey* key);
typedef int(KOBA_CSP_CALL* PFN_CPGetKeyParam)(CspProv prov, CspKey key, uint32_t param,
                                              uint8_t* data, uint32_t* length, uint32_t flags);
typedef int(KOBA_CSP_CALL* PFN_CPSetKeyParam)(CspProv prov, CspKey key, uint32_t param,
                                              const uint8_t* data, uint32_t flags);
typedef int(KOBA_CSP_CALL* PFN_CPDestroyKey)(CspProv prov, CspKey key);
}

}  // namespace koba::csp
