#include "tool_rules.h"

#include <cstdio>

namespace VKey {

std::string TrimTrailingSpaces(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  while (!text.empty() && text.back() == ' ') {
    text.remove_suffix(1);
  }
  return std::string(text);
}

std::u16string DeviceEntryText(std::u16string_view serial, std::u16string_view label) {
  return u"SN:" + std::u16string(serial) + u"   LABEL:" + DoubleAmpersands(label);
}

std::u16string SerialOfEntry(std::u16string_view entry) {
  constexpr std::u16string_view kPrefix = u"SN:";
  if (entry.substr(0, kPrefix.size()) != kPrefix) {
    return {};
  }
  entry.remove_prefix(kPrefix.size());
  return std::u16string(entry.substr(0, entry.find(u' ')));
}

int EntryToSelect(const std::vector<std::u16string>& entries, std::u16string_view previous) {
  for (size_t i = 0; i < entries.size(); ++i) {
    if (!previous.empty() && entries[i] == previous) {
      return static_cast<int>(i);
    }
  }
  return entries.empty() ? -1 : 0;
}

bool OffersHidSwitch(std::string_view identifier, uint32_t usbMode) {
  return identifier.find("_3951") != std::string_view::npos &&
         (usbMode == 0 || usbMode == 0x42 || usbMode == 0x43);
}

std::vector<std::string> ContainerNames(std::string_view list, size_t count) {
  std::vector<std::string> names;
  size_t pos = 0;
  while (names.size() < count && pos < list.size()) {
    const size_t end = list.find('\0', pos);
    const std::string_view name =
        list.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    if (name.empty()) {
      break;
    }
    names.emplace_back(name);
    if (end == std::string_view::npos) {
      break;
    }
    pos = end + 1;
  }
  return names;
}

std::u16string FormatCertTime(const LocalTime& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return std::u16string(text, text + std::char_traits<char>::length(text));
}

}  // namespace VKey
