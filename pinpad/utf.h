// Strict conversions between UTF-8 and UTF-16 for the library's texts.
#pragma once

#include <string>
#include <string_view>

namespace VKey {

// Decodes UTF-8 into UTF-16. Fails on malformed input (overlong forms, surrogates, truncated or
// out-of-range sequences); a leading byte order mark is kept as U+FEFF.
bool Utf8ToUtf16(std::string_view in, std::u16string* out);

// Encodes UTF-16 as UTF-8. Fails on unpaired surrogates.
bool Utf16ToUtf8(std::u16string_view in, std::string* out);

}  // namespace VKey
