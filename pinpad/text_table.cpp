#include "text_table.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "lang_builtin.h"
#include "lang_choice.h"
#include "text_encoding.h"

namespace VKey {

namespace {

constexpr char kListFileName[] = "KVNLang_KOBA_enc.ini";
constexpr int kListEntries = 40;
constexpr size_t kListNameUnits = 100;

std::string LangFileName(uint32_t langId) {
  return std::to_string(langId) + "_enc.ini";
}

std::unique_ptr<CSimpleIniA> NewDocument() {
  // Case-insensitive names, one value per key, no multi-line values.
  auto doc = std::make_unique<CSimpleIniA>(true, false, false);
  return doc;
}

}  // namespace

const unsigned char* BuiltinLangDigest(uint32_t langId) {
  for (size_t i = 0; i < kLangFileDigestCount; ++i) {
    if (kLangFileDigests[i].langId == langId) {
      return kLangFileDigests[i].digest;
    }
  }
  return nullptr;
}

std::optional<std::u16string> DisplayText(std::string_view utf8, size_t maxUnits) {
  std::u16string text;
  if (!koba::text::Utf8ToUtf16(utf8, &text) || text.size() > maxUnits) {
    return std::nullopt;
  }
  return text;
}

std::u16string FormatWith(std::u16string_view format, const std::vector<TextArg>& args) {
  std::u16string out;
  size_t next = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    const char16_t c = format[i];
    if (c != u'%' || i + 1 >= format.size()) {
      out.push_back(c);
      continue;
    }
    const char16_t conversion = format[i + 1];
    if (conversion == u'%') {
      out.push_back(u'%');
      ++i;
    } else if (conversion == u's' || conversion == u'd') {
      if (next < args.size()) {
        if (const auto* s = std::get_if<std::u16string>(&args[next])) {
          out += *s;
        } else {
          for (char d : std::to_string(std::get<int>(args[next]))) {
            out.push_back(static_cast<char16_t>(d));
          }
        }
        ++next;
      }
      ++i;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

TextTable::TextTable(TextEnv& env, TokenAlg alg)
    : env_(env), alg_(alg), buffer_(kInitialBuffer), document_(NewDocument()) {}

void TextTable::ReloadSettings() {
  const auto settings = env_.ReadMachineSettings();
  if (!settings) {
    return;
  }
  installPath_.clear();
  if (settings->installPath) {
    std::u16string wide;
    if (koba::text::Utf8ToUtf16(*settings->installPath, &wide) && !wide.empty() &&
        wide.size() <= kMaxTextUnits) {
      installPath_ = *settings->installPath;
    }
  }
  langsFolder_ = installPath_ + "\\langs\\";
  uint32_t langId = settings->langId.value_or(0);
  if (langId == 0) {
    langId = MapSystemLanguage(env_.SystemDefaultLangId());
    env_.WriteMachineAndUserLangId(langId);
  }
  machineLang_ = langId;
  currentLang_ = langId;
  defaultFile_ = langsFolder_ + LangFileName(langId);
  currentFile_ = defaultFile_;
  Load();
}

int TextTable::Select(uint32_t langId, bool forced) {
  if (forced) {
    forcedLang_ = langId;
    forced_ = true;
  } else {
    requestedLang_ = langId;
  }
  if (langId == 0) {
    // The default file is the machine language's, so it is checked against that language.
    currentLang_ = machineLang_;
    currentFile_ = defaultFile_;
  } else {
    currentLang_ = forced_ ? forcedLang_ : requestedLang_;
    currentFile_ = langsFolder_ + LangFileName(currentLang_);
  }
  Load();
  return lastError_;
}

int TextTable::ReadChecked(const std::string& path, const unsigned char* expectedDigest,
                           std::vector<unsigned char>* buffer, size_t maxCapacity,
                           size_t* plainLength) const {
  if (installPath_.empty() || expectedDigest == nullptr || alg_.digest == nullptr ||
      alg_.desDecrypt == nullptr) {
    return kFailed;
  }
  std::vector<unsigned char> bytes;
  if (const int rc = env_.ReadFile(path, &bytes); rc != 0) {
    return rc;
  }
  if (bytes.empty() || bytes.size() > maxCapacity) {
    return kFailed;
  }
  if (bytes.size() > buffer->size()) {
    buffer->assign(bytes.size() + 10, 0);
  }
  std::copy(bytes.begin(), bytes.end(), buffer->begin());
  const auto length = static_cast<unsigned int>(bytes.size());

  unsigned char digest[64] = {};
  if (alg_.digest(buffer->data(), length, digest, kAlgDigestSha1) != kAlgDigestSha1Length ||
      std::memcmp(digest, expectedDigest, kAlgDigestSha1Length) != 0) {
    return kFailed;
  }
  const unsigned int plain =
      alg_.desDecrypt(buffer->data(), length, static_cast<unsigned int>(buffer->size()),
                      kLangFileKey, kLangKeyLength, kAlgDesEde2EcbUnpad);
  if (plain == 0 || plain > buffer->size()) {
    return kFailed;
  }
  *plainLength = plain;
  return 0;
}

void TextTable::Load() {
  document_ = NewDocument();
  size_t plain = 0;
  lastError_ =
      ReadChecked(currentFile_, BuiltinLangDigest(currentLang_), &buffer_, kMaxFileSize, &plain);
  if (lastError_ != 0) {
    return;
  }
  if (document_->LoadData(reinterpret_cast<const char*>(buffer_.data()), plain) < 0) {
    document_ = NewDocument();
    lastError_ = kFailed;
  }
}

std::u16string TextTable::LoadText(std::string_view id) const {
  if (lastError_ != 0) {
    return {};
  }
  const std::string key(id);
  const char* value = document_->GetValue("TEXT", key.c_str(), nullptr);
  if (value == nullptr) {
    return {};
  }
  return DisplayText(value, kMaxTextUnits).value_or(std::u16string());
}

std::u16string TextTable::FormatText(std::string_view id, const std::vector<TextArg>& args) const {
  return FormatWith(LoadText(id), args);
}

bool TextTable::SectionTexts(std::string_view section,
                             std::vector<std::pair<std::string, std::u16string>>* out) const {
  out->clear();
  const std::string name(section);
  if (lastError_ != 0 || document_->GetSection(name.c_str()) == nullptr) {
    return false;
  }
  CSimpleIniA::TNamesDepend keys;
  document_->GetAllKeys(name.c_str(), keys);
  keys.sort(CSimpleIniA::Entry::LoadOrder());
  for (const auto& key : keys) {
    const char* value = document_->GetValue(name.c_str(), key.pItem, nullptr);
    auto text = DisplayText(value ? value : "", kMaxTextUnits);
    if (!text) {
      break;
    }
    out->emplace_back(key.pItem, std::move(*text));
  }
  return true;
}

uint32_t TextTable::ToolMachineLanguage() {
  uint32_t langId = env_.ReadUserLangId().value_or(0);
  if (langId == 0) {
    const auto settings = env_.ReadMachineSettings();
    langId = settings ? settings->langId.value_or(0) : 0;
  }
  if (langId == 0) {
    langId = MapSystemLanguage(env_.SystemDefaultLangId());
    env_.WriteMachineAndUserLangId(langId);
  }
  env_.WriteUserLangId(langId);
  return langId;
}

int TextTable::ReadLanguageList(std::vector<LangListEntry>* out) const {
  out->clear();
  std::vector<unsigned char> buffer(kListBuffer);
  size_t plain = 0;
  const int rc = ReadChecked(installPath_ + "\\langs\\" + kListFileName, kLangListDigest, &buffer,
                             kListBuffer, &plain);
  if (rc != 0) {
    return rc;
  }
  auto doc = NewDocument();
  if (doc->LoadData(reinterpret_cast<const char*>(buffer.data()), plain) < 0) {
    return kFailed;
  }
  for (int n = 0; n < kListEntries; ++n) {
    char nameKey[16];
    char idKey[16];
    std::snprintf(nameKey, sizeof nameKey, "%s%02d", "LangName", n);
    std::snprintf(idKey, sizeof idKey, "%s%02d", "LangID", n);
    const long id = doc->GetLongValue("LangID", idKey, 0);
    if (id == 0) {
      continue;
    }
    std::u16string name;
    if (!koba::text::Utf8ToUtf16(doc->GetValue("LangName", nameKey, ""), &name)) {
      name.clear();
    }
    if (name.size() > kListNameUnits) {
      size_t cut = kListNameUnits;
      if (name[cut - 1] >= 0xD800 && name[cut - 1] <= 0xDBFF) {
        --cut;
      }
      name.resize(cut);
    }
    out->push_back({std::move(name), static_cast<uint32_t>(id)});
  }
  return 0;
}

}  // namespace VKey
