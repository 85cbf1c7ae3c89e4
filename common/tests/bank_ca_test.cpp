#include "bank_ca.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

namespace koba::bankca {
namespace {

using Bytes = std::vector<unsigned char>;

// One DER element: where its content starts and how long it is; false when it does not fit.
struct Element {
  size_t content;
  size_t length;
  size_t end() const { return content + length; }
};

bool ReadElement(const Bytes& der, size_t at, Element* out) {
  if (at + 2 > der.size())
    return false;
  size_t length = der[at + 1];
  size_t header = 2;
  if (length & 0x80) {
    const size_t count = length & 0x7f;
    if (count == 0 || count > 3 || at + 2 + count > der.size())
      return false;
    length = 0;
    for (size_t i = 0; i < count; ++i)
      length = length << 8 | der[at + 2 + i];
    header += count;
  }
  *out = {at + header, length};
  return out->end() <= der.size();
}

// The issuer and the subject name of a certificate, as their DER bytes.
bool Names(const Bytes& der, Bytes* issuer, Bytes* subject) {
  Element cert, tbs, field;
  if (!ReadElement(der, 0, &cert) || cert.end() != der.size() ||
      !ReadElement(der, cert.content, &tbs))
    return false;
  size_t at = tbs.content;
  if (der[at] == 0xa0) {  // version
    if (!ReadElement(der, at, &field))
      return false;
    at = field.end();
  }
  // Serial number, signature algorithm, issuer, validity, subject.
  Bytes* wanted[] = {nullptr, nullptr, issuer, nullptr, subject};
  for (Bytes* out : wanted) {
    if (!ReadElement(der, at, &field))
      return false;
    if (out != nullptr)
      out->assign(der.begin() + static_cast<long>(at),
                  der.begin() + static_cast<long>(field.end()));
    at = field.end();
  }
  return true;
}

Bytes Embedded(int index) {
  return Bytes(At(index).der, At(index).der + At(index).size);
}

TEST(BankCa, EmbedsTheFilesInOrder) {
  for (int i = 0; i < kCount; ++i) {
    char path[512];
    std::snprintf(path, sizeof path, "%s/ca%02d.cer", BANK_CA_DIR, i + 1);
    std::ifstream file(path, std::ios::binary);
    ASSERT_TRUE(file) << path;
    const Bytes on_disk((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(Embedded(i), on_disk) << path;
  }
}

TEST(BankCa, RootsAndIssuedCertificatesInTheirPlaces) {
  const int issuer_of[kCount] = {0, 1, 2, 0, 0, 5, 5, 5};
  std::vector<Bytes> subjects(kCount);
  std::vector<Bytes> issuers(kCount);
  for (int i = 0; i < kCount; ++i)
    ASSERT_TRUE(Names(Embedded(i), &issuers[i], &subjects[i])) << i;
  for (int i = 0; i < kCount; ++i) {
    EXPECT_EQ(issuers[i], subjects[issuer_of[i]]) << i;
    EXPECT_EQ(issuers[i] == subjects[i], i < 3 || i == 5) << i;
  }
}

}  // namespace
}  // namespace koba::bankca
