#include "language_tables.h"

#include "token_api.h"

namespace koba::core {
namespace {

struct InterfaceLanguage {
  const char* name;
  uint32_t language_id;
};
constexpr InterfaceLanguage kInterfaceLanguages[] = {
    {"th_TH", 1054}, {"pl_PL", 1045}, {"nl_NL", 1043}};
constexpr uint16_t kEnglishIndex = 1;

void AppendEntry(std::string* list, const char* name) {
  if (!list->empty())
    *list += "||";
  *list += name;
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i]))
      return false;
  }
  return true;
}

}  // namespace

const KeyLanguage kKeyLanguages[11] = {
    {"zh_CN", 0x100, 0, 2052},  {"en_US", 0x200, 1, 1033},  {"zh_TW", 0x400, 2, 1028},
    {"ru_RU", 0x800, 3, 1049},  {"fr_FR", 0x1000, 4, 1036}, {"id_ID", 0x2000, 5, 1057},
    {"ja_JP", 0x4000, 6, 1041}, {"de_DE", 0x8000, 7, 1031}, {"ar_SA", 0x1, 8, 1025},
    {"ko_KR", 0x2, 9, 1042},    {"kk_KZ", 0x4, 10, 1087},
};

std::string LanguageList(uint32_t mask) {
  std::string list;
  for (const KeyLanguage& l : kKeyLanguages) {
    if (mask & l.mask_bit)
      AppendEntry(&list, l.name);
  }
  return list;
}

std::string CharsetList(uint32_t flags) {
  std::string list;
  if (flags & token::kCharsetGbk)
    AppendEntry(&list, "GBK");
  if (flags & token::kCharsetUtf8)
    AppendEntry(&list, "UTF-8");
  return list;
}

bool CharsetValue(std::string_view name, uint8_t* value) {
  if (EqualsIgnoringCase(name, "GBK")) {
    *value = 0;
  } else if (EqualsIgnoringCase(name, "UTF-8")) {
    *value = 1;
  } else {
    return false;
  }
  return true;
}

bool ChooseLanguage(std::string_view name, LanguageChoice* choice) {
  for (const KeyLanguage& l : kKeyLanguages) {
    if (name == l.name) {
      *choice = {l.index, true, 0};
      return true;
    }
  }
  for (const InterfaceLanguage& l : kInterfaceLanguages) {
    if (name == l.name) {
      *choice = {kEnglishIndex, true, l.language_id};
      return true;
    }
  }
  return false;
}

}  // namespace koba::core
