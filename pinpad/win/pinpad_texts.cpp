#include "pinpad_texts.h"

#include "token_library.h"

namespace VKey {

PinpadTexts& PinpadTexts::Get() {
  static PinpadTexts texts;
  return texts;
}

uint32_t PinpadTexts::Param(uint32_t value, uint32_t mode) {
  uint32_t language = value;
  const bool forced = mode != 0;
  if (forced) {
    lastForcingMode_ = mode;
  } else {
    language = ResolveIndexLanguage(value, env_.ReadUserLangSettings());
  }
  // The token library is bound only while the language file is read.
  const TokenLibrary token;
  table_.SetTokenAlg(token.alg());
  table_.ReloadSettings();
  const int result = table_.Select(language, forced);
  table_.SetTokenAlg(TokenAlg{});
  return static_cast<uint32_t>(result);
}

std::vector<LangListEntry> PinpadTexts::ToolLanguages(uint32_t* machineLanguage) {
  const TokenLibrary token;
  table_.SetTokenAlg(token.alg());
  table_.ReloadSettings();
  *machineLanguage = table_.ToolMachineLanguage();
  std::vector<LangListEntry> list;
  if (table_.ReadLanguageList(&list) != 0) {
    list.clear();
  }
  table_.SetTokenAlg(TokenAlg{});
  return list;
}

uint32_t PinpadTexts::SelectToolLanguage(uint32_t langId) {
  env_.WriteUserLangId(langId);
  return Param(langId, 1);
}

}  // namespace VKey
