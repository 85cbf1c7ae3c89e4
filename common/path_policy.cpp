#include "path_policy.h"

namespace koba::paths {
namespace {

bool IsSeparator(char16_t c) {
  return c == u'\\' || c == u'/';
}

bool IsDriveLetter(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

char16_t Upper(char16_t c) {
  return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

bool EqualsIgnoringCase(std::u16string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != static_cast<char16_t>(b[i]))
      return false;
  }
  return true;
}

// Characters Windows refuses in file names, besides the separators and the colon.
bool IsBadCharacter(char16_t c) {
  return c < 0x20 || c == u'<' || c == u'>' || c == u'"' || c == u'|' || c == u'?' || c == u'*';
}

// Whether a component names a DOS device: the file system drops trailing dots and spaces, and
// the name before the first dot counts ("nul.txt", "COM1 .log" and "con." are devices).
bool IsReservedName(std::u16string_view component) {
  const size_t dot = component.find(u'.');
  std::u16string_view base = component.substr(0, dot);
  while (!base.empty() && base.back() == u' ')
    base.remove_suffix(1);
  for (const char* name : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (EqualsIgnoringCase(base, name))
      return true;
  }
  if (base.size() == 4 && (EqualsIgnoringCase(base.substr(0, 3), "COM") ||
                           EqualsIgnoringCase(base.substr(0, 3), "LPT"))) {
    const char16_t n = base[3];
    // Superscript one, two and three count as digits here too.
    return (n >= u'0' && n <= u'9') || n == u'\u00B9' || n == u'\u00B2' || n == u'\u00B3';
  }
  return false;
}

}  // namespace

PathVerdict CheckPagePath(std::u16string_view path) {
  if (path.empty())
    return PathVerdict::kEmpty;
  if (path.size() > kMaxPagePath)
    return PathVerdict::kTooLong;
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    if (path.size() >= 3 && (path[2] == u'?' || path[2] == u'.') &&
        (path.size() == 3 || IsSeparator(path[3]))) {
      return PathVerdict::kDeviceNamespace;
    }
    return PathVerdict::kUnc;
  }
  // The NT object namespace, which some file functions pass through.
  if (path.size() >= 4 && IsSeparator(path[0]) && path[1] == u'?' && path[2] == u'?' &&
      IsSeparator(path[3])) {
    return PathVerdict::kDeviceNamespace;
  }
  if (path.size() < 3 || !IsDriveLetter(path[0]) || path[1] != u':' || !IsSeparator(path[2]))
    return PathVerdict::kNotAbsolute;

  std::u16string_view rest = path.substr(3);
  std::u16string_view last;
  while (!rest.empty()) {
    size_t end = 0;
    while (end < rest.size() && !IsSeparator(rest[end]))
      ++end;
    const std::u16string_view component = rest.substr(0, end);
    for (char16_t c : component) {
      if (c == u':')
        return PathVerdict::kStream;
      if (IsBadCharacter(c))
        return PathVerdict::kBadCharacter;
    }
    if (!component.empty() && IsReservedName(component))
      return PathVerdict::kReservedName;
    last = component;
    rest.remove_prefix(end);
    while (!rest.empty() && IsSeparator(rest.front()))
      rest.remove_prefix(1);
  }
  // A name of dots and spaces only is a folder reference once the file system trims it.
  bool only_dots = true;
  for (char16_t c : last)
    only_dots = only_dots && (c == u'.' || c == u' ');
  if (IsSeparator(path.back()) || only_dots)
    return PathVerdict::kNoFileName;
  return PathVerdict::kAccepted;
}

std::string DoubleBackslashes(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (char c : text) {
    out += c;
    if (c == '\\')
      out += '\\';
  }
  return out;
}

std::string UndoubleBackslashes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    out += text[i];
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\\')
      ++i;
  }
  return out;
}

const char* VerdictName(PathVerdict verdict) {
  switch (verdict) {
    case PathVerdict::kAccepted:
      return "accepted";
    case PathVerdict::kEmpty:
      return "empty";
    case PathVerdict::kNotAbsolute:
      return "not an absolute drive path";
    case PathVerdict::kDeviceNamespace:
      return "device namespace";
    case PathVerdict::kUnc:
      return "network share";
    case PathVerdict::kStream:
      return "alternate data stream";
    case PathVerdict::kReservedName:
      return "reserved device name";
    case PathVerdict::kBadCharacter:
      return "character not allowed in file names";
    case PathVerdict::kNoFileName:
      return "no file name";
    case PathVerdict::kTooLong:
      return "too long";
  }
  return "unknown";
}

}  // namespace koba::paths
