// Deciphered language-file bytes into the text table: every lookup the dialogs make (texts,
// formatted texts, dialog sections, the language list) on whatever the file holds. The file
// check and the cipher are stood in for by functions that accept and pass the bytes as they
// are, so the fuzzer reaches the parsing behind them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "lang_builtin.h"
#include "text_table.h"

namespace {

const unsigned char* g_expected_digest = nullptr;

int KOBA_TOKEN_CALL AcceptingDigest(const uint8_t*, uint32_t, uint8_t* out, int) {
  std::memcpy(out, g_expected_digest, 20);
  return 20;
}

uint32_t KOBA_TOKEN_CALL PlainDecrypt(uint8_t*, uint32_t length, uint32_t, const uint8_t*, uint32_t,
                                      uint32_t) {
  return length;
}

class FuzzEnv : public VKey::TextEnv {
 public:
  explicit FuzzEnv(std::vector<unsigned char> file) : file_(std::move(file)) {}
  std::optional<MachineSettings> ReadMachineSettings() override {
    return MachineSettings{std::string("C:\\KOBA"), 1033};
  }
  std::optional<uint32_t> ReadUserLangId() override { return 1033; }
  uint32_t SystemDefaultLangId() override { return 1033; }
  void WriteMachineAndUserLangId(uint32_t) override {}
  void WriteUserLangId(uint32_t) override {}
  int ReadFile(const std::string&, std::vector<unsigned char>* bytes) override {
    *bytes = file_;
    return 0;
  }

 private:
  std::vector<unsigned char> file_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzEnv env(std::vector<unsigned char>(data, data + size));
  VKey::TextTable table(env, VKey::TokenAlg{&AcceptingDigest, &PlainDecrypt});
  g_expected_digest = VKey::BuiltinLangDigest(1033);
  table.ReloadSettings();
  if (table.LastError() == 0) {
    for (const char* id : {"OK", "PinRemainTimes", "PAD_INPUT_PIN_LESS_8", "GenKeyWaiting"}) {
      if (table.LoadText(id).size() > VKey::TextTable::kMaxTextUnits)
        std::abort();
    }
    table.FormatText("PinRemainTimes", {3, std::u16string(u"x"), 7});
    std::vector<std::pair<std::string, std::u16string>> section;
    table.SectionTexts("IDD_DLG_VERIFYPIN", &section);
  }
  g_expected_digest = VKey::kLangListDigest;
  std::vector<VKey::LangListEntry> list;
  table.ReadLanguageList(&list);
  return 0;
}
