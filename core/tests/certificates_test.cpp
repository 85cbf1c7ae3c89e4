#include "certificates.h"

#include <gtest/gtest.h>

namespace koba::core {
namespace {

Candidate Make(std::string subject, uint32_t kind, std::string serial = "AB12") {
  Candidate c;
  c.serial = std::move(serial);
  c.subject = std::move(subject);
  c.kind = kind;
  c.certificate.assign(100, 0x30);
  c.public_key.assign(64, 0x01);
  return c;
}

TEST(Certificates, SplitDn) {
  const struct {
    const char* dn;
    const char* cn;
    const char* ou;
    const char* o;
  } cases[] = {
      {"CN=Zhang San,OU=Retail,O=Bank", "Zhang San", "Retail", "Bank"},
      {"O=Bank,CN=Li", "Li", "", "Bank"},
      {"CN=Only", "Only", "", ""},
      {"Zhang San", "Zhang San", "", ""},
      {"", "", "", ""},
      {"CN=a, OU=b, O=c", "a", "b", "c"},
  };
  for (const auto& c : cases) {
    const WantedDn w = SplitDn(c.dn);
    EXPECT_EQ(w.cn, c.cn) << c.dn;
    EXPECT_EQ(w.ou, c.ou) << c.dn;
    EXPECT_EQ(w.o, c.o) << c.dn;
  }
  const WantedDn long_dn = SplitDn("CN=" + std::string(2000, 'x') + ",OU=" + std::string(300, 'y'));
  EXPECT_EQ(long_dn.cn.size(), 1022u);
  EXPECT_EQ(long_dn.ou.size(), 255u);
  EXPECT_EQ(SplitDn(std::string(1500, 'z')).cn.size(), 1022u);
}

TEST(Certificates, DnMatch) {
  const Candidate c = Make("C=CN, O=Bank, OU=Retail, CN=Zhang San", kKindSpecial);
  const struct {
    const char* serial;
    WantedDn wanted;
    bool match;
  } cases[] = {
      {"AB12", {"Zhang San", "Retail", "Bank"}, true},
      {"AB12", {"Zhang", "Retail", "Bank"}, false},  // all three given: exact values
      {"AB12", {"Zhang", "", ""}, true},             // otherwise substrings
      {"AB12", {"", "Retail", ""}, true},
      {"AB12", {"Wang", "", ""}, false},
      {"AB13", {"Zhang San", "Retail", "Bank"}, false},
      {"AB12 ", {"Zhang San", "", ""}, false},
  };
  for (const auto& t : cases) {
    EXPECT_EQ(DnMatches(c, t.serial, t.wanted), t.match) << t.wanted.cn << "/" << t.serial;
  }
}

TEST(Certificates, SelectionWithAndWithoutDn) {
  const std::vector<Candidate> cands = {
      Make("CN=admin, O=Bank", kKindSkippedForAdminSigning),
      Make("CN=user, O=Bank", kKindSpecial),
      Make("CN=user, O=Bank, OU=2", 0),
  };
  size_t chosen = 99;
  EXPECT_EQ(SelectCandidate(cands, "AB12", SplitDn("CN=user"), {}, &chosen), 0);
  EXPECT_EQ(chosen, 1u);
  EXPECT_EQ(SelectCandidate(cands, "AB12", SplitDn("CN=admin"), {}, &chosen), 0);
  EXPECT_EQ(chosen, 0u);
  SelectOptions admin_signing;
  admin_signing.admin_key = true;
  admin_signing.signing = true;
  EXPECT_EQ(SelectCandidate(cands, "AB12", SplitDn("CN=admin"), admin_signing, &chosen), -405);
  EXPECT_EQ(SelectCandidate(cands, "AB12", SplitDn("CN=nobody"), {}, &chosen), -405);
  EXPECT_EQ(SelectCandidate(cands, "AB12", WantedDn{}, {}, &chosen), 0);
  EXPECT_EQ(chosen, 1u);

  std::vector<Candidate> two_special = {Make("CN=a", kKindSpecial), Make("CN=b", kKindSpecial)};
  EXPECT_EQ(SelectCandidate(two_special, "AB12", WantedDn{}, {}, &chosen), -413);
  EXPECT_EQ(SelectCandidate({Make("CN=a", 0)}, "AB12", WantedDn{}, {}, &chosen), -405);

  std::vector<Candidate> big = {Make("CN=big", kKindSpecial)};
  big[0].public_key.assign(301, 1);
  EXPECT_EQ(SelectCandidate(big, "AB12", SplitDn("CN=big"), {}, &chosen), -405);
  SelectOptions no_material;
  no_material.takes_material = false;
  EXPECT_EQ(SelectCandidate(big, "AB12", SplitDn("CN=big"), no_material, &chosen), 0);
}

TEST(Certificates, DerPublicKeys) {
  std::vector<uint8_t> raw(256);
  for (size_t i = 0; i < raw.size(); ++i)
    raw[i] = static_cast<uint8_t>(i);

  const auto sm2 = DerPublicKey(raw.data(), 64);
  ASSERT_EQ(sm2.size(), 65u);
  EXPECT_EQ(sm2[0], 0x04);
  EXPECT_EQ(sm2[64], 63);

  const auto rsa1024 = DerPublicKey(raw.data(), 128);
  ASSERT_EQ(rsa1024.size(), 7u + 128 + 5);
  EXPECT_EQ(rsa1024[1], 0x81);
  EXPECT_EQ(rsa1024[2], 0x89);  // 0x89 = 137 = what follows the header
  EXPECT_EQ(rsa1024.size() - 3, 0x89u);

  const auto rsa2048 = DerPublicKey(raw.data(), 256);
  ASSERT_EQ(rsa2048.size(), 9u + 256 + 5);
  EXPECT_EQ(rsa2048.size() - 4, 0x10Au);
  EXPECT_EQ(std::vector<uint8_t>(rsa2048.end() - 5, rsa2048.end()),
            (std::vector<uint8_t>{0x02, 0x03, 0x01, 0x00, 0x01}));

  EXPECT_TRUE(DerPublicKey(raw.data(), 100).empty());
}

TEST(Certificates, SerialAndSeparators) {
  const uint8_t serial[16] = {'A', 'B', '1', '2', ' ', ' ', ' ', ' ',
                              ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  EXPECT_EQ(TrimSerial(serial, 16), "AB12");
  const uint8_t full[16] = {'0', '1', '2', '3', '4', '5', '6', '7',
                            '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};
  EXPECT_EQ(TrimSerial(full, 16), "0123456789ABCDEF");
  EXPECT_EQ(CompactDnSeparators("CN=a, O=b||CN=c, O=d"), "CN=a,O=b||CN=c,O=d");
}

}  // namespace
}  // namespace koba::core
