// The library's texts as the Windows calls take them: the text table's UTF-16 as wchar_t text
// (both are UTF-16 on Windows) and back, and the key's UTF-8 labels and serials for display.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace VKey {

inline std::wstring Wide(std::u16string_view text) {
  return std::wstring(text.begin(), text.end());
}

inline std::u16string Utf16(std::wstring_view text) {
  return std::u16string(text.begin(), text.end());
}

// A key's UTF-8 text for display. Lenient on purpose: a label written by another program may
// hold bytes that are no UTF-8, and the tool still shows the rest of it (each bad sequence as
// U+FFFD) instead of nothing.
inline std::wstring DisplayText(std::string_view utf8) {
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(n > 0 ? n : 0, L'\0');
  if (n > 0) {
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  }
  return out;
}

}  // namespace VKey
