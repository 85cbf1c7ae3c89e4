#include "cert_store.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "store_refusal.h"
#include "win_test_util.h"

namespace koba::certstore {
namespace {

constexpr char kProvider[] = "Korvanet Vexlo CSP KOBA v1.0";
constexpr char kOtherProvider[] = "Koba Test Other CSP";

// DER certificates made by OpenSSL at build time.
std::vector<unsigned char> Cert(const char* name) {
  std::wstring path = CERT_DIR L"\\";
  for (const char* p = name; *p != '\0'; ++p)
    path.push_back(static_cast<wchar_t>(*p));
  return koba::testing::ReadFileBytes(path + L".der");
}

struct Store {
  explicit Store(DWORD location, const wchar_t* name)
      : h(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, location | CERT_STORE_READONLY_FLAG,
                        name)) {}
  ~Store() {
    if (h != nullptr)
      CertCloseStore(h, 0);
  }
  HCERTSTORE h;
};

// The copies of `der` in a store, and the container and key spec of the first one.
size_t CountIn(DWORD location, const wchar_t* store_name, const std::vector<unsigned char>& der,
               std::wstring* container = nullptr, DWORD* key_spec = nullptr) {
  const Store store(location, store_name);
  if (store.h == nullptr)
    return 0;
  size_t n = 0;
  PCCERT_CONTEXT c = nullptr;
  while ((c = CertEnumCertificatesInStore(store.h, c)) != nullptr) {
    if (c->cbCertEncoded != der.size() ||
        std::memcmp(c->pbCertEncoded, der.data(), der.size()) != 0) {
      continue;
    }
    if (n++ == 0 && container != nullptr) {
      DWORD size = 0;
      CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size);
      std::vector<BYTE> buf(size);
      if (size != 0 &&
          CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, buf.data(), &size)) {
        const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buf.data());
        *container = info->pwszContainerName;
        *key_spec = info->dwKeySpec;
      }
    }
  }
  return n;
}

size_t InMy(const std::vector<unsigned char>& der) {
  return CountIn(CERT_SYSTEM_STORE_CURRENT_USER, L"MY", der);
}

DWORD Register(const char* provider, const char* container, DWORD spec,
               const std::vector<unsigned char>& der) {
  return RegisterCertificate(provider, container, spec, der.data(), static_cast<DWORD>(der.size()));
}

class CertStore : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(user_.size() > 0 && user2_.size() > 0 && root_.size() > 0 && inter_.size() > 0, true);
    Clean();
  }
  void TearDown() override { Clean(); }
  static void Clean() {
    DeleteStoredCertificates(kProvider, nullptr, 0);
    DeleteStoredCertificates(kOtherProvider, nullptr, 0);
  }
  const std::vector<unsigned char> user_ = Cert("user");
  const std::vector<unsigned char> user2_ = Cert("user2");
  const std::vector<unsigned char> root_ = Cert("root");
  const std::vector<unsigned char> inter_ = Cert("inter");
};

TEST_F(CertStore, FieldsInBothTextForms) {
  SYSTEMTIME not_before{2024, 1, 0, 2, 3, 4, 5, 0};
  SYSTEMTIME not_after{2030, 6, 0, 7, 8, 9, 10, 0};
  FILETIME before{};
  FILETIME after{};
  SystemTimeToFileTime(&not_before, &before);
  SystemTimeToFileTime(&not_after, &after);
  const struct {
    int selector;
    std::string text;
    const FILETIME* time;
  } cases[] = {
      {kSubjectName, "Name", nullptr},
      {kNotAfter, "", &after},
      {kSubjectDn, "CN=Name, O=Org, C=CN", nullptr},
      {kNotBefore, "", &before},
      {kIssuerName, "KOBA Test Root", nullptr},
      {kIssuerDn, "KOBA Test Root, Org, CN", nullptr},
  };
  const auto len = static_cast<DWORD>(user_.size());
  for (const auto& c : cases) {
    char a[300] = {};
    wchar_t w[300] = {};
    ASSERT_EQ(CertificateFieldA(user_.data(), len, c.selector, a, 300), 0u) << c.selector;
    ASSERT_EQ(CertificateFieldW(user_.data(), len, c.selector, w, 300), 0u) << c.selector;
    if (c.time != nullptr) {
      EXPECT_EQ(std::memcmp(a, c.time, sizeof(FILETIME)), 0) << c.selector;
      EXPECT_EQ(std::memcmp(w, c.time, sizeof(FILETIME)), 0) << c.selector;
    } else {
      EXPECT_EQ(std::string(a), c.text);
      EXPECT_EQ(std::wstring(w), std::wstring(c.text.begin(), c.text.end()));
    }
  }
  char a[300];
  EXPECT_EQ(CertificateFieldA(user_.data(), len, 7, a, 300),
            static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(CertificateFieldA(user_.data(), len, kNotAfter, a, 4),
            static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  // A name longer than the buffer is cut to it.
  EXPECT_EQ(CertificateFieldA(user_.data(), len, kSubjectDn, a, 8), 0u);
  EXPECT_EQ(std::string(a), "CN=Name");
  const unsigned char garbage[] = {0x30, 0x03, 0x02, 0x01};
  EXPECT_NE(CertificateFieldA(garbage, sizeof garbage, kSubjectName, a, 300), 0u);
}

TEST_F(CertStore, RegistersUserCertificatesLinkedToTheirContainer) {
  const char* container = "\\\\.\\Korvanet 00112233445566778899AABBCCDDEEFF\\c1";
  ASSERT_EQ(Register(kProvider, container, AT_SIGNATURE, user_), 0u);
  ASSERT_EQ(Register(kProvider, "\\\\.\\Korvanet X\\c9", AT_KEYEXCHANGE, user_), 0u);
  std::wstring got_container;
  DWORD spec = 0;
  // The second registration replaced the first.
  EXPECT_EQ(CountIn(CERT_SYSTEM_STORE_CURRENT_USER, L"MY", user_, &got_container, &spec), 1u);
  EXPECT_EQ(got_container, L"\\\\.\\Korvanet X\\c9");
  EXPECT_EQ(spec, static_cast<DWORD>(AT_KEYEXCHANGE));

  // A self-signed certificate is no user certificate: nothing is added.
  EXPECT_EQ(Register(kProvider, container, AT_SIGNATURE, root_), 0u);
  EXPECT_EQ(InMy(root_), 0u);

  EXPECT_EQ(Register(kProvider, container, 3, user2_), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(Register(kProvider, std::string(257, 'c').c_str(), AT_SIGNATURE, user2_),
            static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  const std::vector<unsigned char> cut(user2_.begin(), user2_.begin() + 100);
  EXPECT_NE(Register(kProvider, container, AT_SIGNATURE, cut), 0u);
  EXPECT_EQ(InMy(user2_), 0u);
}

// A store that will not keep one certificate: the refusal is the result, the certificate is
// not there, others are stored as before, and once the store takes it again it is registered.
TEST_F(CertStore, AnEntryTheStoreRefusesIsReported) {
  const char* container = "\\\\.\\Korvanet DDDD\\c1";
  ASSERT_EQ(koba::testing::RefuseStoreEntry(user_), 0u);
  const DWORD refused = Register(kProvider, container, AT_SIGNATURE, user_);
  EXPECT_EQ(koba::testing::AllowStoreEntry(user_), 0u);
  EXPECT_TRUE(refused == ERROR_ACCESS_DENIED ||
              refused == static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)))
      << refused;
  EXPECT_EQ(InMy(user_), 0u);
  EXPECT_EQ(Register(kProvider, container, AT_SIGNATURE, user2_), 0u);
  EXPECT_EQ(InMy(user2_), 1u);
  EXPECT_EQ(Register(kProvider, container, AT_SIGNATURE, user_), 0u);
  EXPECT_EQ(InMy(user_), 1u);
}

TEST_F(CertStore, CaCertificatesGoToTheMachineStores) {
  ASSERT_EQ(Register(kProvider, "", 0, root_), 0u);
  ASSERT_EQ(Register(kProvider, "", 0, root_), 0u);
  EXPECT_EQ(CountIn(CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT", root_), 1u);
  ASSERT_EQ(Register(kProvider, "", 0, inter_), 0u);
  EXPECT_EQ(CountIn(CERT_SYSTEM_STORE_LOCAL_MACHINE, L"CA", inter_), 1u);
  EXPECT_EQ(CountIn(CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT", inter_), 0u);
}

TEST_F(CertStore, DeletesByKeySpecAndContainerPrefix) {
  const char* dev_a = "\\\\.\\Korvanet AAAA\\";
  const char* dev_b = "\\\\.\\Korvanet BBBB\\";
  struct Setup {
    const char* provider;
    std::string container;
    DWORD spec;
    const std::vector<unsigned char>* cert;
  };
  const struct {
    const char* prefix;
    int selector;
    bool user_kept, user2_kept;
  } cases[] = {
      // user: dev_a, spec 2; user2: dev_b, spec 1
      {nullptr, 2, false, true},   {nullptr, 1, true, false}, {nullptr, 0, false, false},
      {dev_a, 0, false, true},     {dev_b, 2, true, true},    {dev_b, -1, true, false},
      {nullptr, -1, false, false},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(Register(kProvider, (std::string(dev_a) + "c1").c_str(), 2, user_), 0u);
    ASSERT_EQ(Register(kProvider, (std::string(dev_b) + "c2").c_str(), 1, user2_), 0u);
    EXPECT_EQ(DeleteStoredCertificates(kProvider, c.prefix, c.selector), 0u);
    EXPECT_EQ(InMy(user_), c.user_kept ? 1u : 0u) << (c.prefix ? c.prefix : "-") << c.selector;
    EXPECT_EQ(InMy(user2_), c.user2_kept ? 1u : 0u) << (c.prefix ? c.prefix : "-") << c.selector;
    Clean();
  }
}

TEST_F(CertStore, SelectorMinusOneAlwaysRemovesContainersThatAreNoDevicePath) {
  ASSERT_EQ(Register(kProvider, "plain-container", 1, user_), 0u);
  ASSERT_EQ(Register(kOtherProvider, "\\\\.\\Korvanet AAAA\\c2", 1, user2_), 0u);
  EXPECT_EQ(DeleteStoredCertificates(kProvider, "\\\\.\\Korvanet AAAA\\", -1), 0u);
  EXPECT_EQ(InMy(user_), 0u);
  // Another provider's certificate is never touched.
  EXPECT_EQ(DeleteStoredCertificates(kProvider, nullptr, 0), 0u);
  EXPECT_EQ(InMy(user2_), 1u);
}

// A certificate that an earlier process registered is really gone after the delete.
TEST_F(CertStore, DeletesWhatAnotherProcessRegistered) {
  const std::wstring args = L"register \"" +
                            std::wstring(kProvider, kProvider + sizeof kProvider - 1) +
                            L"\" \"\\\\.\\Korvanet CCCC\\c1\" 2 \"" CERT_DIR L"\\user.der\"";
  ASSERT_EQ(koba::testing::RunTool(args), 0);
  ASSERT_EQ(InMy(user_), 1u);
  EXPECT_EQ(DeleteStoredCertificates(kProvider, "\\\\.\\Korvanet CCCC\\", 2), 0u);
  EXPECT_EQ(InMy(user_), 0u);
}

TEST_F(CertStore, AddToSystemStore) {
  EXPECT_EQ(AddToSystemStore(L"CA", inter_.data(), static_cast<DWORD>(inter_.size())), 0u);
  EXPECT_EQ(AddToSystemStore(L"CA", inter_.data(), static_cast<DWORD>(inter_.size())), 0u);
  EXPECT_EQ(CountIn(CERT_SYSTEM_STORE_CURRENT_USER, L"CA", inter_), 1u);
  const unsigned char garbage[] = {0x30, 0x03, 0x02, 0x01};
  EXPECT_NE(AddToSystemStore(L"CA", garbage, sizeof garbage), 0u);
  EXPECT_EQ(AddToSystemStore(nullptr, inter_.data(), static_cast<DWORD>(inter_.size())),
            static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
}  // namespace koba::certstore
