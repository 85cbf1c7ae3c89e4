// The library's process-wide text table and its language selection through Pinpad_Param.
#pragma once

#include <cstdint>
#include <vector>

#include "text_table.h"
#include "win_text_env.h"

namespace VKey {

class PinpadTexts {
 public:
  static PinpadTexts& Get();

  // Pinpad_Param: mode 0 takes value as a language index resolved against the user's settings,
  // any other mode forces value as a language id. Returns 0 when the language file was loaded.
  uint32_t Param(uint32_t value, uint32_t mode);
  // The mode of the last forcing Pinpad_Param call, 0 before any.
  uint32_t lastForcingMode() const { return lastForcingMode_; }

  // The management tool's start: its machine language (written to the user's settings) and
  // the language list; an unreadable list gives none.
  std::vector<LangListEntry> ToolLanguages(uint32_t* machineLanguage);
  // The tool's language box: the user's LangId becomes langId, which is force-selected.
  uint32_t SelectToolLanguage(uint32_t langId);

  TextTable& table() { return table_; }

 private:
  PinpadTexts() : table_(env_, TokenAlg{}) {}

  WinTextEnv env_;
  TextTable table_;
  uint32_t lastForcingMode_ = 0;
};

}  // namespace VKey
