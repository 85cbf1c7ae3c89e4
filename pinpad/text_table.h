// The PIN pad library's text table: reads the enciphered language file of the chosen language
// and serves its texts by id.
#pragma once

#include <SimpleIni.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "token_alg.h"

namespace VKey {

// What the text table needs from the platform: the settings key, the system language and files.
class TextEnv {
 public:
  struct MachineSettings {
    std::optional<std::string> installPath;  // UTF-8; absent unless a string value
    std::optional<uint32_t> langId;
  };

  virtual ~TextEnv() = default;
  // The machine's settings; nullopt when the machine settings key cannot be opened.
  virtual std::optional<MachineSettings> ReadMachineSettings() = 0;
  // The user's LangId, when present.
  virtual std::optional<uint32_t> ReadUserLangId() = 0;
  virtual uint32_t SystemDefaultLangId() = 0;
  // Writes LangId under the machine's and the user's settings key.
  virtual void WriteMachineAndUserLangId(uint32_t langId) = 0;
  // Writes LangId under the user's settings key, creating the key when missing.
  virtual void WriteUserLangId(uint32_t langId) = 0;
  // Reads a whole file; returns 0 or the platform's error code (never 0 on failure).
  virtual int ReadFile(const std::string& path, std::vector<unsigned char>* bytes) = 0;
};

// One entry of the management tool's language list.
struct LangListEntry {
  std::u16string name;
  uint32_t langId;
};

// An argument of a formatted text: a string for "%s", a number for "%d".
using TextArg = std::variant<std::u16string, int>;

class TextTable {
 public:
  static constexpr int kFailed = -1;
  static constexpr size_t kMaxTextUnits = 260;
  static constexpr size_t kInitialBuffer = 20480;
  static constexpr size_t kListBuffer = 4096;
  static constexpr size_t kMaxFileSize = 1 << 24;

  TextTable(TextEnv& env, TokenAlg alg);
  TextTable(const TextTable&) = delete;
  TextTable& operator=(const TextTable&) = delete;

  // The token functions used by later loads; the caller keeps them valid while it loads.
  void SetTokenAlg(TokenAlg alg) { alg_ = alg; }

  // Re-reads the install path and machine language and loads the machine language's file.
  void ReloadSettings();
  // Loads the file of a language (0: the machine language); a forcing select makes every later
  // non-forced select of a non-zero language use the forced one. Returns the last error.
  int Select(uint32_t langId, bool forced);

  // The text of an id from section "TEXT"; empty when the last load failed, the id is absent,
  // the value is not UTF-8 or it is longer than 260 UTF-16 units.
  std::u16string LoadText(std::string_view id) const;
  // LoadText(id) with its placeholders filled by FormatWith, so that a language file can never
  // make the formatting read beyond its arguments.
  std::u16string FormatText(std::string_view id, const std::vector<TextArg>& args) const;
  // The keys and values of a dialog section in file order, up to the first value that cannot be
  // converted; false when the section is missing or the last load failed.
  bool SectionTexts(std::string_view section,
                    std::vector<std::pair<std::string, std::u16string>>* out) const;

  // The management tool's machine language: the user's LangId, else the machine's, else the
  // mapped system language written to both; written to the user's settings afterwards.
  uint32_t ToolMachineLanguage();
  // Reads the language list file; returns 0 or the failing step's code.
  int ReadLanguageList(std::vector<LangListEntry>* out) const;

  int LastError() const { return lastError_; }
  uint32_t CurrentLanguage() const { return currentLang_; }
  uint32_t MachineLanguage() const { return machineLang_; }
  const std::string& CurrentFile() const { return currentFile_; }
  const std::string& DefaultFile() const { return defaultFile_; }

 private:
  void Load();
  // Reads, checks and deciphers a file into buffer; returns 0 and the plain length or an error.
  int ReadChecked(const std::string& path, const unsigned char* expectedDigest,
                  std::vector<unsigned char>* buffer, size_t maxCapacity,
                  size_t* plainLength) const;

  TextEnv& env_;
  TokenAlg alg_;
  std::vector<unsigned char> buffer_;
  std::unique_ptr<CSimpleIniA> document_;
  int lastError_ = kFailed;
  std::string installPath_;
  std::string langsFolder_;
  std::string currentFile_;
  std::string defaultFile_;
  bool forced_ = false;
  uint32_t forcedLang_ = 0;
  uint32_t requestedLang_ = 0;
  uint32_t machineLang_ = 0;
  uint32_t currentLang_ = 0;
};

// The built-in digest of a language's file; nullptr for a language without one.
const unsigned char* BuiltinLangDigest(uint32_t langId);

// Fills the "%s" and "%d" placeholders of a format from args in order; "%%" gives a percent sign,
// any other conversion is kept literally and missing arguments give nothing.
std::u16string FormatWith(std::u16string_view format, const std::vector<TextArg>& args);

// Converts a UTF-8 value for display: nullopt when it is not UTF-8 or longer than maxUnits.
std::optional<std::u16string> DisplayText(std::string_view utf8, size_t maxUnits);

}  // namespace VKey
