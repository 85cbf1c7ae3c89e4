// Text encodings shared by every deliverable: UTF-8, UTF-16, GB18030 (code page 54936, with
// the results Windows gives), standard Base64 and hexadecimal. Windows-free; the code-page wrappers
// that need the platform live in code_page.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace koba::text {

// Each conversion is strict: it returns false and leaves `out` empty when the input is not
// well-formed (truncated or overlong sequences, unpaired surrogates, code points above
// U+10FFFF, bytes that are no GB18030 code).
bool Utf8ToUtf16(std::string_view in, std::u16string* out);
bool Utf16ToUtf8(std::u16string_view in, std::string* out);
bool Gb18030ToUtf16(std::string_view in, std::u16string* out);
bool Utf16ToGb18030(std::u16string_view in, std::string* out);

// Standard Base64: A-Z, a-z, 0-9, "+", "/", "=" padding, no line breaks.
std::string Base64Encode(std::string_view bytes);
// The length of the Base64 text of n bytes, and the text written into a buffer of that length
// (no terminator), for callers that hand the text over in a buffer of their own.
size_t Base64EncodedSize(size_t n);
void Base64EncodeTo(std::string_view bytes, char* out);
// Accepts exactly what Base64Encode produces (length a multiple of four, padding only at the
// end, no other characters); returns false and leaves `out` empty otherwise.
bool Base64Decode(std::string_view text, std::string* out);

// The value of one hexadecimal digit of either case, or -1 for any other character.
int HexDigitValue(char32_t c);
// Bytes as upper-case hexadecimal, two digits each ("001FABFF").
std::string HexUpper(const uint8_t* bytes, size_t size);
std::wstring HexUpperWide(const uint8_t* bytes, size_t size);

}  // namespace koba::text
