// The languages and text encodings a key can be set to, and the rules that turn a page's
// choice into device parameters and registry values. Windows-free.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace koba::core {

struct KeyLanguage {
  const char* name;
  uint32_t mask_bit;     // bit of the key's language support mask (device parameter 25)
  uint16_t index;        // device language index (parameter 21)
  uint32_t language_id;  // Windows language id
};

// The eleven languages a key displays, in list order.
extern const KeyLanguage kKeyLanguages[11];

// "zh_CN||en_US" for the names whose bits are in `mask`.
std::string LanguageList(uint32_t mask);
// "GBK||UTF-8" for the charset flags (device parameter 26).
std::string CharsetList(uint32_t flags);
// "GBK" 0, "UTF-8" 1, any case; false for any other name.
bool CharsetValue(std::string_view name, uint8_t* value);

// What SetLanguage writes for `name`: the device language index, and the "UILang" value when
// one is to be written.
struct LanguageChoice {
  uint16_t index = 0;
  bool write_ui_lang = false;
  uint32_t ui_lang = 0;
};
// Names compare exactly. A key language sets its index and clears "UILang" (whether or not
// the key's mask lists it); an interface-only language ("th_TH", "pl_PL", "nl_NL") sets
// English (1) and puts its Windows language id into "UILang". False for any other name.
bool ChooseLanguage(std::string_view name, LanguageChoice* choice);

}  // namespace koba::core
