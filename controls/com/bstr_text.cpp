#include "bstr_text.h"

#include <climits>

#include "code_page.h"
#include "text_encoding.h"

namespace koba::com {
namespace {

bool HasNul(std::wstring_view text) {
  return text.find(L'\0') != std::wstring_view::npos;
}

BSTR LenientFromCodePage(UINT code_page, std::string_view text) {
  if (text.size() > INT_MAX / 2)
    return nullptr;
  const int in_len = static_cast<int>(text.size());
  const int n = MultiByteToWideChar(code_page, 0, text.data(), in_len, nullptr, 0);
  BSTR out = SysAllocStringLen(nullptr, static_cast<UINT>(n > 0 ? n : 0));
  if (out != nullptr && n > 0)
    MultiByteToWideChar(code_page, 0, text.data(), in_len, out, n);
  return out;
}

}  // namespace

std::wstring_view BstrView(BSTR text) {
  return text == nullptr ? std::wstring_view() : std::wstring_view(text, SysStringLen(text));
}

bool BstrToAnsi(BSTR in, std::string* out) {
  out->clear();
  const std::wstring_view text = BstrView(in);
  return !HasNul(text) && text::Utf16ToAnsi(text, out);
}

bool BstrToUtf8(BSTR in, std::string* out) {
  out->clear();
  const std::wstring_view text = BstrView(in);
  return !HasNul(text) &&
         text::Utf16ToUtf8(
             std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()), out);
}

bool BstrToWide(BSTR in, std::wstring* out) {
  const std::wstring_view text = BstrView(in);
  if (HasNul(text)) {
    out->clear();
    return false;
  }
  out->assign(text);
  return true;
}

BSTR WideToBstr(std::wstring_view text) {
  if (text.size() > UINT_MAX / 4)
    return nullptr;
  return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

BSTR BytesToBstr(std::string_view text) {
  std::u16string wide;
  if (text::Utf8ToUtf16(text, &wide))
    return WideToBstr(
        std::wstring_view(reinterpret_cast<const wchar_t*>(wide.data()), wide.size()));
  return AnsiToBstr(text);
}

BSTR AnsiToBstr(std::string_view text) {
  return LenientFromCodePage(CP_THREAD_ACP, text);
}

}  // namespace koba::com
