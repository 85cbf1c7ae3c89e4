#include "key_scan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>

#include "token_api.h"

namespace koba::traymon {
namespace {

namespace di = token::devinfo;

struct FakeKey {
  std::string identifier;
  std::string serial;  // as stored: space padded to 16
  std::string model = "1001";
  // container name -> key spec -> key
  std::map<std::string, std::map<uint32_t, ContainerKey>> containers;
  bool csp_fails = false;
};

using Store = std::set<std::pair<std::string, uint32_t>>;

// A machine with keys in slots, a personal store and everything the scan writes, recorded.
class FakeMachine : public ScanEnvironment {
 public:
  std::map<uint32_t, FakeKey> keys;
  bool slot_list_fails = false;
  Store store;                      // (container, key spec)
  std::vector<std::string> events;  // usage, diag, registry, UI, broadcasts
  std::vector<uint32_t> broadcasts;
  std::set<std::string> failing_containers;
  Store refused;  // entries the store will not keep

  bool GetSlotList(std::vector<uint32_t>* slots) override {
    if (slot_list_fails)
      return false;
    for (const auto& [slot, key] : keys)
      slots->push_back(slot);
    return true;
  }
  bool StillPresent(uint32_t slot) override { return keys.count(slot) != 0; }
  void ReadDeviceInfo(uint32_t slot, std::vector<uint8_t>* record) override {
    auto it = keys.find(slot);
    if (it == keys.end())
      return;
    std::memcpy(record->data() + di::kDeviceId, it->second.identifier.data(),
                std::min<size_t>(16, it->second.identifier.size()));
    std::memcpy(record->data() + di::kSerial, it->second.serial.data(),
                std::min<size_t>(16, it->second.serial.size()));
    std::memcpy(record->data() + di::kModelCode, it->second.model.data(), 4);
  }
  void UpdateFontLibrary(uint32_t slot) override {
    events.push_back("font " + std::to_string(slot));
  }
  bool EnumContainers(const std::string& token_path, std::vector<std::string>* names) override {
    for (const auto& [slot, key] : keys) {
      if (TokenPath(slot) == token_path) {
        if (key.csp_fails)
          return false;
        for (const auto& [name, specs] : key.containers)
          names->push_back(name);
        return true;
      }
    }
    return false;
  }
  bool GetContainerKey(const std::string& container, uint32_t key_spec,
                       ContainerKey* out) override {
    if (failing_containers.count(container))
      return false;
    for (const auto& [slot, key] : keys) {
      const std::string prefix = ContainerPrefix(key.identifier);
      if (container.rfind(prefix, 0) != 0)
        continue;
      auto c = key.containers.find(container.substr(prefix.size()));
      if (c == key.containers.end())
        return false;
      auto k = c->second.find(key_spec);
      if (k == c->second.end())
        return false;
      *out = k->second;
      return true;
    }
    return false;
  }
  void RegisterCertificate(const std::string& container, uint32_t key_spec,
                           const std::vector<uint8_t>&) override {
    if (refused.count({container, key_spec}) == 0)
      store.insert({container, key_spec});
  }
  void DeleteCertificates(const std::string& prefix, int selector) override {
    for (auto it = store.begin(); it != store.end();) {
      const bool device = it->first.rfind("\\\\.\\", 0) == 0;
      const bool under = prefix.empty() || it->first.rfind(prefix, 0) == 0;
      const bool doomed = selector == -1 ? (!device || under) : under;
      it = doomed ? store.erase(it) : std::next(it);
    }
  }
  void WriteUsageRecord(UsageEvent event, const std::string& serial) override {
    events.push_back((event == UsageEvent::kInsert ? "Insert " : "Remove ") + serial);
  }
  void AppendDiagRecord(const std::string& serial, const char* name) override {
    events.push_back(std::string("diag ") + name + " " + serial);
  }
  void WriteMachineValue(const std::string& name, uint32_t data) override {
    events.push_back("reg " + name + "=" + std::to_string(data));
  }
  void DeleteUiLanguage() override { events.push_back("ui-lang"); }
  void Broadcast(uint32_t wparam) override { broadcasts.push_back(wparam); }

  std::vector<std::string> TakeEvents() {
    std::vector<std::string> e;
    e.swap(events);
    broadcasts.clear();
    return e;
  }
};

ContainerKey Rsa(uint32_t kind = 0) {
  return {kind, 1, {0x30, 0x01}};
}

FakeKey TwoContainerKey(const std::string& id, const std::string& serial) {
  FakeKey key;
  key.identifier = id;
  key.serial = serial + std::string(16 - serial.size(), ' ');
  key.containers["c1"] = {{1, Rsa()}, {2, Rsa()}};
  key.containers["c2"] = {{1, Rsa()}, {2, Rsa()}};
  return key;
}

std::string Prefix(const std::string& id) {
  return "\\\\.\\Korvanet " + id + "\\";
}

using Events = std::vector<std::string>;

Store Entries(const std::string& id) {
  const std::string p = Prefix(id);
  return {{p + "c1", 1}, {p + "c1", 2}, {p + "c2", 1}, {p + "c2", 2}};
}

Store Union(Store a, const Store& b) {
  a.insert(b.begin(), b.end());
  return a;
}

class KeyScan : public ::testing::Test {
 protected:
  FakeMachine m;
  KeyScanner scanner{m};
};

TEST_F(KeyScan, StartWithoutKeyEmptiesTheProviderEntries) {
  m.store = {{"\\\\.\\Korvanet OLD\\c", 2}, {"legacy", 1}};
  EXPECT_EQ(scanner.Scan(kScanStart), 0);
  EXPECT_TRUE(m.store.empty());
  EXPECT_TRUE(m.broadcasts.empty());
  EXPECT_TRUE(m.events.empty());
}

TEST_F(KeyScan, StartWithOneKeyRegistersFourEntries) {
  m.keys[1] = TwoContainerKey("ID01", "SER0001");
  EXPECT_EQ(scanner.Scan(kScanStart), 0);
  EXPECT_EQ(m.store, Entries("ID01"));
  EXPECT_EQ(m.broadcasts, std::vector<uint32_t>{kScanArrival});
  EXPECT_EQ(m.TakeEvents(), (Events{"Insert SER0001", "diag insert SER0001", "font 1"}));
  ASSERT_EQ(scanner.records().size(), 1u);
  EXPECT_EQ(scanner.records()[0].serial, "SER0001");
  EXPECT_EQ(scanner.records()[0].prefix, Prefix("ID01"));
}

TEST_F(KeyScan, ArrivalRegistersOnlyTheNewKey) {
  m.keys[1] = TwoContainerKey("ID01", "SER0001");
  scanner.Scan(kScanStart);
  m.store.erase({Prefix("ID01") + "c1", 1});  // shows that the first key is not registered again
  m.TakeEvents();
  m.keys[2] = TwoContainerKey("ID02", "SER0002");
  EXPECT_EQ(scanner.Scan(kScanArrival), 0);
  Store expected = Union(Entries("ID01"), Entries("ID02"));
  expected.erase({Prefix("ID01") + "c1", 1});
  EXPECT_EQ(m.store, expected);
  EXPECT_EQ(m.broadcasts, std::vector<uint32_t>{kScanArrival});
  EXPECT_EQ(m.TakeEvents(),
            (Events{"Insert SER0002", "diag insert SER0002", "font 2", "reg SER0002=32768"}));
}

TEST_F(KeyScan, RemovalOfOneOfTwoKeys) {
  m.keys[1] = TwoContainerKey("ID01", "SER0001");
  m.keys[2] = TwoContainerKey("ID02", "0123456789ABCDEF");
  scanner.Scan(kScanStart);
  m.store.insert({"not-a-device-path", 2});
  m.TakeEvents();
  m.keys.erase(2);
  EXPECT_EQ(scanner.Scan(kScanRemoval), 1);
  EXPECT_EQ(m.store, Entries("ID01"));
  EXPECT_EQ(m.broadcasts, std::vector<uint32_t>{kScanRemoval});
  EXPECT_EQ(m.TakeEvents(), (Events{"Remove 0123456789ABCDEF", "ui-lang",
                                    "diag remove 0123456789ABCDEF", "reg 0123456789=32772"}));
  // The freed record is taken by the next key.
  m.keys[3] = TwoContainerKey("ID03", "SER0003");
  scanner.Scan(kScanArrival);
  ASSERT_EQ(scanner.records().size(), 2u);
  EXPECT_EQ(scanner.records()[1].slot, 3u);
}

TEST_F(KeyScan, LastKeyGoneEmptiesTheProviderEntries) {
  m.keys[1] = TwoContainerKey("ID01", "SER0001");
  scanner.Scan(kScanStart);
  m.TakeEvents();
  m.store.insert({"\\\\.\\Korvanet OTHER\\x", 1});
  m.keys.clear();
  EXPECT_EQ(scanner.Scan(kScanArrival), 1);  // an arrival scan also finds keys gone
  EXPECT_TRUE(m.store.empty());
  EXPECT_EQ(m.broadcasts, std::vector<uint32_t>{kScanRemoval});
}

TEST_F(KeyScan, Sm2AndTheSpecialModelsSpecialCertificatesAreLeftOut) {
  FakeKey key;
  key.identifier = "ID01";
  key.serial = "SER0001";
  key.containers["rsa"] = {{1, Rsa(1)}, {2, Rsa(3)}};
  key.containers["sm2"] = {{2, {0, kKeyAlgorithmSm2, {0x30}}}};
  key.containers["none"] = {{2, {0, 1, {}}}};
  m.keys[1] = key;
  scanner.Scan(kScanStart);
  EXPECT_EQ(m.store, (Store{{Prefix("ID01") + "rsa", 1}, {Prefix("ID01") + "rsa", 2}}));

  key.model = kSpecialModel;
  m.keys[1] = key;
  scanner.Scan(kScanResume);
  EXPECT_EQ(m.store, (Store{{Prefix("ID01") + "rsa", 2}}));
}

TEST_F(KeyScan, ResumeRegistersEveryKeyAgain) {
  m.keys[1] = TwoContainerKey("ID01", "SER0001");
  scanner.Scan(kScanStart);
  m.store.insert({"\\\\.\\Korvanet STALE\\x", 1});
  m.TakeEvents();
  EXPECT_EQ(scanner.Scan(kScanResume), 1);
  EXPECT_EQ(m.store, Entries("ID01"));
  EXPECT_EQ(m.broadcasts, std::vector<uint32_t>{kScanRemoval});
  EXPECT_EQ(m.TakeEvents(), (Events{"Insert SER0001", "font 1"}));
}

TEST_F(KeyScan, RescanRefreshesPresentKeysWithoutRecords) {
  m.keys[1] = TwoContainerKey("ID01", "SER0001");
  scanner.Scan(kScanStart);
  m.TakeEvents();
  // A certificate written to the key since, and one deleted from it.
  m.keys[1].containers["c3"] = {{2, Rsa()}};
  m.keys[1].containers.erase("c2");
  m.keys[2] = TwoContainerKey("ID02", "SER0002");
  EXPECT_EQ(scanner.Scan(kScanRescan), 0);
  const std::string p = Prefix("ID01");
  EXPECT_EQ(m.store, Union(Store{{p + "c1", 1}, {p + "c1", 2}, {p + "c3", 2}}, Entries("ID02")));
  EXPECT_EQ(m.broadcasts, std::vector<uint32_t>{kScanArrival});
  EXPECT_EQ(m.TakeEvents(), (Events{"font 2"}));
  EXPECT_EQ(scanner.records().size(), 2u);
}

TEST_F(KeyScan, UnreadableSlotListDoesNothing) {
  m.keys[1] = TwoContainerKey("ID01", "SER0001");
  scanner.Scan(kScanStart);
  m.TakeEvents();
  m.slot_list_fails = true;
  m.keys.clear();
  EXPECT_EQ(scanner.Scan(kScanRemoval), -1);
  EXPECT_EQ(m.store, Entries("ID01"));
  EXPECT_TRUE(m.events.empty());
  EXPECT_TRUE(m.broadcasts.empty());
  // The next scan that can read the list repairs it.
  m.slot_list_fails = false;
  EXPECT_EQ(scanner.Scan(kScanRemoval), 1);
  EXPECT_TRUE(m.store.empty());
}

TEST_F(KeyScan, FailingContainersAndProvidersAreSkipped) {
  m.keys[1] = TwoContainerKey("ID01", "SER0001");
  m.keys[2] = TwoContainerKey("ID02", "SER0002");
  m.keys[2].csp_fails = true;
  m.failing_containers.insert(Prefix("ID01") + "c1");
  scanner.Scan(kScanStart);
  EXPECT_EQ(m.store, (Store{{Prefix("ID01") + "c2", 1}, {Prefix("ID01") + "c2", 2}}));
  EXPECT_EQ(scanner.records().size(), 2u);
  // The rescan the provider's recovery brings completes the store.
  m.failing_containers.clear();
  m.keys[2].csp_fails = false;
  scanner.Scan(kScanRescan);
  EXPECT_EQ(m.store, Union(Entries("ID01"), Entries("ID02")));
}

TEST_F(KeyScan, AnEntryTheStoreRefusesIsRepairedByTheNextScan) {
  m.keys[1] = TwoContainerKey("ID01", "SER0001");
  m.keys[2] = TwoContainerKey("ID02", "SER0002");
  const Store::value_type refused{Prefix("ID01") + "c1", 2};
  m.refused.insert(refused);
  scanner.Scan(kScanStart);
  Store expected = Union(Entries("ID01"), Entries("ID02"));
  expected.erase(refused);
  EXPECT_EQ(m.store, expected);
  EXPECT_EQ(m.broadcasts, std::vector<uint32_t>{kScanArrival});
  // The store keeps it again: the rescan completes the key.
  m.refused.clear();
  scanner.Scan(kScanRescan);
  EXPECT_EQ(m.store, Union(Entries("ID01"), Entries("ID02")));
  // A key registered only in part goes: none of its entries stays.
  m.refused.insert(refused);
  scanner.Scan(kScanResume);
  EXPECT_EQ(m.store, expected);
  m.keys.erase(1);
  EXPECT_EQ(scanner.Scan(kScanRemoval), 1);
  EXPECT_EQ(m.store, Entries("ID02"));
}

TEST(KeyScanFields, DeviceRecord) {
  std::vector<uint8_t> record(di::kReserve, 0);
  std::memcpy(record.data() + di::kDeviceId, "0123456789abcdefXX", 18);
  std::memcpy(record.data() + di::kSerial, "AB12            ", 16);
  std::memcpy(record.data() + di::kModelCode, "4857", 4);
  const DeviceFields f = ReadDeviceFields(record.data());
  EXPECT_EQ(f.identifier, "0123456789abcdef");
  EXPECT_EQ(f.serial, "AB12");
  EXPECT_TRUE(f.special_model);
  const std::vector<uint8_t> zero(di::kReserve, 0);
  const DeviceFields z = ReadDeviceFields(zero.data());
  EXPECT_EQ(z.identifier, "");
  EXPECT_EQ(z.serial, "");
  EXPECT_FALSE(z.special_model);
  EXPECT_EQ(TokenPath(3), "\\\\.\\Korvanet VexloToken 3\\");
  EXPECT_EQ(ContainerPrefix("ID"), "\\\\.\\Korvanet ID\\");
}

}  // namespace
}  // namespace koba::traymon
