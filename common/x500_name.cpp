#include "x500_name.h"

namespace koba::x500 {
namespace {

template <typename Char>
bool NeedsQuotes(std::basic_string_view<Char> value) {
  if (value.empty() || value.front() == Char(' ') || value.back() == Char(' '))
    return true;
  for (const Char c : value) {
    switch (c) {
      case Char(','):
      case Char('+'):
      case Char('='):
      case Char('"'):
      case Char('<'):
      case Char('>'):
      case Char('#'):
      case Char(';'):
      case Char('\n'):
      case Char('\r'):
        return true;
      default:
        break;
    }
  }
  return false;
}

template <typename Char>
std::basic_string<Char> Normalize(std::basic_string_view<Char> name) {
  std::basic_string<Char> out;
  out.reserve(name.size());
  size_t i = 0;
  while (i < name.size()) {
    const Char c = name[i];
    out += c;
    ++i;
    if (c != Char('=') || i >= name.size() || name[i] != Char('"'))
      continue;
    // A quoted value: find its closing quote; "" inside stands for one quote.
    size_t end = i + 1;
    while (end < name.size()) {
      if (name[end] == Char('"')) {
        if (end + 1 < name.size() && name[end + 1] == Char('"')) {
          end += 2;
          continue;
        }
        break;
      }
      ++end;
    }
    if (end >= name.size()) {
      // Unterminated: keep the rest as it stands.
      out.append(name.substr(i));
      break;
    }
    const auto inner = name.substr(i + 1, end - i - 1);
    if (NeedsQuotes(inner))
      out.append(name.substr(i, end + 1 - i));
    else
      out.append(inner);
    i = end + 1;
  }
  return out;
}

}  // namespace

std::string NormalizeQuoting(std::string_view name) {
  return Normalize(name);
}

std::wstring NormalizeQuoting(std::wstring_view name) {
  return Normalize(name);
}

}  // namespace koba::x500
