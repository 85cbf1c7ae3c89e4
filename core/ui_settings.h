// The key's display language and text encoding, the PIN pad's interface language and its
// warning text: what a bank page lists and chooses.
#pragma once

#include <cstddef>
#include <string_view>

#include "token_core.h"

namespace koba::core {

// "GBK||UTF-8" as the key supports them (capacity 100 and more).
int GetCharsetList(TokenCore& core, char* out, size_t capacity);
// "GBK" or "UTF-8", any case.
int SetCharset(TokenCore& core, std::string_view name);
// The names of the languages the key supports, joined by "||".
int GetLanguageList(TokenCore& core, char* out, size_t capacity);
// A key language ("zh_CN" ...) or an interface-only one ("th_TH", "pl_PL", "nl_NL").
int SetLanguage(TokenCore& core, std::string_view name);
// Stores the PIN pad's warning text (UTF-16, up to its first NUL); the registry status.
int SetWarningMsg(const wchar_t* text);

}  // namespace koba::core
