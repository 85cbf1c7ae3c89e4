// How the plug-in reads and writes the texts of its registry and version exports: signed
// decimal numbers, hexadecimal byte texts and four-place version numbers.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace koba::installer {

// An optional '-', then decimal digits up to the first other character; wraps to 32 bits as
// the DWORD it is stored in. "-12" gives 0xFFFFFFF4, "" and "x" give 0.
uint32_t ParseDecimalDword(std::wstring_view text);

// Pairs of hexadecimal digits (either case), high nibble first; an odd last digit is the high
// nibble of a last byte. Any other character empties the whole result.
std::vector<uint8_t> ParseHexBytes(std::wstring_view text);

// Two upper-case hexadecimal digits per byte.
std::wstring FormatHexBytes(const uint8_t* bytes, size_t size);

using Version = std::array<uint32_t, 4>;

// Four pieces split at '.' or ','; the fourth is the rest of the text, missing pieces are 0.
// A piece's number adds each digit times ten to the power of the characters after it in the
// piece, so other characters count as places: " 20" and "2 " both read 20. Saturates at the
// largest 32-bit number.
Version ParseVersion(std::string_view text);

// True when `installed` is smaller than `required` at any place (compared place by place, not
// by significance); equal versions are never older.
bool IsOlderAtAnyPlace(const Version& installed, const Version& required);

}  // namespace koba::installer
