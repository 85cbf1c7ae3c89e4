#include "device.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "crypto.h"

namespace vkey {

namespace tk = koba::token;

uint32_t TakeFault(Store& store, Key& key, const char* entry, bool* dirty) {
  for (auto it = key.faults.begin(); it != key.faults.end(); ++it) {
    if (it->entry != entry && it->entry != "*")
      continue;
    const Fault fault = *it;
    key.faults.erase(it);
    *dirty = true;
    if (fault.remove) {
      RemoveKey(store, key);
      return fault.status ? fault.status : tk::kStatusNoDevice;
    }
    return fault.status ? fault.status : tk::kStatusDeviceError;
  }
  return 0;
}

uint32_t WithKey(const char* entry, uint32_t slot,
                 const std::function<uint32_t(Store&, Key&, bool& dirty)>& op) {
  uint32_t status = tk::kStatusDeviceError;
  const bool ok = Transact([&](Store& store) {
    Key* key = store.BySlot(SlotOf(slot));
    if (!key || !key->present) {
      status = tk::kStatusNoDevice;
      return false;
    }
    bool dirty = false;
    status = TakeFault(store, *key, entry, &dirty);
    if (status == 0)
      status = op(store, *key, dirty);
    return dirty;
  });
  return ok ? status : tk::kStatusDeviceError;
}

void RemoveKey(Store& store, Key& key) {
  if (!key.present)
    return;
  key.present = false;
  key.logged_in = false;
  ++store.generation;
}

void InsertKey(Store& store, Key& key) {
  if (key.present)
    return;
  key.present = true;
  key.logged_in = false;
  ++store.generation;
}

bool IsValidPress(const std::string& press) {
  if (press == "confirm" || press == "refuse" || press == "timeout")
    return true;
  if (press.rfind("pending:", 0) != 0 || press.size() == 8 || press.size() > 14)
    return false;
  return std::all_of(press.begin() + 8, press.end(), [](char c) { return c >= '0' && c <= '9'; });
}

namespace {

DWORD PollPeriod() {
  DWORD period = 100;
  char buf[16];
  if (GetEnvironmentVariableA("KOBA_VKEY_POLL_MS", buf, sizeof buf) - 1u < sizeof buf - 1)
    period = static_cast<DWORD>(std::strtoul(buf, nullptr, 10));
  return period;
}

}  // namespace

bool AwaitBusy(uint32_t slot) {
  const DWORD period = PollPeriod();
  for (;;) {
    bool present = false, pending = false;
    Transact([&](Store& store) {
      Key* key = store.BySlot(SlotOf(slot));
      if (!key || !key->present)
        return false;
      present = true;
      if (key->presses.empty() || key->presses.front().rfind("pending:", 0) != 0)
        return false;
      const unsigned long left = std::strtoul(key->presses.front().c_str() + 8, nullptr, 10);
      if (left > 1)
        key->presses.front() = "pending:" + std::to_string(left - 1);
      else
        key->presses.erase(key->presses.begin());
      pending = true;
      return true;
    });
    if (!present)
      return false;
    if (!pending)
      return true;
    Sleep(period);
  }
}

Press AwaitPress(uint32_t slot) {
  const DWORD period = PollPeriod();
  for (;;) {
    Press result = Press::kGone;
    bool pending = false;
    Transact([&](Store& store) {
      Key* key = store.BySlot(SlotOf(slot));
      if (!key || !key->present)
        return false;
      std::string press = key->default_press;
      bool dirty = false;
      if (!key->presses.empty()) {
        press = key->presses.front();
        key->presses.erase(key->presses.begin());
        dirty = true;
      }
      if (press.rfind("pending:", 0) == 0) {
        const unsigned long left = std::strtoul(press.c_str() + 8, nullptr, 10);
        if (left > 1)
          key->presses.insert(key->presses.begin(), "pending:" + std::to_string(left - 1));
        pending = true;
        return dirty;
      }
      result = press == "refuse"    ? Press::kRefuse
               : press == "timeout" ? Press::kTimeout
                                    : Press::kConfirm;
      return dirty;
    });
    if (!pending)
      return result;
    Sleep(period);
  }
}

Key& AddKey(Store& store, const std::string& serial, bool admin) {
  Key key;
  uint32_t slot = 1;
  for (const Key& k : store.keys)
    slot = std::max(slot, k.slot + 1);
  key.slot = slot;
  key.serial = serial;
  key.serial.resize(16, ' ');
  const std::string id = Hex(RandomBytes(8));
  key.device_id.assign(id.begin(), id.end());
  key.label = "KOBA " + serial;
  key.admin = admin;
  if (admin)
    key.admin_info = "AD000000000000000000";
  store.keys.push_back(key);
  ++store.generation;
  return store.keys.back();
}

bool AddPairToContainer(Key& key, const std::string& container, uint32_t spec, KeyPair pair,
                        uint32_t certificate_kind) {
  if (container.empty() || container.size() > 200 || (spec != 1 && spec != 2))
    return false;
  Container* c = key.FindContainer(container);
  if (c && std::any_of(c->keys.begin(), c->keys.end(),
                       [&](const ContainerKey& k) { return k.spec == spec; }))
    return false;
  if (pair.id == 0)
    pair.id = key.NextPairId();
  if (pair.id == 0 || key.FindPair(pair.id))
    return false;
  if (!c) {
    key.containers.push_back(Container{container, {}});
    c = &key.containers.back();
  }
  ContainerKey ck;
  ck.spec = spec;
  ck.pair_id = pair.id;
  ck.certificate_kind = certificate_kind;
  c->keys.push_back(ck);
  key.pairs.push_back(std::move(pair));
  return true;
}

bool ImportCertificate(Key& key, const Bytes& der, uint32_t kind, std::string* container,
                       std::string* error) {
  CertificateInfo info;
  if (!ParseCertificate(der, &info)) {
    *error = "not a certificate";
    return false;
  }
  for (Container& c : key.containers) {
    for (ContainerKey& ck : c.keys) {
      const KeyPair* pair = key.FindPair(ck.pair_id);
      if (!pair || CspPublicKey(*pair) != info.public_key)
        continue;
      ck.certificate = der;
      if (kind)
        ck.certificate_kind = kind;
      *container = c.name;
      return true;
    }
  }
  *error = "no key pair on the key matches the certificate's public key";
  return false;
}

bool DeleteContainerKey(Key& key, const std::string& container, uint32_t spec) {
  Container* c = key.FindContainer(container);
  if (!c)
    return false;
  auto it = std::find_if(c->keys.begin(), c->keys.end(),
                         [&](const ContainerKey& k) { return k.spec == spec; });
  if (it == c->keys.end())
    return false;
  const uint8_t id = it->pair_id;
  c->keys.erase(it);
  key.pairs.erase(std::remove_if(key.pairs.begin(), key.pairs.end(),
                                 [&](const KeyPair& p) { return p.id == id; }),
                  key.pairs.end());
  if (c->keys.empty()) {
    const std::string name = c->name;
    key.containers.erase(std::remove_if(key.containers.begin(), key.containers.end(),
                                        [&](const Container& x) { return x.name == name; }),
                         key.containers.end());
  }
  return true;
}

void FillDeviceInfo(const Key& key, uint8_t* record) {
  namespace di = tk::devinfo;
  std::memset(record, 0, di::kSize);
  const uint32_t size = di::kSize;
  std::memcpy(record + di::kRecordSize, &size, 4);
  std::memcpy(record + di::kManufacturer, "Korvanet", 8);
  std::memcpy(record + di::kDeviceId, key.device_id.data(),
              std::min<size_t>(16, key.device_id.size()));
  std::memcpy(record + di::kLabel, key.label.data(),
              std::min(key.label.size(), di::kLabelSize - 1));
  std::memcpy(record + di::kModelCode, key.model.data(), std::min<size_t>(4, key.model.size()));
  std::memcpy(record + di::kTotalSize, &key.total_size, 4);
  std::memcpy(record + di::kFreeSize, &key.free_size, 4);
  std::string serial = key.serial;
  serial.resize(di::kSerialSize, ' ');
  std::memcpy(record + di::kSerial, serial.data(), di::kSerialSize);
  const uint32_t containers = static_cast<uint32_t>(key.containers.size());
  std::memcpy(record + di::kContainerCount, &containers, 4);
  std::memcpy(record + di::kLanguage, &key.language, 2);
  record[di::kMaxTries] = static_cast<uint8_t>(key.max_tries);
  record[di::kTriesLeft] = static_cast<uint8_t>(key.tries_left);
}

}  // namespace vkey
