// The text table's platform: the settings key in the registry, the system language and files.
#pragma once

#include <windows.h>

#include <string>

#include "lang_choice.h"
#include "settings.h"
#include "text_table.h"

namespace VKey {

using koba::settings::kSettingsKey;

class WinTextEnv : public TextEnv {
 public:
  // keyPath: the settings key under HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER.
  explicit WinTextEnv(std::wstring keyPath = kSettingsKey) : keyPath_(std::move(keyPath)) {}

  std::optional<MachineSettings> ReadMachineSettings() override;
  std::optional<uint32_t> ReadUserLangId() override;
  uint32_t SystemDefaultLangId() override;
  void WriteMachineAndUserLangId(uint32_t langId) override;
  void WriteUserLangId(uint32_t langId) override;
  int ReadFile(const std::string& path, std::vector<unsigned char>* bytes) override;

  // The user's UILang and UISupport for a language index choice.
  UserLangSettings ReadUserLangSettings();

 private:
  std::wstring keyPath_;
};

// The shared settings readers with an absent or unreadable value as nullopt: a string value
// (REG_SZ or REG_EXPAND_SZ ending with a NUL inside maxChars characters) and a REG_DWORD value
// of the key subkey below root.
std::optional<std::wstring> ReadRegString(HKEY root, const std::wstring& subkey,
                                          const wchar_t* name, size_t maxChars);
std::optional<uint32_t> ReadRegDword(HKEY root, const std::wstring& subkey, const wchar_t* name);

}  // namespace VKey
