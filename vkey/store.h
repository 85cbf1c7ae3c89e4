// The virtual key store: every virtual USB key with its device data, PIN, key pairs,
// containers, stored objects and the tester's scripts, kept in one JSON file that every process
// (host, tray monitor, service, management tool, the vkey tool) reads and rewrites under an
// exclusive file lock.
//
// Location: the folder named by the environment variable KOBA_VKEY_STORE; without it the
// machine setting "StoreFolder" under HKLM\Software\KobaVirtualKey (`vkey use-store`), which
// the virtual key bus driver follows too (it cannot see a test's environment); without both
// "%ProgramData%\KobaVirtualKey" (inside a Wine prefix: drive_c/ProgramData/KobaVirtualKey).
// Tests give each run its own folder through the variable, and through the setting when they
// use the bus driver.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vkey {

using Bytes = std::vector<uint8_t>;

struct KeyPair {
  uint8_t id = 0;          // the key-type byte: two decimal digits as nibbles
  uint32_t algorithm = 1;  // 1 RSA, 2 SM2
  uint32_t bits = 0;       // 1024, 2048, 256
  Bytes private_key;       // libgcrypt S-expression, canonical form
  Bytes public_key;        // RSA modulus, or SM2 04 || X || Y
  uint32_t certificate_type = 0;
};

struct ContainerKey {
  uint32_t spec = 2;  // 1 exchange, 2 signature
  uint8_t pair_id = 0;
  uint32_t certificate_kind = 0;
  Bytes certificate;  // DER, empty when none
};

struct Container {
  std::string name;
  std::vector<ContainerKey> keys;
};

struct StoredObject {
  uint32_t handle = 0;
  uint32_t object_class = 0;
  uint32_t flags = 0;
  Bytes data;
};

// A scripted failure: the next call of `entry` on this key fails with `status`; with
// `remove` the key is pulled out at that call (and the call fails with the no-device status).
struct Fault {
  std::string entry;
  uint32_t status = 0;
  bool remove = false;
};

struct Key {
  uint32_t slot = 0;
  bool present = true;
  std::string serial;  // 16 characters
  Bytes device_id;     // 16 bytes
  std::string label;
  std::string model = "5070";
  uint16_t language = 0;
  uint32_t language_mask = 0x300;
  uint32_t charset_flags = 0x300;
  uint32_t text_encoding = 1;
  bool admin = false;
  std::string admin_info;                                   // parameter 19, 20 characters
  std::vector<Bytes> admin_key_list;                        // parameter 12 entries
  std::vector<Bytes> user_key_list;                         // parameter 13 entries
  std::string device_value = "KOBA0001";                    // parameter 100405
  std::string identifier = "USB\\VID_2B4E&PID_3951\\KOBA";  // parameter 100401
  uint32_t usb_mode = 0;
  uint8_t display_flags = 0;
  uint32_t font_library = 0;
  std::string pin = "123456";
  uint32_t max_tries = 6;
  uint32_t tries_left = 6;
  bool logged_in = false;
  bool initialised = true;
  uint32_t total_size = 65536;
  uint32_t free_size = 61440;
  uint32_t changed = 0;  // parameter 100002 writes
  uint32_t next_object = 1;
  std::vector<KeyPair> pairs;
  std::vector<Container> containers;
  std::vector<StoredObject> objects;
  // The user's button presses, consumed in order by log-in, signature and deletion:
  // "confirm", "refuse", "timeout", "pending:N" (N polls without an answer, then the next).
  std::vector<std::string> presses;
  std::string default_press = "confirm";
  std::string last_display;  // the transaction text the key showed last
  // SM2 record signatures: false signs e = SM3(record), which PKCS#7 signed data without
  // signed attributes carries and OpenSSL's cms/smime verify; true signs e = SM3(ZA || record)
  // with the default identifier.
  bool sm2_za = false;
  std::vector<Fault> faults;
  Bytes scsi_response;  // the answer to the last APDU sent through the SCSI side

  KeyPair* FindPair(uint8_t id);
  Container* FindContainer(const std::string& name);
  uint8_t NextPairId() const;  // 0 when the key is full
};

struct Store {
  uint32_t generation = 0;  // changes at every insertion and removal
  std::vector<Key> keys;

  Key* BySlot(uint32_t slot);
  Key* BySerial(const std::string& serial);
  Key* ByDeviceId(const std::string& id16);
  std::vector<uint32_t> PresentSlots() const;
};

// The machine setting that names the store folder (see above).
constexpr wchar_t kStoreSettingKey[] = L"Software\\KobaVirtualKey";
constexpr wchar_t kStoreSettingValue[] = L"StoreFolder";

// The store folder (see above), created when missing.
std::wstring StoreFolder();

// Runs `work` on the store under the exclusive lock. `work` returns true when it changed the
// store; the store is then written back (whole file, replaced atomically). Returns false
// (with `error` set) when the store cannot be locked, read or written.
bool Transact(const std::function<bool(Store&)>& work, std::string* error = nullptr);

// Serialisation, exposed for tests.
std::string ToJson(const Store& store);
bool FromJson(const std::string& text, Store* store);

std::string Hex(const Bytes& bytes);
bool FromHex(const std::string& text, Bytes* out);

}  // namespace vkey
