#include "code_page.h"

#include <windows.h>

#include <climits>

#include "text_encoding.h"

namespace koba::text {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t");

std::u16string_view AsU16(std::wstring_view s) {
  return {reinterpret_cast<const char16_t*>(s.data()), s.size()};
}

bool OwnConverter(unsigned code_page) {
  return code_page == kCodePageUtf8 || code_page == kCodePageGb18030;
}

}  // namespace

bool CodePageToUtf16(unsigned code_page, std::string_view in, std::wstring* out) {
  out->clear();
  if (OwnConverter(code_page)) {
    std::u16string u16;
    const bool ok = code_page == kCodePageUtf8 ? Utf8ToUtf16(in, &u16) : Gb18030ToUtf16(in, &u16);
    if (ok)
      out->assign(u16.begin(), u16.end());
    return ok;
  }
  if (in.empty())
    return true;
  if (in.size() > INT_MAX)
    return false;
  const int in_len = static_cast<int>(in.size());
  const int n = MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, in.data(), in_len, nullptr, 0);
  if (n <= 0)
    return false;
  out->resize(static_cast<size_t>(n));
  if (MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, in.data(), in_len, out->data(), n) !=
      n) {
    out->clear();
    return false;
  }
  return true;
}

bool Utf16ToCodePage(unsigned code_page, std::wstring_view in, std::string* out) {
  out->clear();
  if (OwnConverter(code_page)) {
    return code_page == kCodePageUtf8 ? Utf16ToUtf8(AsU16(in), out)
                                      : Utf16ToGb18030(AsU16(in), out);
  }
  if (in.empty())
    return true;
  if (in.size() > INT_MAX)
    return false;
  const int in_len = static_cast<int>(in.size());
  BOOL used_default = FALSE;
  const int n = WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, in.data(), in_len, nullptr, 0,
                                    nullptr, &used_default);
  if (n <= 0 || used_default)
    return false;
  out->resize(static_cast<size_t>(n));
  if (WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, in.data(), in_len, out->data(), n,
                          nullptr, &used_default) != n ||
      used_default) {
    out->clear();
    return false;
  }
  return true;
}

bool AnsiToUtf16(std::string_view in, std::wstring* out) {
  return CodePageToUtf16(CP_THREAD_ACP, in, out);
}

bool Utf16ToAnsi(std::wstring_view in, std::string* out) {
  return Utf16ToCodePage(CP_THREAD_ACP, in, out);
}

}  // namespace koba::text
