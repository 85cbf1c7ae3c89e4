#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "file_text.h"
#include "reg_args.h"
#include "value_rules.h"

namespace koba::installer {
namespace {

using Step = RegArgGrammar::Step;

struct GrammarCase {
  const char* title;
  RegExport which;
  bool has_64bit_view;
  std::vector<std::wstring> args;
  Step last;
  RegRequest expected;
};

TEST(RegArgGrammar, ClassifiesArguments) {
  const GrammarCase cases[] = {
      {"switch first",
       RegExport::kWriteStr,
       true,
       {L"/x86", L"HKLM", L"Software\\T", L"Name", L"Hello", L"go"},
       Step::kTrigger,
       {RegRoot::kLocalMachine, true, false, false, L"Software\\T", L"Name", L"Hello"}},
      {"switches anywhere, any case",
       RegExport::kWriteStr,
       true,
       {L"hkcu", L"/X64", L"Sub", L"N", L"/x86", L"D", L"go"},
       Step::kTrigger,
       {RegRoot::kCurrentUser, true, true, false, L"Sub", L"N", L"D"}},
      {"x64 is an argument without the 64-bit view",
       RegExport::kWriteStr,
       false,
       {L"HKLM", L"/x64", L"N", L"D", L"go"},
       Step::kTrigger,
       {RegRoot::kLocalMachine, false, false, false, L"/x64", L"N", L"D"}},
      {"x64 before the root without the 64-bit view",
       RegExport::kReadStr,
       false,
       {L"/x64"},
       Step::kNotARoot,
       {}},
      {"deletes always know x64",
       RegExport::kDeleteKey,
       false,
       {L"/x64", L"HKLM", L"Sub", L"go"},
       Step::kTrigger,
       {RegRoot::kLocalMachine, false, true, false, L"Sub", L"", L""}},
      {"ifempty belongs to DeleteRegKey",
       RegExport::kDeleteKey,
       true,
       {L"/x86", L"/IfEmpty", L"HKU", L"Sub", L"go"},
       Step::kTrigger,
       {RegRoot::kUsers, true, false, true, L"Sub", L"", L""}},
      {"ifempty is a value name elsewhere",
       RegExport::kDeleteValue,
       true,
       {L"HKCR", L"Sub", L"/ifempty", L"go"},
       Step::kTrigger,
       {RegRoot::kClassesRoot, false, false, false, L"Sub", L"/ifempty", L""}},
      {"empty argument",
       RegExport::kReadDword,
       true,
       {L"/x86", L"HKLM", L""},
       Step::kEmpty,
       {RegRoot::kLocalMachine, true, false, false, L"", L"", L""}},
      {"unknown root", RegExport::kWriteDword, true, {L"HKEY_LOCAL_MACHINE"}, Step::kNotARoot, {}},
      {"root HKCC",
       RegExport::kReadBin,
       true,
       {L"HKCC", L"S", L"V", L"go"},
       Step::kTrigger,
       {RegRoot::kCurrentConfig, false, false, false, L"S", L"V", L""}},
  };
  for (const GrammarCase& c : cases) {
    SCOPED_TRACE(c.title);
    RegArgGrammar grammar(c.which, c.has_64bit_view);
    Step step = Step::kMore;
    for (size_t i = 0; i < c.args.size(); ++i) {
      step = grammar.Feed(c.args[i]);
      if (i + 1 < c.args.size()) {
        ASSERT_EQ(step, Step::kMore) << "argument " << i;
      }
    }
    EXPECT_EQ(step, c.last);
    if (c.last == Step::kNotARoot)
      continue;
    const RegRequest& r = grammar.request();
    EXPECT_EQ(r.root, c.expected.root);
    EXPECT_EQ(r.view32, c.expected.view32);
    EXPECT_EQ(r.view64, c.expected.view64);
    EXPECT_EQ(r.if_empty, c.expected.if_empty);
    EXPECT_EQ(r.subkey, c.expected.subkey);
    EXPECT_EQ(r.value_name, c.expected.value_name);
    EXPECT_EQ(r.data, c.expected.data);
  }
}

TEST(RegArgGrammar, RepeatedLastArgumentIsTheTrigger) {
  RegArgGrammar grammar(RegExport::kReadStr, true);
  EXPECT_EQ(grammar.Feed(L"HKLM"), Step::kMore);
  EXPECT_EQ(grammar.Feed(L"Sub"), Step::kMore);
  EXPECT_EQ(grammar.Feed(L"Name"), Step::kMore);
  EXPECT_EQ(grammar.Feed(L"Name", true), Step::kTrigger);
  EXPECT_EQ(grammar.request().value_name, L"Name");
}

TEST(RegArgGrammar, RepeatedSwitchEndsTheCall) {
  RegArgGrammar grammar(RegExport::kWriteStr, true);
  EXPECT_EQ(grammar.Feed(L"/x86"), Step::kMore);
  EXPECT_EQ(grammar.Feed(L"/x86", true), Step::kEmpty);
}

TEST(ValueRules, DecimalDword) {
  const struct {
    const wchar_t* text;
    uint32_t value;
  } cases[] = {
      {L"12", 12}, {L"-12", 0xFFFFFFF4u},        {L"", 0},           {L"-", 0}, {L"7x9", 7},
      {L"x9", 0},  {L"4294967295", 0xFFFFFFFFu}, {L"4294967296", 0}, {L"+5", 0}};
  for (const auto& c : cases)
    EXPECT_EQ(ParseDecimalDword(c.text), c.value) << std::string(c.text, c.text + wcslen(c.text));
}

TEST(ValueRules, HexBytes) {
  const struct {
    const wchar_t* text;
    std::vector<uint8_t> bytes;
  } cases[] = {{L"0A1B", {0x0A, 0x1B}},
               {L"0a1b", {0x0A, 0x1B}},
               {L"0A1X", {}},
               {L"ABC", {0xAB, 0xC0}},
               {L"", {}},
               {L"G", {}},
               {L"ff00", {0xFF, 0x00}},
               {L"12 3", {}}};
  for (const auto& c : cases)
    EXPECT_EQ(ParseHexBytes(c.text), c.bytes);
  const uint8_t bytes[] = {0x0A, 0xFF, 0x00, 0xbc};
  EXPECT_EQ(FormatHexBytes(bytes, sizeof bytes), L"0AFF00BC");
  EXPECT_EQ(FormatHexBytes(bytes, 0), L"");
}

TEST(ValueRules, VersionParsing) {
  const struct {
    const char* text;
    Version version;
  } cases[] = {
      {"1.2.3.4", {1, 2, 3, 4}},
      {"1,2,3,4", {1, 2, 3, 4}},
      {" 20.2 .0.0", {20, 20, 0, 0}},
      {"10.0.17763.1", {10, 0, 17763, 1}},
      {"1.2", {1, 2, 0, 0}},
      {"", {0, 0, 0, 0}},
      {"7", {7, 0, 0, 0}},
      {"1.2.3.4.5", {1, 2, 3, 405}},
      {"a1.b", {1, 0, 0, 0}},
      {"1..3", {1, 0, 3, 0}},
      {"99999999999", {0xFFFFFFFFu, 0, 0, 0}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ParseVersion(c.text), c.version) << c.text;
}

TEST(ValueRules, OlderPlaceByPlace) {
  const struct {
    Version installed, required;
    bool older;
  } cases[] = {
      {{1, 2, 3, 4}, {1, 2, 3, 4}, false}, {{2, 0, 0, 0}, {1, 2, 0, 0}, true},
      {{1, 2, 2, 9}, {1, 2, 3, 0}, true},  {{1, 2, 4, 0}, {1, 2, 3, 0}, false},
      {{0, 0, 0, 0}, {0, 0, 0, 1}, true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(IsOlderAtAnyPlace(c.installed, c.required), c.older);
}

TEST(FileText, RemovesUntilNoneIsLeft) {
  const struct {
    std::string content, text, result;
    bool removed;
  } cases[] = {
      {"aabbc", "ab", "c", true},
      {"xyz", "", "xyz", false},
      {"", "a", "", false},
      {"user_pref(1);\r\nkeep", "user_pref(1);\r\n", "keep", true},
      {std::string("ab\0ab", 5), "ab", std::string("\0ab", 3), true},
      {"aaa", "aa", "a", true},
      {"abcabc", "abcabcabc", "abcabc", false},
      {"xaabbby", "ab", "xby", true},
  };
  for (const auto& c : cases) {
    std::string content = c.content;
    EXPECT_EQ(RemoveTextEverywhere(&content, c.text), c.removed) << c.content;
    EXPECT_EQ(content, c.result) << c.content;
  }
}

}  // namespace
}  // namespace koba::installer
