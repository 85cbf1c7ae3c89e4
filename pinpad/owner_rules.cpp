#include "owner_rules.h"

#include <algorithm>

namespace VKey {
namespace {

char16_t Lower(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool EqualNoCase(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char16_t x, char16_t y) { return Lower(x) == Lower(y); });
}

// Case-insensitive search in which '?' of the pattern stands for any one character.
bool ContainsPattern(std::u16string_view text, std::u16string_view pattern) {
  if (pattern.size() > text.size()) {
    return false;
  }
  for (size_t at = 0; at + pattern.size() <= text.size(); ++at) {
    size_t i = 0;
    while (i < pattern.size() && (pattern[i] == u'?' || Lower(pattern[i]) == Lower(text[at + i]))) {
      ++i;
    }
    if (i == pattern.size()) {
      return true;
    }
  }
  return false;
}

constexpr size_t kTitleChars = 200;

}  // namespace

std::u16string_view ExecutableFileName(std::u16string_view path) {
  const size_t slash = path.find_last_of(u'\\');
  return slash == std::u16string_view::npos ? path : path.substr(slash + 1);
}

OwnerSource OwnerSourceFor(std::u16string_view executableName) {
  if (EqualNoCase(executableName, u"koba_KVN_usbkey_chrome.exe")) {
    return OwnerSource::kEdgeWindow;
  }
  if (EqualNoCase(executableName, u"AcroRd32.exe")) {
    return OwnerSource::kDesktop;
  }
  return OwnerSource::kActiveWindow;
}

bool DropsForeignOwner(std::u16string_view executableName) {
  return EqualNoCase(executableName, u"iexplore.exe");
}

bool IsEdgePageTitle(std::u16string_view title) {
  return ContainsPattern(title.substr(0, kTitleChars), u"- Microsoft? Edge");
}

}  // namespace VKey
