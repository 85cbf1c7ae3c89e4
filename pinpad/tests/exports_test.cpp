// The exports of Q2Pinpad_KOBA.dll as a caller reaches them: loaded by path, resolved by name.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "built_library.h"
#include "pinpad_api.h"

namespace VKey {
namespace {

bool g_tokenCalled = false;

uint32_t KOBA_PINPAD_CALL TokenFunction(uint32_t, uint32_t, const char*, uint32_t) {
  g_tokenCalled = true;
  return 0;
}

class PinpadExports : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    module_ = LoadLibraryW(BuiltPinpadPath().c_str());
    ASSERT_NE(module_, nullptr) << "cannot load the PIN pad library";
  }
  static void TearDownTestSuite() {
    if (module_ != nullptr) {
      FreeLibrary(module_);
      module_ = nullptr;
    }
  }

  template <typename Fn>
  static Fn Export(const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
  }

  static PinpadParam ValidBlock() {
    PinpadParam p{};
    p.size = sizeof p;
    p.flags = 2;
    p.pollPeriodMs = 500;
    p.useType = PAD_USE_CHECKPIN;
    p.pinType = 2;
    p.deviceHandle = 0x20000000;
    p.pinMinLength = 6;
    p.pinMaxLength = 30;
    return p;
  }

  static HMODULE module_;
};

HMODULE PinpadExports::module_ = nullptr;

TEST_F(PinpadExports, EveryExportResolvesByNameAndSetHwndIsAbsent) {
  for (const char* name :
       {"Pinpad_Indicator", "Pinpad_ShowDialog", "Pinpad_CreateKeyEx", "Pinpad_VerifyData",
        "Pinpad_Param", "Pinpad_GetKeyInfo", "Pinpad_CreateKey", "Pinpad_MLGetText",
        "Pinpad_MLChangeDlgRes", "ToolsShowInit"}) {
    EXPECT_NE(GetProcAddress(module_, name), nullptr) << name;
  }
  EXPECT_EQ(GetProcAddress(module_, "Pinpad_SetHwnd"), nullptr);
}

TEST_F(PinpadExports, IndicatorRefusesBadBlocksWithoutCallingTheToken) {
  const auto indicator = Export<Pinpad_Indicator_t>("Pinpad_Indicator");
  ASSERT_NE(indicator, nullptr);
  void* token = reinterpret_cast<void*>(&TokenFunction);
  PinpadParam wrongSize = ValidBlock();
  wrongSize.size = 200;
  PinpadParam unknownUse = ValidBlock();
  unknownUse.useType = 0x100003;
  PinpadParam good = ValidBlock();
  const struct {
    const char* what;
    void* token;
    PinpadParam* block;
  } cases[] = {
      {"no block", token, nullptr},
      {"no token function", nullptr, &good},
      {"wrong size", token, &wrongSize},
      {"unknown use type", token, &unknownUse},
  };
  for (const auto& c : cases) {
    g_tokenCalled = false;
    const uint32_t flags = c.block ? c.block->flags : 0;
    EXPECT_EQ(indicator(0, c.token, 0, c.block), PINPAD_E_FAILED) << c.what;
    EXPECT_FALSE(g_tokenCalled) << c.what;
    if (c.block != nullptr) {
      EXPECT_EQ(c.block->flags, flags) << c.what << ": a refused block is not marked";
    }
  }
}

TEST_F(PinpadExports, BrowserMarkingFollowsTheLastForcingParamCall) {
  const auto indicator = Export<Pinpad_Indicator_t>("Pinpad_Indicator");
  const auto param = Export<Pinpad_Param_t>("Pinpad_Param");
  ASSERT_NE(indicator, nullptr);
  ASSERT_NE(param, nullptr);
  void* token = reinterpret_cast<void*>(&TokenFunction);

  PinpadParam block = ValidBlock();
  indicator(0, token, 0, &block);
  EXPECT_EQ(block.flags & kBrowserHostFlags, 0u) << "the test program is no browser";

  uint32_t language = 1049;
  param(&language, 1);
  block = ValidBlock();
  indicator(0, token, 0, &block);
  EXPECT_EQ(block.flags, 2u | kBrowserHostFlags);

  language = 1;
  param(&language, 0);
  block = ValidBlock();
  indicator(0, token, 0, &block);
  EXPECT_EQ(block.flags, 2u | kBrowserHostFlags) << "mode 0 does not undo the marking";
}

TEST_F(PinpadExports, ShowDialogAndCreateKeyExRefuseWhatTheyCannotShow) {
  const auto show = Export<Pinpad_ShowDialog_t>("Pinpad_ShowDialog");
  const auto create = Export<Pinpad_CreateKeyEx_t>("Pinpad_CreateKeyEx");
  ASSERT_NE(show, nullptr);
  ASSERT_NE(create, nullptr);
  uint32_t record[8] = {};
  for (uint32_t type : {3u, 4u, 0u, 10u, 0xFFFFFFFFu}) {
    EXPECT_EQ(show(type, record), PINPAD_E_FAILED) << type;
  }
  for (uint32_t type = 1; type <= 9; ++type) {
    EXPECT_EQ(show(type, nullptr), PINPAD_E_FAILED) << "type " << type << " without record";
  }
  GenKeyWaitHandle stale{kGenKeyWaitMagic, 1234, 0};
  EXPECT_EQ(show(5, &stale), PINPAD_E_FAILED);
  EXPECT_EQ(stale.magic, kGenKeyWaitMagic) << "a refused handle is left as it was";

  PinpadParam block = ValidBlock();
  int context = 0;
  void* callback = reinterpret_cast<void*>(&TokenFunction);
  EXPECT_EQ(create(&context, callback, nullptr, &block, 205), PINPAD_E_FAILED);
  EXPECT_EQ(create(&context, nullptr, nullptr, &block, 999), PINPAD_E_FAILED);
  EXPECT_EQ(create(&context, callback, nullptr, nullptr, 204), PINPAD_E_FAILED);
  EXPECT_FALSE(g_tokenCalled);
}

TEST_F(PinpadExports, VerifyDataJudgesTheSigningDocument) {
  const auto verify = Export<Pinpad_VerifyData_t>("Pinpad_VerifyData");
  ASSERT_NE(verify, nullptr);
  const std::string declaration = "<?xml version=\"1.0\"?>";
  const std::string yes = "<f name=\"A\" value=\"1\" DisplayOnScreen=\"True\"/>";
  const std::string odd = "<f name=\"B\" value=\"2\" DisplayOnScreen=\"yes\"/>";
  const struct {
    std::string document;
    uint32_t expected;
  } cases[] = {
      {"<T>" + yes + "</T>", 0},
      {declaration + "<T>" + yes + "</T>", 1},
      {declaration + "<T>" + yes + odd + "</T>", 0},
      {declaration + "<T>" + odd + yes + "</T>", 1},
      {declaration + "<T>" + yes, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(verify(1, c.document.data(), static_cast<uint32_t>(c.document.size())), c.expected)
        << c.document;
  }
  EXPECT_EQ(verify(1, nullptr, 10), 0u);
}

TEST_F(PinpadExports, FixedAnswers) {
  const auto keyInfo = Export<Pinpad_GetKeyInfo_t>("Pinpad_GetKeyInfo");
  const auto mlText = Export<Pinpad_MLGetText_t>("Pinpad_MLGetText");
  const auto mlRes = Export<Pinpad_MLChangeDlgRes_t>("Pinpad_MLChangeDlgRes");
  const auto createKey = Export<Pinpad_CreateKey_t>("Pinpad_CreateKey");
  const auto param = Export<Pinpad_Param_t>("Pinpad_Param");
  for (uint32_t v : {0u, 1u, 0xFFFFFFFFu}) {
    EXPECT_EQ(keyInfo(v), 0u);
    EXPECT_EQ(mlText(v, v, v, v), 0u);
    EXPECT_EQ(mlRes(v, v), 0u);
    EXPECT_EQ(createKey(v, v, v, v), PINPAD_E_FAILED);
  }
  EXPECT_NE(param(nullptr, 0), 0u);
  EXPECT_NE(param(nullptr, 1), 0u);
}

}  // namespace
}  // namespace VKey
