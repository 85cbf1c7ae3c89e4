#include "monitor_rules.h"

#include <array>
#include <cstdio>

namespace koba::traymon {
namespace {

// One row per code that does more than the common work.
constexpr std::array<ScanActions, 4> kScanTable = {{
    // code          forget refresh u.rem  d.rem  u.ins  d.ins  reg.ins
    {kScanArrival, false, false, true, false, true, true, true},
    {kScanRemoval, false, false, true, true, true, false, false},
    {kScanStart, false, false, false, false, true, true, false},
    {kScanResume, true, false, false, false, true, false, false},
}};
constexpr ScanActions kRescanActions = {kScanRescan, false, true,  false,
                                        false,       false, false, false};
constexpr ScanActions kCommonActions = {kScanNone, false, false, false, false, false, false, false};

bool Contains(std::u16string_view text, std::u16string_view word) {
  return text.find(word) != std::u16string_view::npos;
}

constexpr size_t kInterfaceNameChars = 265;

}  // namespace

const ScanActions& ActionsFor(uint32_t code) {
  for (const ScanActions& row : kScanTable) {
    if (row.code == code)
      return row;
  }
  return code == kScanRescan ? kRescanActions : kCommonActions;
}

CommandWords ParseCommandWords(std::u16string_view command_line) {
  CommandWords words;
  words.kill = Contains(command_line, u"kill");
  words.skip_user_stores = Contains(command_line, u"installRoot -s");
  words.install_root = Contains(command_line, u"installRoot");
  words.install_tray_tip = Contains(command_line, u"installTrayTip");
  words.remove_root = Contains(command_line, u"removeRoot");
  return words;
}

bool IsKeyInterface(std::u16string_view interface_name) {
  std::u16string name(interface_name.substr(0, kInterfaceNameChars));
  for (char16_t& c : name) {
    if (c >= u'A' && c <= u'Z')
      c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return Contains(name, u"_3951") || Contains(name, u"_korvanet");
}

std::string BalloonTextKey(int n) {
  char key[16];
  std::snprintf(key, sizeof key, "TrayTip%02d", n);
  return key;
}

std::u16string FitText(std::u16string_view text, size_t capacity) {
  if (capacity == 0)
    return {};
  if (text.size() < capacity)
    return std::u16string(text);
  size_t n = capacity - 1;
  if (n > 0 && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF)
    --n;
  return std::u16string(text.substr(0, n));
}

}  // namespace koba::traymon
