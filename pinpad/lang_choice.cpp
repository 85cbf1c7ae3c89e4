#include "lang_choice.h"

#include <iterator>

namespace VKey {

namespace {

struct IndexRow {
  uint32_t langId;
  uint32_t supportBit;
};

constexpr IndexRow kIndexTable[] = {
    {2052, 0x100},  {1033, 0x200},  {1028, 0x400}, {1049, 0x800}, {1036, 0x1000}, {1057, 0x2000},
    {1041, 0x4000}, {1031, 0x8000}, {1025, 0x1},   {1042, 0x2},   {1087, 0x4},
};

constexpr uint32_t kSupported[] = {2052, 1028, 1033, 1049, 1036, 1057, 1041,
                                   1031, 1087, 1042, 1025, 1054, 1045, 1043};

}  // namespace

bool IsSupportedLanguage(uint32_t langId) {
  for (uint32_t id : kSupported) {
    if (id == langId) {
      return true;
    }
  }
  return false;
}

std::optional<uint32_t> LanguageOfIndex(uint32_t index) {
  if (index >= std::size(kIndexTable)) {
    return std::nullopt;
  }
  return kIndexTable[index].langId;
}

uint32_t SupportBitOfIndex(uint32_t index) {
  return index < std::size(kIndexTable) ? kIndexTable[index].supportBit : 0;
}

uint32_t ResolveIndexLanguage(uint32_t value, const UserLangSettings& user) {
  const uint32_t ui = user.uiLang.value_or(0);
  bool enabled = false;
  if (user.keyExists) {
    const uint32_t mask = user.uiSupport.value_or(0);
    enabled = mask == 0 || (mask & SupportBitOfIndex(value)) != 0;
  }
  if (ui == 0 && enabled) {
    return LanguageOfIndex(value).value_or(value);
  }
  return ui;
}

uint32_t MapSystemLanguage(uint32_t systemLangId) {
  switch (systemLangId) {
    case 2067:
      return 1043;
    case 3076:
    case 4100:
    case 5124:
      return 1028;
    default:
      return systemLangId;
  }
}

}  // namespace VKey
