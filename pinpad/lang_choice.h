// Which language the PIN pad shows: supported ids, the callers' language index, the user's
// and the machine's settings.
#pragma once

#include <cstdint>
#include <optional>

namespace VKey {

// Language ids for which a language file is accepted.
bool IsSupportedLanguage(uint32_t langId);

// The language id of a caller's language index (0..10), or nullopt outside the table.
std::optional<uint32_t> LanguageOfIndex(uint32_t index);

// The UISupport bit that enables a language index; 0 outside the table.
uint32_t SupportBitOfIndex(uint32_t index);

// The per-user settings read for a language index choice.
struct UserLangSettings {
  bool keyExists = false;             // the user's settings key could be opened
  std::optional<uint32_t> uiLang;     // UILang as a DWORD, when present
  std::optional<uint32_t> uiSupport;  // UISupport as a DWORD, when present
};

// The language chosen for a caller's value in mode 0: a UILang forced by the user wins;
// otherwise the index's language when UISupport enables it (absent or 0: every index enabled;
// key missing: none); otherwise 0, the machine language. A value outside the index table is
// kept as it stands.
uint32_t ResolveIndexLanguage(uint32_t value, const UserLangSettings& user);

// The machine language derived from the system default language: Belgian Dutch becomes Dutch,
// the Chinese of Hong Kong, Singapore and Macao becomes Traditional Chinese (1028).
uint32_t MapSystemLanguage(uint32_t systemLangId);

}  // namespace VKey
