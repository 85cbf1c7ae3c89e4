#include "store.h"

#include "common/win_handle.h"

#include <windows.h>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <memory>

namespace vkey {
namespace {

struct HandleCloser {
  void operator()(HANDLE h) const {
    if (h != INVALID_HANDLE_VALUE && h != nullptr)
      CloseHandle(h);
  }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

// Holds the exclusive lock of the store's lock file for its lifetime.
class StoreLock {
 public:
  explicit StoreLock(const std::wstring& folder) {
    HANDLE h = CreateFileW((folder + L"\\store.lock").c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
      return;
    file_.reset(h);
    OVERLAPPED ov{};
    locked_ = LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &ov) != FALSE;
  }
  ~StoreLock() {
    if (locked_) {
      OVERLAPPED ov{};
      UnlockFileEx(file_.get(), 0, 1, 0, &ov);
    }
  }
  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;
  bool locked() const { return locked_; }

 private:
  UniqueHandle file_{INVALID_HANDLE_VALUE};
  bool locked_ = false;
};

bool ReadWhole(const std::wstring& path, std::string* out, bool* missing) {
  *missing = false;
  UniqueHandle h(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (h.get() == INVALID_HANDLE_VALUE) {
    *missing = GetLastError() == ERROR_FILE_NOT_FOUND;
    return false;
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(h.get(), &size) || size.QuadPart > (64 << 20))
    return false;
  out->resize(static_cast<size_t>(size.QuadPart));
  DWORD got = 0;
  if (!out->empty() &&
      (!ReadFile(h.get(), &(*out)[0], static_cast<DWORD>(out->size()), &got, nullptr) ||
       got != out->size()))
    return false;
  return true;
}

bool WriteReplace(const std::wstring& path, const std::string& data) {
  const std::wstring temp = path + L".new";
  {
    UniqueHandle h(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (h.get() == INVALID_HANDLE_VALUE)
      return false;
    DWORD put = 0;
    if (!WriteFile(h.get(), data.data(), static_cast<DWORD>(data.size()), &put, nullptr) ||
        put != data.size() || !FlushFileBuffers(h.get()))
      return false;
  }
  return MoveFileExW(temp.c_str(), path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

using Writer = rapidjson::Writer<rapidjson::StringBuffer>;

void Put(Writer& w, const char* name, const std::string& value) {
  w.Key(name);
  w.String(value.c_str(), static_cast<rapidjson::SizeType>(value.size()));
}
void Put(Writer& w, const char* name, uint32_t value) {
  w.Key(name);
  w.Uint(value);
}
void PutBool(Writer& w, const char* name, bool value) {
  w.Key(name);
  w.Bool(value);
}
void PutHex(Writer& w, const char* name, const Bytes& value) {
  Put(w, name, Hex(value));
}

using Value = rapidjson::Value;

std::string GetStr(const Value& o, const char* name, const std::string& fallback = "") {
  auto it = o.FindMember(name);
  if (it == o.MemberEnd() || !it->value.IsString())
    return fallback;
  return std::string(it->value.GetString(), it->value.GetStringLength());
}
uint32_t GetU32(const Value& o, const char* name, uint32_t fallback = 0) {
  auto it = o.FindMember(name);
  if (it == o.MemberEnd() || !it->value.IsUint())
    return fallback;
  return it->value.GetUint();
}
bool GetBool(const Value& o, const char* name, bool fallback = false) {
  auto it = o.FindMember(name);
  if (it == o.MemberEnd() || !it->value.IsBool())
    return fallback;
  return it->value.GetBool();
}
Bytes GetHex(const Value& o, const char* name) {
  Bytes out;
  FromHex(GetStr(o, name), &out);
  return out;
}
const Value* GetArray(const Value& o, const char* name) {
  auto it = o.FindMember(name);
  if (it == o.MemberEnd() || !it->value.IsArray())
    return nullptr;
  return &it->value;
}

void WriteKey(Writer& w, const Key& k) {
  w.StartObject();
  Put(w, "slot", k.slot);
  PutBool(w, "present", k.present);
  Put(w, "serial", k.serial);
  PutHex(w, "device_id", k.device_id);
  Put(w, "label", k.label);
  Put(w, "model", k.model);
  Put(w, "language", k.language);
  Put(w, "language_mask", k.language_mask);
  Put(w, "charset_flags", k.charset_flags);
  Put(w, "text_encoding", k.text_encoding);
  PutBool(w, "admin", k.admin);
  Put(w, "admin_info", k.admin_info);
  for (const auto* list : {&k.admin_key_list, &k.user_key_list}) {
    w.Key(list == &k.admin_key_list ? "admin_key_list" : "user_key_list");
    w.StartArray();
    for (const Bytes& entry : *list) {
      const std::string hex = Hex(entry);
      w.String(hex.c_str());
    }
    w.EndArray();
  }
  Put(w, "device_value", k.device_value);
  Put(w, "identifier", k.identifier);
  Put(w, "usb_mode", k.usb_mode);
  Put(w, "display_flags", k.display_flags);
  Put(w, "font_library", k.font_library);
  Put(w, "pin", k.pin);
  Put(w, "max_tries", k.max_tries);
  Put(w, "tries_left", k.tries_left);
  PutBool(w, "logged_in", k.logged_in);
  PutBool(w, "initialised", k.initialised);
  Put(w, "total_size", k.total_size);
  Put(w, "free_size", k.free_size);
  Put(w, "changed", k.changed);
  Put(w, "next_object", k.next_object);
  w.Key("pairs");
  w.StartArray();
  for (const KeyPair& p : k.pairs) {
    w.StartObject();
    Put(w, "id", p.id);
    Put(w, "algorithm", p.algorithm);
    Put(w, "bits", p.bits);
    PutHex(w, "private_key", p.private_key);
    PutHex(w, "public_key", p.public_key);
    Put(w, "certificate_type", p.certificate_type);
    w.EndObject();
  }
  w.EndArray();
  w.Key("containers");
  w.StartArray();
  for (const Container& c : k.containers) {
    w.StartObject();
    Put(w, "name", c.name);
    w.Key("keys");
    w.StartArray();
    for (const ContainerKey& ck : c.keys) {
      w.StartObject();
      Put(w, "spec", ck.spec);
      Put(w, "pair_id", ck.pair_id);
      Put(w, "certificate_kind", ck.certificate_kind);
      PutHex(w, "certificate", ck.certificate);
      w.EndObject();
    }
    w.EndArray();
    w.EndObject();
  }
  w.EndArray();
  w.Key("objects");
  w.StartArray();
  for (const StoredObject& o : k.objects) {
    w.StartObject();
    Put(w, "handle", o.handle);
    Put(w, "class", o.object_class);
    Put(w, "flags", o.flags);
    PutHex(w, "data", o.data);
    w.EndObject();
  }
  w.EndArray();
  w.Key("presses");
  w.StartArray();
  for (const std::string& p : k.presses)
    w.String(p.c_str());
  w.EndArray();
  Put(w, "default_press", k.default_press);
  Put(w, "last_display", k.last_display);
  PutBool(w, "sm2_za", k.sm2_za);
  w.Key("faults");
  w.StartArray();
  for (const Fault& f : k.faults) {
    w.StartObject();
    Put(w, "entry", f.entry);
    Put(w, "status", f.status);
    PutBool(w, "remove", f.remove);
    w.EndObject();
  }
  w.EndArray();
  PutHex(w, "scsi_response", k.scsi_response);
  w.EndObject();
}

Key ReadKey(const Value& o) {
  Key k;
  k.slot = GetU32(o, "slot");
  k.present = GetBool(o, "present", true);
  k.serial = GetStr(o, "serial");
  k.device_id = GetHex(o, "device_id");
  k.label = GetStr(o, "label");
  k.model = GetStr(o, "model", k.model);
  k.language = static_cast<uint16_t>(GetU32(o, "language"));
  k.language_mask = GetU32(o, "language_mask", k.language_mask);
  k.charset_flags = GetU32(o, "charset_flags", k.charset_flags);
  k.text_encoding = GetU32(o, "text_encoding", k.text_encoding);
  k.admin = GetBool(o, "admin");
  k.admin_info = GetStr(o, "admin_info");
  for (auto* list : {&k.admin_key_list, &k.user_key_list}) {
    const Value* a = GetArray(o, list == &k.admin_key_list ? "admin_key_list" : "user_key_list");
    if (!a)
      continue;
    for (const Value& e : a->GetArray()) {
      Bytes b;
      if (e.IsString() && FromHex(e.GetString(), &b))
        list->push_back(b);
    }
  }
  k.device_value = GetStr(o, "device_value", k.device_value);
  k.identifier = GetStr(o, "identifier", k.identifier);
  k.usb_mode = GetU32(o, "usb_mode");
  k.display_flags = static_cast<uint8_t>(GetU32(o, "display_flags"));
  k.font_library = GetU32(o, "font_library");
  k.pin = GetStr(o, "pin", k.pin);
  k.max_tries = GetU32(o, "max_tries", k.max_tries);
  k.tries_left = GetU32(o, "tries_left", k.tries_left);
  k.logged_in = GetBool(o, "logged_in");
  k.initialised = GetBool(o, "initialised", true);
  k.total_size = GetU32(o, "total_size", k.total_size);
  k.free_size = GetU32(o, "free_size", k.free_size);
  k.changed = GetU32(o, "changed");
  k.next_object = GetU32(o, "next_object", 1);
  if (const Value* a = GetArray(o, "pairs")) {
    for (const Value& e : a->GetArray()) {
      KeyPair p;
      p.id = static_cast<uint8_t>(GetU32(e, "id"));
      p.algorithm = GetU32(e, "algorithm", 1);
      p.bits = GetU32(e, "bits");
      p.private_key = GetHex(e, "private_key");
      p.public_key = GetHex(e, "public_key");
      p.certificate_type = GetU32(e, "certificate_type");
      k.pairs.push_back(std::move(p));
    }
  }
  if (const Value* a = GetArray(o, "containers")) {
    for (const Value& e : a->GetArray()) {
      Container c;
      c.name = GetStr(e, "name");
      if (const Value* ks = GetArray(e, "keys")) {
        for (const Value& ke : ks->GetArray()) {
          ContainerKey ck;
          ck.spec = GetU32(ke, "spec", 2);
          ck.pair_id = static_cast<uint8_t>(GetU32(ke, "pair_id"));
          ck.certificate_kind = GetU32(ke, "certificate_kind");
          ck.certificate = GetHex(ke, "certificate");
          c.keys.push_back(std::move(ck));
        }
      }
      k.containers.push_back(std::move(c));
    }
  }
  if (const Value* a = GetArray(o, "objects")) {
    for (const Value& e : a->GetArray()) {
      StoredObject so;
      so.handle = GetU32(e, "handle");
      so.object_class = GetU32(e, "class");
      so.flags = GetU32(e, "flags");
      so.data = GetHex(e, "data");
      k.objects.push_back(std::move(so));
    }
  }
  if (const Value* a = GetArray(o, "presses")) {
    for (const Value& e : a->GetArray())
      if (e.IsString())
        k.presses.emplace_back(e.GetString());
  }
  k.default_press = GetStr(o, "default_press", k.default_press);
  k.last_display = GetStr(o, "last_display");
  k.sm2_za = GetBool(o, "sm2_za");
  if (const Value* a = GetArray(o, "faults")) {
    for (const Value& e : a->GetArray()) {
      Fault f;
      f.entry = GetStr(e, "entry");
      f.status = GetU32(e, "status");
      f.remove = GetBool(e, "remove");
      k.faults.push_back(std::move(f));
    }
  }
  k.scsi_response = GetHex(o, "scsi_response");
  return k;
}

}  // namespace

KeyPair* Key::FindPair(uint8_t id) {
  for (KeyPair& p : pairs)
    if (p.id == id)
      return &p;
  return nullptr;
}

Container* Key::FindContainer(const std::string& name) {
  for (Container& c : containers)
    if (c.name == name)
      return &c;
  return nullptr;
}

uint8_t Key::NextPairId() const {
  // Ids read as two decimal digits (high and low nibble), 1..0x20, so that the private-key
  // object's flag bit 1 << (id - 1) fits 32 bits.
  for (unsigned id = 1; id <= 0x20; ++id) {
    if ((id & 0x0F) > 9)
      continue;
    bool used =
        std::any_of(pairs.begin(), pairs.end(), [&](const KeyPair& p) { return p.id == id; });
    if (!used)
      return static_cast<uint8_t>(id);
  }
  return 0;
}

Key* Store::BySlot(uint32_t slot) {
  for (Key& k : keys)
    if (k.slot == slot)
      return &k;
  return nullptr;
}

Key* Store::BySerial(const std::string& serial) {
  for (Key& k : keys)
    if (k.serial == serial)
      return &k;
  return nullptr;
}

Key* Store::ByDeviceId(const std::string& id16) {
  for (Key& k : keys)
    if (std::string(k.device_id.begin(), k.device_id.end()) == id16)
      return &k;
  return nullptr;
}

std::vector<uint32_t> Store::PresentSlots() const {
  std::vector<uint32_t> slots;
  for (const Key& k : keys)
    if (k.present)
      slots.push_back(k.slot);
  std::sort(slots.begin(), slots.end());
  return slots;
}

namespace {

bool ReadStoreSetting(wchar_t* buf, DWORD* bytes) {
  HKEY raw = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kStoreSettingKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                    &raw) != ERROR_SUCCESS)
    return false;
  koba::win::UniqueRegKey key(raw);
  return RegGetValueW(key.get(), nullptr, kStoreSettingValue, RRF_RT_REG_SZ, nullptr, buf, bytes) ==
             ERROR_SUCCESS &&
         buf[0];
}

}  // namespace

std::wstring StoreFolder() {
  wchar_t buf[MAX_PATH * 2];
  std::wstring folder;
  DWORD n = GetEnvironmentVariableW(L"KOBA_VKEY_STORE", buf, MAX_PATH * 2);
  DWORD bytes = sizeof buf;
  if (n > 0 && n < MAX_PATH * 2) {
    folder.assign(buf, n);
  } else if (ReadStoreSetting(buf, &bytes)) {
    folder = buf;
  } else {
    n = GetEnvironmentVariableW(L"ProgramData", buf, MAX_PATH * 2);
    folder = (n > 0 && n < MAX_PATH * 2) ? std::wstring(buf, n) : std::wstring(L"C:\\ProgramData");
    folder += L"\\KobaVirtualKey";
  }
  while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/'))
    folder.pop_back();
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

bool Transact(const std::function<bool(Store&)>& work, std::string* error) {
  auto fail = [&](const char* what) {
    if (error)
      *error = what;
    return false;
  };
  const std::wstring folder = StoreFolder();
  StoreLock lock(folder);
  if (!lock.locked())
    return fail("cannot lock the virtual key store");
  const std::wstring path = folder + L"\\store.json";
  Store store;
  std::string text;
  bool missing = false;
  if (ReadWhole(path, &text, &missing)) {
    if (!text.empty() && !FromJson(text, &store))
      return fail("the virtual key store is corrupt");
  } else if (!missing) {
    return fail("cannot read the virtual key store");
  }
  if (!work(store))
    return true;
  if (!WriteReplace(path, ToJson(store)))
    return fail("cannot write the virtual key store");
  return true;
}

std::string ToJson(const Store& store) {
  rapidjson::StringBuffer sb;
  Writer w(sb);
  w.StartObject();
  Put(w, "generation", store.generation);
  w.Key("keys");
  w.StartArray();
  for (const Key& k : store.keys)
    WriteKey(w, k);
  w.EndArray();
  w.EndObject();
  return std::string(sb.GetString(), sb.GetSize());
}

bool FromJson(const std::string& text, Store* store) {
  rapidjson::Document d;
  d.Parse(text.c_str(), text.size());
  if (d.HasParseError() || !d.IsObject())
    return false;
  Store s;
  s.generation = GetU32(d, "generation");
  if (const Value* a = GetArray(d, "keys")) {
    for (const Value& e : a->GetArray()) {
      if (!e.IsObject())
        return false;
      s.keys.push_back(ReadKey(e));
    }
  }
  *store = std::move(s);
  return true;
}

std::string Hex(const Bytes& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
  }
  return out;
}

bool FromHex(const std::string& text, Bytes* out) {
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9')
      return c - '0';
    if (c >= 'a' && c <= 'f')
      return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
      return c - 'A' + 10;
    return -1;
  };
  if (text.size() % 2)
    return false;
  Bytes b;
  b.reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    int hi = nibble(text[i]), lo = nibble(text[i + 1]);
    if (hi < 0 || lo < 0)
      return false;
    b.push_back(static_cast<uint8_t>(hi << 4 | lo));
  }
  *out = std::move(b);
  return true;
}

}  // namespace vkey
