// The CSP binding against the virtual key's provider: container enumeration, key information,
// the user key's public key and certificate, and key deletion one by one and in a batch.
#include "csp.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "crypto.h"
#include "device.h"
#include "store.h"
#include "testing/temp_store.h"

namespace koba::csp {
namespace {

using vkey::testing::BesideTest;

class CspTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // One key: an RSA key pair in "c1" (signature) and an SM2 one in "c2" (exchange).
    ASSERT_TRUE(vkey::Transact([&](vkey::Store& s) {
      vkey::Key& key = vkey::AddKey(s, "AB12", false);
      slot_ = key.slot;
      for (const auto& [name, alg, bits, spec] :
           {std::tuple{"c1", 1u, 1024u, 2u}, std::tuple{"c2", 2u, 256u, 1u}}) {
        vkey::KeyPair pair;
        if (!vkey::GenerateKeyPair(alg, bits, &pair) ||
            !vkey::AddPairToContainer(key, name, spec, pair, 0)) {
          return false;
        }
      }
      return true;
    }));
  }

  CspInterface csp_{BesideTest(L"..\\vkey\\Q2CSP_KOBA.dll")};
  vkey::testing::TempStore store_;
  uint32_t slot_ = 0;
};

TEST_F(CspTest, ContainersAndKeyInformation) {
  std::vector<std::string> names;
  ASSERT_EQ(csp_.EnumContainerNames(ReaderPath(slot_), &names), 0u);
  EXPECT_EQ(names, (std::vector<std::string>{"c1", "c2"}));

  KeyInfo info;
  ASSERT_EQ(csp_.GetContainerKeyInfo(ReaderPath(slot_) + "c1", 2, &info), 0u);
  EXPECT_EQ(info.key_algorithm, 1u);
  EXPECT_EQ(info.public_key.size(), 128u);
  EXPECT_TRUE(info.certificate.empty());
  ASSERT_EQ(csp_.GetContainerKeyInfo(ReaderPath(slot_) + "c2", 1, &info), 0u);
  EXPECT_EQ(info.key_algorithm, 2u);
  EXPECT_EQ(info.public_key.size(), 64u);
  // No key of that spec, no such container, a buffer too small for the key.
  EXPECT_NE(csp_.GetContainerKeyInfo(ReaderPath(slot_) + "c1", 1, &info), 0u);
  EXPECT_NE(csp_.GetContainerKeyInfo(ReaderPath(slot_) + "none", 2, &info), 0u);
  EXPECT_NE(csp_.GetContainerKeyInfo(ReaderPath(slot_) + "c1", 2, &info, 100), 0u);
  EXPECT_TRUE(info.public_key.empty());

  std::vector<uint8_t> blob;
  EXPECT_EQ(csp_.ExportUserPublicKey(ReaderPath(slot_) + "c1", 2, &blob), 0u);
  EXPECT_FALSE(blob.empty());
  std::vector<uint8_t> cert;
  EXPECT_NE(csp_.GetUserKeyCertificate(ReaderPath(slot_) + "c1", 2, &cert), 0u);
  EXPECT_TRUE(cert.empty());
}

TEST_F(CspTest, DeletionAlone) {
  ASSERT_EQ(csp_.DeleteContainerKey(ReaderPath(slot_) + "c1", 2), 0u);
  KeyInfo info;
  EXPECT_NE(csp_.GetContainerKeyInfo(ReaderPath(slot_) + "c1", 2, &info), 0u);
  EXPECT_EQ(csp_.GetContainerKeyInfo(ReaderPath(slot_) + "c2", 1, &info), 0u);
}

TEST_F(CspTest, BatchListAndDelete) {
  uint8_t list[kBatchListCapacity] = {};
  uint8_t types[kBatchEntries] = {}, specs[kBatchEntries] = {};
  BatchRecord rec = {};
  rec.slot = slot_;
  rec.list = list;
  rec.list_length = sizeof list;
  rec.key_types = types;
  rec.key_specs = specs;
  ASSERT_EQ(csp_.ListKeyBatch(&rec), 0u);
  ASSERT_EQ(rec.count, 2u);
  EXPECT_STREQ(reinterpret_cast<const char*>(list), "c1");
  EXPECT_EQ(specs[0], 2);
  EXPECT_EQ(specs[1], 1);

  // Delete "c2": a length byte and the name, NUL-terminated.
  std::memset(list, 0, sizeof list);
  list[0] = 2;
  std::memcpy(list + 1, "c2", 2);
  types[0] = rec.key_types[1];
  specs[0] = 1;
  BatchRecord del = {};
  del.slot = slot_;
  del.list = list;
  del.list_length = 4;
  del.count = 1;
  del.key_types = types;
  del.key_specs = specs;
  ASSERT_EQ(csp_.DeleteKeyBatch(&del), 0u);
  KeyInfo info;
  EXPECT_NE(csp_.GetContainerKeyInfo(ReaderPath(slot_) + "c2", 1, &info), 0u);
  EXPECT_EQ(csp_.GetContainerKeyInfo(ReaderPath(slot_) + "c1", 2, &info), 0u);
}

TEST(CspBinding, AnEndlessEnumerationStopsAtTheLargestListAnyOutputHolds) {
  CspInterface endless(BesideTest(L"endless_csp.dll"));
  std::vector<std::string> names;
  EXPECT_EQ(endless.EnumContainerNames(ReaderPath(1), &names), 0u);
  ASSERT_EQ(names.size(), kMaxContainerNames);
  EXPECT_EQ(names.front(), "c0");
  EXPECT_EQ(names.back(), "c" + std::to_string(kMaxContainerNames - 1));
}

TEST(CspBinding, MissingProviderFailsEveryOperation) {
  CspInterface missing(BesideTest(L"no_such_csp.dll"));
  std::vector<std::string> names;
  EXPECT_EQ(missing.EnumContainerNames(ReaderPath(1), &names), kErrorNoProvider);
  KeyInfo info;
  EXPECT_EQ(missing.GetContainerKeyInfo(ReaderPath(1) + "c1", 2, &info), kErrorNoProvider);
  EXPECT_EQ(ReaderPath(3), "\\\\.\\Korvanet VexloToken 3\\");
  EXPECT_EQ(ContainerPrefix("0123456789ABCDEF"), "\\\\.\\Korvanet 0123456789ABCDEF\\");
}

}  // namespace
}  // namespace koba::csp
