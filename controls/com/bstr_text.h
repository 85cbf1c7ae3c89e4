// Conversions between the BSTR arguments and results of the controls and the texts of the
// operations. Each conversion is strict: a text that cannot be converted without loss (an
// unpaired surrogate, a character the code page lacks, a NUL inside the text) is refused, so
// an operation never runs on a text other than the one the page passed.
#pragma once

#include <ole2.h>
#include <oleauto.h>
#include <windows.h>

#include <string>
#include <string_view>

namespace koba::com {

// A null BSTR is the empty text.
std::wstring_view BstrView(BSTR text);

bool BstrToAnsi(BSTR in, std::string* out);
bool BstrToUtf8(BSTR in, std::string* out);
// The text as it stands, refused only for a NUL inside it.
bool BstrToWide(BSTR in, std::wstring* out);

// A new BSTR holding `text`; null when memory is short.
BSTR WideToBstr(std::wstring_view text);
// Byte texts of the operations: UTF-8 where it is valid UTF-8, otherwise the bytes as the
// thread's ANSI code page reads them.
BSTR BytesToBstr(std::string_view text);
// Byte texts in the thread's ANSI code page.
BSTR AnsiToBstr(std::string_view text);

}  // namespace koba::com
