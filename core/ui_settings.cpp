#include "ui_settings.h"

#include "containers.h"
#include "language_tables.h"
#include "queries.h"
#include "result_codes.h"
#include "settings.h"

namespace koba::core {
namespace {

int ReadParameter(TokenCore& core, uint32_t slot, uint32_t id, uint32_t* value) {
  int32_t v = 0;
  if (core.api().ManTokenParam(DeviceHandle(slot), id, &v) != 0)
    return kReadError;
  *value = static_cast<uint32_t>(v);
  return kOk;
}

int ListQuery(TokenCore& core, uint32_t parameter, std::string (*list)(uint32_t), char* out,
              size_t capacity) {
  BindingGuard guard(core);
  if (out == nullptr || capacity == 0)
    return core.Finish(kBadParameter);
  out[0] = '\0';
  uint32_t slot;
  DeviceInfo info;
  const int found = core.FindKey(BindSet::kDevice, &slot, &info);
  if (found != kOk)
    return found;
  uint32_t value = 0;
  if (ReadParameter(core, slot, parameter, &value) != kOk)
    return core.Finish(kReadError);
  CopyList(list(value), out, capacity);
  return core.Finish(kOk);
}

}  // namespace

int GetCharsetList(TokenCore& core, char* out, size_t capacity) {
  return ListQuery(core, token::kParamCharsetFlags, &CharsetList, out, capacity);
}

int GetLanguageList(TokenCore& core, char* out, size_t capacity) {
  return ListQuery(core, token::kParamLanguageMask, &LanguageList, out, capacity);
}

int SetCharset(TokenCore& core, std::string_view name) {
  BindingGuard guard(core);
  uint32_t slot;
  DeviceInfo info;
  const int found = core.FindKey(BindSet::kDevice, &slot, &info);
  if (found != kOk)
    return found;
  uint8_t value = 0;
  if (!CharsetValue(name, &value))
    return core.Finish(kBadParameter);
  if (core.api().ManTokenParam(DeviceHandle(slot), token::kParamCharsetWrite, &value) != 0)
    return core.Finish(kReadError);
  return core.Finish(kOk);
}

int SetLanguage(TokenCore& core, std::string_view name) {
  BindingGuard guard(core);
  uint32_t slot;
  DeviceInfo info;
  const int found = core.FindKey(BindSet::kDevice, &slot, &info);
  if (found != kOk)
    return found;
  uint32_t mask = 0;
  if (ReadParameter(core, slot, token::kParamLanguageMask, &mask) == kOk)
    settings::WriteRegDword(HKEY_CURRENT_USER, settings::kSettingsKey, L"UISupport", mask);
  LanguageChoice choice;
  if (!ChooseLanguage(name, &choice))
    return core.Finish(kBadParameter);
  if (choice.write_ui_lang)
    settings::WriteRegDword(HKEY_CURRENT_USER, settings::kSettingsKey, L"UILang", choice.ui_lang);
  uint16_t index = choice.index;
  if (core.api().ManTokenParam(DeviceHandle(slot), token::kParamLanguage, &index) != 0)
    return core.Finish(kReadError);
  return core.Finish(kOk);
}

int SetWarningMsg(const wchar_t* text) {
  return static_cast<int>(
      settings::WriteRegWarningMsg(text != nullptr ? text : L"", settings::kMaxWarningChars));
}

}  // namespace koba::core
