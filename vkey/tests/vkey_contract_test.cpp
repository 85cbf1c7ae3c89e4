// The stand-ins' entry points as their callers use them, under Wine, on keys laid out in a
// store folder of the test's own.
#include <windows.h>

#include <gtest/gtest.h>
#include <ntddscsi.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/csp_api.h"
#include "common/token_api.h"
#include "crypto.h"
#include "device.h"
#include "store.h"

namespace tk = koba::token;
namespace cs = koba::csp;
using vkey::Bytes;

namespace {

struct Library {
  explicit Library(const wchar_t* name) : module(LoadLibraryW(name)) {}
  ~Library() {
    if (module)
      FreeLibrary(module);
  }
  template <typename T>
  T Get(const char* name) const {
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  }
  HMODULE module;
};

#define TOKEN(name) token_.Get<tk::PFN_##name>(#name)
#define CSP(name) csp_.Get<cs::PFN_##name>(#name)

class VkeyContract : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"vkey-contract-" + std::to_wstring(GetCurrentProcessId()) +
              L"-" + std::to_wstring(GetTickCount());
    ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
    SetEnvironmentVariableW(L"KOBA_VKEY_STORE", folder_.c_str());
    SetEnvironmentVariableW(L"KOBA_VKEY_POLL_MS", L"5");
    ASSERT_NE(token_.module, nullptr);
    ASSERT_NE(csp_.module, nullptr);
    ASSERT_NE(devex_.module, nullptr);
  }
  void TearDown() override {
    for (const wchar_t* f : {L"\\store.json", L"\\store.lock"})
      DeleteFileW((folder_ + f).c_str());
    RemoveDirectoryW(folder_.c_str());
    SetEnvironmentVariableW(L"KOBA_VKEY_STORE", nullptr);
  }

  // Adds a key with one RSA-1024 key pair (container "c1", signature key, no certificate).
  uint32_t AddKey(const std::string& serial, bool admin, bool with_pair = true) {
    uint32_t slot = 0;
    EXPECT_TRUE(vkey::Transact([&](vkey::Store& s) {
      vkey::Key& k = vkey::AddKey(s, serial, admin);
      slot = k.slot;
      if (with_pair) {
        vkey::KeyPair pair;
        EXPECT_TRUE(vkey::GenerateKeyPair(1, 1024, &pair));
        EXPECT_TRUE(vkey::AddPairToContainer(k, "c1", 2, pair, 1));
      }
      return true;
    }));
    return slot;
  }
  void Edit(const std::string& serial, const std::function<void(vkey::Store&, vkey::Key&)>& f) {
    ASSERT_TRUE(vkey::Transact([&](vkey::Store& s) {
      f(s, *s.BySerial(serial + std::string(16 - serial.size(), ' ')));
      return true;
    }));
  }

  std::wstring folder_;
  Library token_{L"Q2Token_koba.dll"};
  Library csp_{L"Q2CSP_KOBA.dll"};
  Library devex_{L"Q2DevEx01_koba.dll"};
};

TEST_F(VkeyContract, SlotListAndDeviceInformation) {
  uint32_t slots[tk::kSlotListCapacity], count = tk::kSlotListCount;
  ASSERT_EQ(TOKEN(VexloT_GetSlotList)(1, slots, &count), tk::kOk);
  EXPECT_EQ(count, 0u);
  const uint32_t a = AddKey("AB12", false), b = AddKey("CD34", true);
  count = tk::kSlotListCount;
  ASSERT_EQ(TOKEN(VexloT_GetSlotList)(1, slots, &count), tk::kOk);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(slots[0], a);
  EXPECT_EQ(slots[1], b);
  count = 1;
  EXPECT_EQ(TOKEN(VexloT_GetSlotList)(1, slots, &count), tk::kStatusBufferTooSmall);
  EXPECT_EQ(count, 2u);

  uint8_t info[tk::devinfo::kReserve];
  ASSERT_EQ(TOKEN(VexloT_GetDeviceInfo)(a, 0, info), tk::kOk);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(info + tk::devinfo::kSerial), 16),
            "AB12            ");
  uint32_t size;
  std::memcpy(&size, info, 4);
  EXPECT_EQ(size, tk::devinfo::kSize);
  EXPECT_EQ(info[tk::devinfo::kTriesLeft], 6);
  Edit("AB12", [](vkey::Store& s, vkey::Key& k) { vkey::RemoveKey(s, k); });
  EXPECT_EQ(TOKEN(VexloT_GetDeviceInfo)(a, 0, info), tk::kStatusNoDevice);
  count = tk::kSlotListCount;
  ASSERT_EQ(TOKEN(VexloT_GetSlotList)(1, slots, &count), tk::kOk);
  EXPECT_EQ(count, 1u);
}

TEST_F(VkeyContract, DeviceParameters) {
  const uint32_t slot = AddKey("PARAM1", true);
  const uint32_t h = slot | tk::kTokenHandleFlag;
  Edit("PARAM1", [](vkey::Store&, vkey::Key& k) {
    k.language_mask = 0x8300;
    k.charset_flags = 0x200;
    k.user_key_list = {Bytes{'a', 'b'}, Bytes{'c'}};
  });
  auto read32 = [&](uint32_t id) {
    uint32_t v = 0xDEADBEEF;
    EXPECT_EQ(TOKEN(VexloT_ManTokenParam)(h, id, &v), tk::kOk) << id;
    return v;
  };
  struct Case {
    uint32_t id;
    uint32_t want;
  } cases[] = {{tk::kParamAdminFlag, 1},
               {tk::kParamLanguageMask, 0x8300},
               {tk::kParamCharsetFlags, 0x200},
               {tk::kParamCharsetRead, 1},
               {tk::kParamUsbModeRead, 0}};
  for (const Case& c : cases)
    EXPECT_EQ(read32(c.id), c.want) << c.id;

  uint8_t charset = 0;
  ASSERT_EQ(TOKEN(VexloT_ManTokenParam)(h, tk::kParamCharsetWrite, &charset), tk::kOk);
  EXPECT_EQ(read32(tk::kParamCharsetRead), 0u);
  charset = 2;
  EXPECT_EQ(TOKEN(VexloT_ManTokenParam)(h, tk::kParamCharsetWrite, &charset),
            tk::kStatusBadArgument);
  uint8_t mode[20] = {0x80};
  ASSERT_EQ(TOKEN(VexloT_ManTokenParam)(slot, tk::kParamUsbModeWrite, mode), tk::kOk);
  EXPECT_EQ(read32(tk::kParamUsbModeRead), 0x80u);
  uint16_t language = 7;
  ASSERT_EQ(TOKEN(VexloT_ManTokenParam)(h, tk::kParamLanguage, &language), tk::kOk);
  uint8_t info[tk::devinfo::kReserve];
  ASSERT_EQ(TOKEN(VexloT_GetDeviceInfo)(slot, 0, info), tk::kOk);
  EXPECT_EQ(info[tk::devinfo::kLanguage], 7);

  uint8_t list[tk::kKeyListCapacity] = {};
  ASSERT_EQ(TOKEN(VexloT_ManTokenParam)(h, tk::kParamUserKeyList, list), tk::kOk);
  const uint8_t want_list[] = {11, 0, 0, 0, 2, 0, 0, 0, 'a', 'b', 1, 0, 0, 0, 'c'};
  EXPECT_EQ(Bytes(list, list + sizeof want_list), Bytes(want_list, want_list + sizeof want_list));
  ASSERT_EQ(TOKEN(VexloT_ManTokenParam)(h, tk::kParamRsaKeyList, list), tk::kOk);
  uint32_t total, first;
  std::memcpy(&total, list, 4);
  std::memcpy(&first, list + 4, 4);
  EXPECT_EQ(total, first + 4) << "one RSA key";
  EXPECT_TRUE(first == 128 || first == 256) << "its modulus";
  EXPECT_GE(list[8], 0x80) << "a modulus of its full length";

  char text[tk::kAdminInfoSize + 1] = {};
  ASSERT_EQ(TOKEN(VexloT_ManTokenParam)(h, tk::kParamAdminInfo, text), tk::kOk);
  EXPECT_EQ(text[2], '0');
  EXPECT_EQ(text[3], '0');
  char ident[tk::kIdentifierStringCapacity];
  ASSERT_EQ(TOKEN(VexloT_ManTokenParam)(slot, tk::kParamIdentifierString, ident), tk::kOk);
  EXPECT_NE(std::string(ident).find("_3951"), std::string::npos);
  const char label[] = "New label";
  ASSERT_EQ(TOKEN(VexloT_ManTokenParam)(slot, tk::kParamLabel, const_cast<char*>(label)), tk::kOk);
  ASSERT_EQ(TOKEN(VexloT_GetDeviceInfo)(slot, 0, info), tk::kOk);
  EXPECT_STREQ(reinterpret_cast<char*>(info + tk::devinfo::kLabel), label);
  uint32_t changed = 0;
  ASSERT_EQ(TOKEN(VexloT_ManTokenParam)(0, tk::kParamDeviceChanged, &changed), tk::kOk);
  EXPECT_EQ(changed, 1u) << "keys were added since this process last asked";
  ASSERT_EQ(TOKEN(VexloT_ManTokenParam)(0, tk::kParamDeviceChanged, &changed), tk::kOk);
  EXPECT_EQ(changed, 0u);
  EXPECT_EQ(TOKEN(VexloT_ManTokenParam)(0, tk::kParamToolStart, nullptr), tk::kOk);

  // A public-key request block (GMGetPublicKeyC) on the administrator key: the random bytes
  // stay, then the requested key's id, length and key, and the key's signature.
  uint8_t block[tk::kPublicKeyRequestSize] = {'0', '2'};
  for (int i = 2; i < 17; ++i)
    block[i] = static_cast<uint8_t>(i);
  block[17] = 1;
  ASSERT_EQ(TOKEN(VexloT_ManTokenParam)(h, tk::kParamPublicKeyRequest, block), tk::kOk);
  for (int i = 0; i < 15; ++i)
    EXPECT_EQ(block[i], i + 2);
  uint32_t answer;
  std::memcpy(&answer, block + 15, 4);
  EXPECT_EQ(block[19], 1);
  EXPECT_EQ(block[20] << 8 | block[21], 128);
  EXPECT_EQ(answer, 3u + 128 + 2 + 128) << "entry and RSA-1024 signature";
  block[17] = 0x55;
  EXPECT_EQ(TOKEN(VexloT_ManTokenParam)(h, tk::kParamPublicKeyRequest, block), tk::kStatusNotFound);
  for (uint32_t id :
       {tk::kParamContainersRead, tk::kParamStillPresent, tk::kParamResetAfterFailure})
    EXPECT_EQ(TOKEN(VexloT_ManTokenParam)(slot, id, nullptr), tk::kOk) << id;
  EXPECT_EQ(TOKEN(VexloT_ManTokenParam)(slot, tk::kParamFontLibrary, reinterpret_cast<void*>(1)),
            tk::kOk);
  EXPECT_EQ(TOKEN(VexloT_ManTokenParam)(h, 77, list), tk::kStatusUnsupported);
  EXPECT_EQ(TOKEN(VexloT_ManTokenParam)(h, tk::kParamAdminFlag, nullptr), tk::kStatusBadArgument);
}

TEST_F(VkeyContract, PinStatuses) {
  const uint32_t h = AddKey("PIN1", false) | tk::kTokenHandleFlag;
  Edit("PIN1", [](vkey::Store&, vkey::Key& k) { k.max_tries = k.tries_left = 3; });
  auto login = [&](const char* pin) {
    return TOKEN(VexloT_Login)(h, tk::kUserTypeUser, pin, static_cast<uint32_t>(strlen(pin)));
  };
  EXPECT_EQ(login("111111"), tk::kStatusPinWrong + 2);
  EXPECT_EQ(login("123456"), tk::kOk) << "a right PIN restores the tries";
  EXPECT_EQ(login("111111"), tk::kStatusPinWrong + 2);
  EXPECT_EQ(login("111111"), tk::kStatusPinWrong + 1);
  uint8_t pin_info[8];
  ASSERT_EQ(TOKEN(VexloT_ManTokenParam)(h, tk::kParamPinInfo, pin_info), tk::kOk);
  EXPECT_EQ(pin_info[2], 1);
  EXPECT_EQ(TOKEN(VexloT_ChangePin)(h, tk::kUserTypeUser, "000000", 6, "654321", 6),
            tk::kStatusPinLocked);
  EXPECT_EQ(login("123456"), tk::kStatusPinLocked) << "locked stays locked";
  ASSERT_EQ(TOKEN(VexloT_InitToken)(h, tk::kUserTypeUser, "999999", 6), tk::kOk);
  EXPECT_EQ(login("999999"), tk::kOk);
  EXPECT_EQ(TOKEN(VexloT_ChangePin)(h, tk::kUserTypeUser, "999999", 6, "246810", 6), tk::kOk);
  EXPECT_EQ(login("246810"), tk::kOk);
  Edit("PIN1", [](vkey::Store&, vkey::Key& k) { k.presses = {"timeout", "refuse"}; });
  EXPECT_EQ(login("246810"), tk::kStatusTimeout);
  EXPECT_EQ(login("246810"), tk::kStatusCancelled);
  Edit("PIN1", [](vkey::Store&, vkey::Key& k) {
    k.faults = {{"VexloT_Login", 0xE011FFFE, false}};
  });
  EXPECT_EQ(login("246810"), tk::kStatusEnvironment);
  EXPECT_EQ(TOKEN(VexloT_Logout)(h & ~tk::kTokenHandleFlag, 1), tk::kOk);
  uint8_t digest[20] = {}, sig[300];
  uint32_t sig_len = sizeof sig;
  EXPECT_EQ(TOKEN(VexloT_RsaSign)(h, 1, tk::kDigestSha1, digest, 20, sig, &sig_len),
            tk::kStatusNotLoggedIn);
}

TEST_F(VkeyContract, DigestsCiphersAndBase64) {
  // FIPS 180 and GB/T 32905 test vectors for "abc".
  struct Case {
    int ossl, alg;
    const char* hex;
  } cases[] = {
      {tk::kOsslSha1, tk::kAlgSha1, "A9993E364706816ABA3E25717850C26C9CD0D89D"},
      {tk::kOsslSha256, tk::kAlgSha256,
       "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"},
      {tk::kOsslSm3, tk::kAlgSm3,
       "66C7F0F462EEEDD9D1F2D46BDC10E4E24167C4875CF2F7A2297DA02B8F4BA8E0"},
      {tk::kOsslMd5, tk::kAlgMd5, "900150983CD24FB0D6963F7D28E17F72"},
  };
  for (const Case& c : cases) {
    void* ctx = nullptr;
    uint8_t out[64];
    int n = sizeof out;
    ASSERT_EQ(TOKEN(Ossl_DigestInit)(&ctx, c.ossl), 1);
    ASSERT_EQ(TOKEN(Ossl_DigestUpdate)(ctx, reinterpret_cast<const uint8_t*>("ab"), 2), 1);
    ASSERT_EQ(TOKEN(Ossl_DigestUpdate)(ctx, reinterpret_cast<const uint8_t*>("c"), 1), 1);
    ASSERT_EQ(TOKEN(Ossl_DigestFinal)(ctx, out, &n), 1);
    EXPECT_EQ(vkey::Hex(Bytes(out, out + n)), c.hex);
    uint8_t out2[64];
    EXPECT_EQ(TOKEN(ALG_Digest)(reinterpret_cast<const uint8_t*>("abc"), 3, out2, c.alg), n);
    EXPECT_EQ(Bytes(out, out + n), Bytes(out2, out2 + n));
  }
  void* ctx = nullptr;
  EXPECT_EQ(TOKEN(Ossl_DigestInit)(&ctx, 7), 0);

  // 3DES-CBC through the streaming calls and through ALG_DesEncrypt give the same bytes and
  // decrypt back.
  uint8_t key[24], iv[8] = {};
  for (int i = 0; i < 24; ++i)
    key[i] = static_cast<uint8_t>(i * 7 + 1);
  const std::string plain = "twenty-one bytes text";
  uint8_t enc[64];
  int n1 = sizeof enc, n2;
  ASSERT_EQ(TOKEN(Ossl_EncryptInit)(&ctx, tk::kOsslCipherDesEde3Cbc, key, iv), 1);
  ASSERT_EQ(TOKEN(Ossl_EncryptUpdate)(ctx, reinterpret_cast<const uint8_t*>(plain.data()),
                                      static_cast<int>(plain.size()), enc, &n1),
            1);
  n2 = sizeof enc - n1;
  ASSERT_EQ(TOKEN(Ossl_EncryptFinal)(ctx, enc + n1, &n2), 1);
  ASSERT_EQ(n1 + n2, 24);
  uint8_t inplace[64];
  std::memcpy(inplace, plain.data(), plain.size());
  EXPECT_EQ(TOKEN(ALG_DesEncrypt)(inplace, 21, sizeof inplace, key, 24, tk::kDes3Cbc | tk::kDesPad),
            24u);
  EXPECT_EQ(Bytes(enc, enc + 24), Bytes(inplace, inplace + 24));
  EXPECT_EQ(TOKEN(ALG_DesDecrypt)(inplace, 24, sizeof inplace, key, 24, tk::kDes3Cbc | tk::kDesPad),
            21u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(inplace), 21), plain);
  uint8_t dec[64];
  int d1 = sizeof dec, d2;
  ASSERT_EQ(TOKEN(Ossl_DecryptInit)(&ctx, tk::kOsslCipherDesEde3Cbc, key, iv), 1);
  ASSERT_EQ(TOKEN(Ossl_DecryptUpdate)(ctx, enc, 24, dec, &d1), 1);
  d2 = sizeof dec - d1;
  ASSERT_EQ(TOKEN(Ossl_DecryptFinal)(ctx, dec + d1, &d2), 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(dec), d1 + d2), plain);
  EXPECT_EQ(TOKEN(ALG_DesDecrypt)(enc, 23, 64, key, 24, tk::kDes3Cbc | tk::kDesPad), 0u);
  EXPECT_EQ(TOKEN(ALG_DesDecrypt)(enc, 24, 64, key, 20, tk::kDes3Cbc | tk::kDesPad), 0u);
  // Two-key 3DES-ECB (the language files' mode) round trip.
  uint8_t block[16] = "fifteen bytes!!";
  EXPECT_EQ(TOKEN(ALG_DesEncrypt)(block, 16, 16, key, 16, tk::kDes3Ecb), 16u);
  EXPECT_NE(std::string(reinterpret_cast<char*>(block), 15), "fifteen bytes!!");
  EXPECT_EQ(TOKEN(ALG_DesDecrypt)(block, 16, 16, key, 16, tk::kDes3Ecb), 16u);
  EXPECT_STREQ(reinterpret_cast<char*>(block), "fifteen bytes!!");

  // Base64: line feed after 64 characters; decode accepts the breaks.
  Bytes data(100);
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<uint8_t>(i * 13);
  uint8_t text[256];
  int tn = sizeof text;
  ASSERT_EQ(TOKEN(Ossl_Base64_Encode)(data.data(), 100, text, &tn), 1);
  EXPECT_EQ(text[64], '\n');
  EXPECT_EQ(tn, 136 + 3);  // 64, 64 and 8 characters, each line ended
  uint8_t back[256];
  int bn = sizeof back;
  ASSERT_EQ(TOKEN(Ossl_Base64_Decode)(text, tn, back, &bn), 1);
  EXPECT_EQ(Bytes(back, back + bn), data);
  tn = sizeof text;
  ASSERT_EQ(TOKEN(Ossl_Base64_P7_FileData)(data.data(), 100, text, &tn), 1);
  EXPECT_EQ(tn, 136);
  EXPECT_EQ(std::memchr(text, '\n', static_cast<size_t>(tn)), nullptr);
  // A file longer than one piece of the encoder comes back whole.
  Bytes file(3 * 16384 * 2 + 5);
  for (size_t i = 0; i < file.size(); ++i)
    file[i] = static_cast<uint8_t>(i * 7 + i / 251);
  std::vector<uint8_t> file_text((file.size() + 2) / 3 * 4);
  int ftn = static_cast<int>(file_text.size());
  ASSERT_EQ(TOKEN(Ossl_Base64_P7_FileData)(file.data(), static_cast<int>(file.size()),
                                           file_text.data(), &ftn),
            1);
  ASSERT_EQ(static_cast<size_t>(ftn), file_text.size());
  std::vector<uint8_t> file_back(file.size() + 3);
  int fbn = static_cast<int>(file_back.size());
  ASSERT_EQ(TOKEN(Ossl_Base64_Decode)(file_text.data(), ftn, file_back.data(), &fbn), 1);
  EXPECT_EQ(Bytes(file_back.begin(), file_back.begin() + fbn), file);
  ftn -= 1;
  EXPECT_EQ(TOKEN(Ossl_Base64_P7_FileData)(file.data(), static_cast<int>(file.size()),
                                           file_text.data(), &ftn),
            0)
      << "too small";
  bn = sizeof back;
  EXPECT_EQ(TOKEN(Ossl_Base64_Decode)(reinterpret_cast<const uint8_t*>("QQ=A"), 4, back, &bn), 0);
  tn = 10;
  EXPECT_EQ(TOKEN(Ossl_Base64_Encode)(data.data(), 100, text, &tn), 0) << "too small";
  // Streamed Base64 equals the one-shot form.
  void* enc_ctx = nullptr;
  std::string streamed;
  ASSERT_EQ(TOKEN(Ossl_EncodeInit)(&enc_ctx), 1);
  for (size_t at = 0; at < data.size(); at += 30) {
    tn = sizeof text;
    ASSERT_EQ(TOKEN(Ossl_EncodeUpdate)(enc_ctx, data.data() + at,
                                       static_cast<int>(std::min<size_t>(30, data.size() - at)),
                                       text, &tn),
              1);
    streamed.append(reinterpret_cast<char*>(text), static_cast<size_t>(tn));
  }
  tn = sizeof text;
  ASSERT_EQ(TOKEN(Ossl_EncodeFinal)(enc_ctx, text, &tn), 1);
  streamed.append(reinterpret_cast<char*>(text), static_cast<size_t>(tn));
  EXPECT_EQ(streamed, vkey::Base64Encode(data.data(), data.size(), 64) + "\n");
}

TEST_F(VkeyContract, RsaPublicOperationOpensASignature) {
  vkey::KeyPair pair;
  ASSERT_TRUE(vkey::GenerateKeyPair(1, 1024, &pair));
  Bytes digest, sig;
  ASSERT_TRUE(
      vkey::Digest(8 /* GCRY_MD_SHA256 */, reinterpret_cast<const uint8_t*>("abc"), 3, &digest));
  ASSERT_TRUE(vkey::SignDigest(pair, tk::kDigestSha256, digest, &sig));
  const uint8_t e[] = {1, 0, 1};
  uint8_t out[128];
  ASSERT_EQ(TOKEN(SSL_RsaPublic_crypt)(sig.data(), static_cast<int>(sig.size()), out,
                                       pair.public_key.data(), 128, e, 3),
            128);
  EXPECT_EQ(out[0], 0x00);
  EXPECT_EQ(out[1], 0x01);
  EXPECT_EQ(out[2], 0xFF);
  EXPECT_EQ(Bytes(out + 96, out + 128), digest) << "PKCS#1 block ends with the digest";
  EXPECT_EQ(TOKEN(SSL_RsaPublic_crypt)(pair.public_key.data(), 128, out, pair.public_key.data(),
                                       128, e, 3),
            0)
      << "input not below the modulus";
}

TEST_F(VkeyContract, CspContainersKeyInfoAndDeletion) {
  const uint32_t slot = AddKey("CSP1", true);
  Edit("CSP1", [](vkey::Store&, vkey::Key& k) {
    vkey::KeyPair pair;
    ASSERT_TRUE(vkey::GenerateKeyPair(2, 256, &pair));
    ASSERT_TRUE(vkey::AddPairToContainer(k, "c2", 1, pair, 3));
  });
  uint8_t table[cs::kProviderTableSize] = {};
  const std::string reader = "\\\\.\\Korvanet VexloToken " + std::to_string(slot) + "\\";
  cs::CspProv prov = 0;
  ASSERT_TRUE(CSP(CPAcquireContext)(&prov, reader.c_str(), cs::kAcquireEnumerate, table));
  std::vector<std::string> names;
  char name[cs::kEnumNameCapacity];
  for (uint32_t flag = cs::kEnumFirst;; flag = 0) {
    uint32_t n = sizeof name;
    if (!CSP(CPGetProvParam)(prov, cs::kParamEnumContainers, reinterpret_cast<uint8_t*>(name), &n,
                             flag))
      break;
    names.emplace_back(name);
  }
  EXPECT_EQ(GetLastError(), cs::kErrorNoMoreItems);
  EXPECT_TRUE(CSP(CPReleaseContext)(prov, 0));
  EXPECT_EQ(names, (std::vector<std::string>{"c1", "c2"}));

  // Key information through both path forms.
  uint8_t info[tk::devinfo::kReserve];
  ASSERT_EQ(TOKEN(VexloT_GetDeviceInfo)(slot, 0, info), tk::kOk);
  const std::string prefix =
      "\\\\.\\Korvanet " + std::string(reinterpret_cast<char*>(info + tk::devinfo::kDeviceId), 16) +
      "\\";
  struct Case {
    std::string path;
    uint32_t spec;
    bool ok;
    uint32_t alg, kind, pk_len;
  } cases[] = {{reader + "c1", 2, true, 1, 1, 128},
               {prefix + "c2", 1, true, 2, 3, 64},
               {prefix + "c1", 1, false, 0, 0, 0},
               {reader + "c2", 2, false, 0, 0, 0}};
  for (const Case& c : cases) {
    ASSERT_TRUE(CSP(CPAcquireContext)(&prov, c.path.c_str(), 0, table)) << c.path;
    uint8_t pk[400], cert[4096];
    cs::KeyInfoRecord rec{};
    rec.size = sizeof rec;
    rec.public_key = pk;
    rec.public_key_length = sizeof pk;
    rec.certificate = cert;
    rec.certificate_length = sizeof cert;
    uint32_t spec = c.spec;
    EXPECT_EQ(CSP(CPGetProvParam)(prov, cs::kParamKeyInfo, reinterpret_cast<uint8_t*>(&rec), &spec,
                                  0) != 0,
              c.ok)
        << c.path;
    if (c.ok) {
      EXPECT_EQ(rec.key_algorithm, c.alg);
      EXPECT_EQ(rec.certificate_kind, c.kind);
      EXPECT_EQ(rec.public_key_length, c.pk_len);
      EXPECT_EQ(rec.certificate_length, 0u);
      cs::CspKey key = 0;
      ASSERT_TRUE(CSP(CPGetUserKey)(prov, c.spec, &key));
      uint32_t blob_len = 0;
      EXPECT_TRUE(CSP(CPExportKey)(prov, key, 0, cs::kPublicKeyBlob, 0, nullptr, &blob_len));
      EXPECT_EQ(blob_len, 20 + c.pk_len);
      uint32_t cert_len = sizeof cert;
      EXPECT_FALSE(CSP(CPGetKeyParam)(prov, key, cs::kKeyParamCertificate, cert, &cert_len, 0));
      EXPECT_TRUE(CSP(CPDestroyKey)(prov, key));
    }
    EXPECT_TRUE(CSP(CPReleaseContext)(prov, 0));
  }
  EXPECT_FALSE(CSP(CPAcquireContext)(&prov, (reader + "nope").c_str(), 0, table));
  EXPECT_EQ(GetLastError(), cs::kErrorBadKeyset);

  // The batch list, then a refused and a confirmed batch deletion.
  uint8_t list[cs::kBatchListCapacity], types[100], specs[100], kinds[100];
  cs::BatchRecord rec{};
  rec.slot = slot;
  rec.list = list;
  rec.list_length = sizeof list;
  rec.key_types = types;
  rec.key_specs = specs;
  rec.certificate_kinds = kinds;
  uint32_t size = sizeof rec;
  ASSERT_TRUE(
      CSP(CPGetProvParam)(0, cs::kParamListBatch, reinterpret_cast<uint8_t*>(&rec), &size, 0));
  EXPECT_EQ(rec.count, 2u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(list), rec.list_length),
            std::string("c1\0c2\0\0", 7));
  EXPECT_EQ(specs[1], 1);
  EXPECT_EQ(kinds[1], 3);
  cs::BatchRecord del{};
  const std::string entry = reader + "c2";
  Bytes dlist{static_cast<uint8_t>(entry.size())};
  dlist.insert(dlist.end(), entry.begin(), entry.end());
  dlist.push_back(0);
  uint8_t dtypes[100] = {types[1]}, dspecs[100] = {1};
  del.slot = slot;
  del.list = dlist.data();
  del.list_length = static_cast<uint32_t>(dlist.size());
  del.key_types = dtypes;
  del.key_specs = dspecs;
  Edit("CSP1", [](vkey::Store&, vkey::Key& k) { k.presses = {"refuse", "timeout"}; });
  for (uint32_t want : {cs::kErrorCancelled, cs::kErrorTimeout}) {
    EXPECT_FALSE(
        CSP(CPGetProvParam)(0, cs::kParamDeleteBatch, reinterpret_cast<uint8_t*>(&del), &size, 0));
    EXPECT_EQ(GetLastError(), want);
  }
  ASSERT_TRUE(
      CSP(CPGetProvParam)(0, cs::kParamDeleteBatch, reinterpret_cast<uint8_t*>(&del), &size, 0));
  EXPECT_FALSE(CSP(CPAcquireContext)(&prov, entry.c_str(), 0, table)) << "container gone";

  // Single deletion on a container path.
  ASSERT_TRUE(CSP(CPAcquireContext)(&prov, (reader + "c1").c_str(), 0, table));
  uint32_t spec = 2;
  EXPECT_TRUE(CSP(CPGetProvParam)(prov, cs::kParamDeleteKey, reinterpret_cast<uint8_t*>(&spec),
                                  nullptr, 0));
  EXPECT_FALSE(CSP(CPGetProvParam)(prov, cs::kParamDeleteKey, reinterpret_cast<uint8_t*>(&spec),
                                   nullptr, 0));
  EXPECT_TRUE(CSP(CPReleaseContext)(prov, 0));
}

TEST_F(VkeyContract, KeyObjectsNameGeneratedPairs) {
  const uint32_t h = AddKey("OBJ1", false, false) | tk::kTokenHandleFlag;
  uint8_t id[4];
  ASSERT_EQ(TOKEN(VexloT_GeneratePairKey)(h, id, 1024, 0, 0), tk::kOk);
  uint8_t blob[2304];
  uint32_t len = sizeof blob;
  ASSERT_EQ(TOKEN(VexloT_ExportPairKey)(h, id[0], tk::kExportPublicKey, blob, &len), tk::kOk);
  uint32_t pk_len;
  std::memcpy(&pk_len, blob + 4, 4);
  EXPECT_EQ(pk_len, 128u);
  auto attr = [](Bytes* o, uint32_t type, Bytes v) {
    const uint32_t n = static_cast<uint32_t>(v.size());
    o->insert(o->end(), reinterpret_cast<const uint8_t*>(&type),
              reinterpret_cast<const uint8_t*>(&type) + 4);
    o->insert(o->end(), reinterpret_cast<const uint8_t*>(&n),
              reinterpret_cast<const uint8_t*>(&n) + 4);
    o->insert(o->end(), v.begin(), v.end());
  };
  const std::string label = "{0A1B2C3D-4E5F-6a7b}";
  Bytes priv;
  attr(&priv, 0, {3, 0, 0, 0});
  attr(&priv, 0x80000004, Bytes(label.begin(), label.end()));
  attr(&priv, 0x80000006, {2});
  attr(&priv, 0x80000003, {2});
  attr(&priv, 0x80000002, {id[0]});
  uint32_t object = 0;
  ASSERT_EQ(TOKEN(VexloT_CreateObject)(h, tk::kObjectClassKey, &object, priv.data(),
                                       static_cast<uint32_t>(priv.size()), 1u << (id[0] - 1)),
            tk::kOk);
  EXPECT_NE(object, 0u);
  Bytes torn(priv.begin(), priv.end() - 1);
  EXPECT_EQ(TOKEN(VexloT_CreateObject)(h, tk::kObjectClassKey, &object, torn.data(),
                                       static_cast<uint32_t>(torn.size()), 0),
            tk::kStatusBadArgument);
  bool found = false;
  ASSERT_TRUE(vkey::Transact([&](vkey::Store& s) {
    const vkey::Container* c = s.BySerial("OBJ1            ")->FindContainer(label);
    found =
        c && c->keys.size() == 1 && c->keys[0].pair_id == id[0] && c->keys[0].certificate_kind == 2;
    return false;
  }));
  EXPECT_TRUE(found);
}

TEST_F(VkeyContract, ScsiTransportAnswersApdus) {
  const uint32_t slot = AddKey("SCSI1", false, false);
  char path[300];
  ASSERT_EQ(devex_.Get<uint32_t(WINAPI*)(uint32_t, char*, uint32_t)>("VkeyScsi_DevicePath")(
                slot, path, sizeof path),
            0u);
  EXPECT_NE(std::string(path).find("&ven_korvanet"), std::string::npos);
  EXPECT_NE(std::string(path).find("&rev_1."), std::string::npos);
  auto pass = devex_.Get<BOOL(WINAPI*)(const char*, void*, uint32_t)>("VkeyScsi_PassThrough");
  auto transact = [&](Bytes apdu) {
    uint8_t buffer[80] = {};
    auto* s = reinterpret_cast<SCSI_PASS_THROUGH_DIRECT*>(buffer);
    s->Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
    s->CdbLength = 6;
    s->DataIn = SCSI_IOCTL_DATA_OUT;
    s->DataTransferLength = static_cast<ULONG>(apdu.size());
    s->DataBuffer = apdu.data();
    s->Cdb[0] = 0xF1;
    EXPECT_TRUE(pass(path, buffer, sizeof buffer));
    EXPECT_EQ(s->ScsiStatus, 0);
    uint8_t in[4096] = {};
    s->DataIn = SCSI_IOCTL_DATA_IN;
    s->DataTransferLength = sizeof in;
    s->DataBuffer = in;
    s->Cdb[0] = 0xF2;
    EXPECT_TRUE(pass(path, buffer, sizeof buffer));
    const size_t n = static_cast<size_t>(in[0] << 8 | in[1]);
    return Bytes(in + 2, in + 2 + n);
  };
  struct Case {
    Bytes apdu;
    size_t length;
    uint8_t sw1, sw2;
  } cases[] = {{{0x00, 0xA4, 0x04, 0x00, 0x02, 0xA0, 0x01}, 2, 0x90, 0x00},
               {{0x80, 0xCA, 0x00, 0x01, 0x00}, 18, 0x90, 0x00},
               {{0x80, 0xCA, 0x00, 0x02, 0x00}, 18, 0x90, 0x00},
               {{0x00, 0x84, 0x00, 0x00, 0x10}, 18, 0x90, 0x00},
               {{0x80, 0xCA, 0x00, 0x09, 0x00}, 2, 0x6A, 0x88},
               {{0x00, 0x77, 0x00, 0x00}, 2, 0x6D, 0x00},
               {{0x90, 0xCA, 0x00, 0x01}, 2, 0x6E, 0x00},
               {{0x00}, 2, 0x67, 0x00}};
  for (const Case& c : cases) {
    const Bytes r = transact(c.apdu);
    ASSERT_EQ(r.size(), c.length) << vkey::Hex(c.apdu);
    EXPECT_EQ(r[r.size() - 2], c.sw1);
    EXPECT_EQ(r[r.size() - 1], c.sw2);
  }
  EXPECT_EQ(transact({0x80, 0xCA, 0x00, 0x01, 0x00}),
            Bytes({'S', 'C', 'S', 'I', '1', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                   0x90, 0x00}));
  Edit("SCSI1", [](vkey::Store& s, vkey::Key& k) { vkey::RemoveKey(s, k); });
  uint8_t buffer[80] = {};
  reinterpret_cast<SCSI_PASS_THROUGH_DIRECT*>(buffer)->CdbLength = 6;
  EXPECT_FALSE(pass(path, buffer, sizeof buffer));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
}

// The signed stand-ins pass WinVerifyTrust with a clean signer chain once the test root is
// trusted in the prefix (vkey trust-root, the step tools/install-vkey.sh takes).
TEST(VkeySignature, TrustedAfterTheTestRootIsAdded) {
  wchar_t exe[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(nullptr, exe, MAX_PATH), 0u);
  std::wstring dir(exe);
  dir.resize(dir.rfind(L'\\') + 1);
  std::wstring command = L"\"" + dir + L"vkey.exe\" trust-root \"" + dir + L"codesign\\root.der\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(
      CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  WaitForSingleObject(pi.hProcess, 60000);
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  ASSERT_EQ(code, 0u);

  for (const wchar_t* name : {L"Q2Token_koba.dll", L"Q2CSP_KOBA.dll", L"Q2DevEx01_koba.dll"}) {
    const std::wstring path = dir + name;
    WINTRUST_FILE_INFO file{};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = path.c_str();
    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    EXPECT_EQ(WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data), 0)
        << "WinVerifyTrust";
    CRYPT_PROVIDER_DATA* prov = WTHelperProvDataFromStateData(data.hWVTStateData);
    CRYPT_PROVIDER_SGNR* signer =
        prov ? WTHelperGetProvSignerFromChain(prov, 0, FALSE, 0) : nullptr;
    ASSERT_NE(signer, nullptr);
    ASSERT_NE(signer->pChainContext, nullptr);
    EXPECT_EQ(signer->pChainContext->TrustStatus.dwErrorStatus, 0u) << "clean signer chain";
    CERT_CHAIN_POLICY_PARA para{};
    para.cbSize = sizeof para;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    EXPECT_TRUE(CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE,
                                                 signer->pChainContext, &para, &status));
    EXPECT_EQ(status.dwError, 0u);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  }
}

}  // namespace

// Whatever links the virtual key (the stand-ins, the tool, this test) finds
// NtQuerySystemInformation through the entropy guard: the system handle list is refused, so
// libgcrypt's gatherer cannot ask Wine's server for it, and the other classes still answer.
TEST(VkeyEntropy, SystemHandleListIsRefused) {
  using Query = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
  const auto query = reinterpret_cast<Query>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  ASSERT_NE(query, nullptr);
  std::vector<unsigned char> buffer(0xf800);
  ULONG returned = 0;
  constexpr LONG kInvalidInfoClass = static_cast<LONG>(0xC0000003);
  for (ULONG handle_class : {16u, 64u}) {
    SCOPED_TRACE(handle_class);
    EXPECT_EQ(query(handle_class, buffer.data(), static_cast<ULONG>(buffer.size()), &returned),
              kInvalidInfoClass);
  }
  // The process list, which the gatherer also reads.
  returned = 0;
  EXPECT_EQ(query(5, buffer.data(), static_cast<ULONG>(buffer.size()), &returned), 0);
  EXPECT_GT(returned, 0u);
}
