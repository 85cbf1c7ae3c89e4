// Code-page conversions between byte text and UTF-16 as the deliverables need them. UTF-8
// (65001) and GB18030 (54936) are converted by the system's own converters, so that the
// results are Windows' also where the platform lacks the code page; every other code page
// (the thread's ANSI code page above all) goes through the platform.
#pragma once

#include <string>
#include <string_view>

namespace koba::text {

constexpr unsigned kCodePageUtf8 = 65001;
constexpr unsigned kCodePageGb18030 = 54936;

// Strict: false (and `out` empty) for text that is not valid in the code page, and for UTF-16
// that the code page cannot represent without a substitute character.
bool CodePageToUtf16(unsigned code_page, std::string_view in, std::wstring* out);
bool Utf16ToCodePage(unsigned code_page, std::wstring_view in, std::string* out);

// The thread's ANSI code page (CP_THREAD_ACP).
bool AnsiToUtf16(std::string_view in, std::wstring* out);
bool Utf16ToAnsi(std::wstring_view in, std::string* out);

}  // namespace koba::text
