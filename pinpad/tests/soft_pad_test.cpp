#include "soft_pad.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

namespace VKey {
namespace {

// The keys row by row as the keyboard shows them; special keys by code.
const std::vector<std::string> kRows = {
    std::string("~!@#$%^&*()_+|") + char(kCodeBack),
    std::string("`1234567890-=\\") + char(kCodeClear),
    std::string("qwertyuiop[]{}") + char(kCodeCaps),
    std::string("asdfghjkl;':\"") + char(kCodeEnter),
    std::string("zxcvbnm,./<>?") + char(kCodeCancel),
};

TEST(SoftPadTable, LayoutRowsAndClasses) {
  SoftPadKeys pad;
  ASSERT_EQ(pad.keys().size(), 73u);
  size_t index = 0;
  for (size_t row = 0; row < kRows.size(); ++row) {
    for (size_t col = 0; col < kRows[row].size(); ++col, ++index) {
      const KeyRecord& key = pad.keys()[index];
      const auto c = static_cast<uint8_t>(kRows[row][col]);
      EXPECT_EQ(key.character, c) << "key " << index;
      EXPECT_EQ(key.row, row);
      EXPECT_EQ(key.column, col + 1);
      if (c >= '0' && c <= '9') {
        EXPECT_EQ(key.keyClass, kKeyDigit);
      } else if (c >= 'a' && c <= 'z') {
        EXPECT_EQ(key.keyClass, kKeyLetter | static_cast<uint32_t>(c - 'a' + 'A'));
      } else {
        EXPECT_EQ(key.keyClass, kKeyOther);
      }
    }
  }
  EXPECT_EQ(pad.keys()[44].character, kCodeCaps) << "Caps is key 44, id 4044";
  EXPECT_EQ(pad.keys()[30].keyClass, 0x251u) << "q";
  EXPECT_EQ(kPadKeyTable[73].column, 0) << "the static table ends with a zero record";
  EXPECT_EQ(pad.digitKeys().size(), 10u);
  EXPECT_EQ(pad.letterKeys().size(), 26u);
}

TEST(SoftPadTable, GeometryAndWindowSize) {
  SoftPadKeys pad;
  const struct {
    size_t key;
    KeyRect rect;
  } cases[] = {
      {0, {0, 0, 28, 24}},       // ~
      {14, {406, 0, 57, 24}},    // Back, two columns
      {16, {29, 26, 28, 24}},    // 1
      {44, {406, 52, 57, 24}},   // Caps
      {58, {377, 78, 86, 24}},   // Enter, three columns
      {72, {377, 104, 86, 24}},  // Cancel
  };
  for (const auto& c : cases) {
    const KeyRect r = KeyGeometry(pad.keys()[c.key]);
    EXPECT_EQ(r.x, c.rect.x) << c.key;
    EXPECT_EQ(r.y, c.rect.y) << c.key;
    EXPECT_EQ(r.width, c.rect.width) << c.key;
    EXPECT_EQ(r.height, c.rect.height) << c.key;
  }
  EXPECT_EQ(pad.width(), 463);
  EXPECT_EQ(pad.height(), 128);
  const KeyRecord tall{3, 1, 'x', 0x12, kKeyOther};
  EXPECT_EQ(KeyGeometry(tall).width, 28 + 58);
  EXPECT_EQ(KeyGeometry(tall).height, 24 + 26);
}

TEST(SoftPadTable, DialogGrowsAroundTheKeyboard) {
  const PadDialogSize size = DialogSizeWithKeyboard(70, 463, 128, 7, 23);
  EXPECT_EQ(size.width, 463 + 6 + 16);
  EXPECT_EQ(size.height, 70 + 128 + 23 + 6 + 8);
}

TEST(PadRandom, DrawsFollowTheGenerator) {
  for (uint32_t seed : {0u, 1u, 0xFFFFFFFFu, 123456789u}) {
    PadRandom random(seed);
    uint64_t s = seed;
    for (int i = 0; i < 5; ++i) {
      const uint64_t s1 = (s * 1103515245ull + 12345ull) & 0xFFFFFFFFull;
      const uint64_t s2 = (s1 * 1103515245ull + 67890ull) & 0xFFFFFFFFull;
      const uint32_t expected = static_cast<uint32_t>(((s1 << 16) + (s2 & 0xFFFF)) & 0xFFFFFFFF);
      EXPECT_EQ(random.Next(), expected) << seed << " draw " << i;
      EXPECT_EQ(random.state(), s2);
      s = s2;
    }
  }
}

std::string DigitRow(const SoftPadKeys& pad) {
  std::string row;
  for (size_t i : pad.digitKeys()) {
    row.push_back(static_cast<char>(pad.keys()[i].character));
  }
  return row;
}

TEST(SoftPadShuffle, OnlyDigitsMoveAndStayAPermutation) {
  const SoftPadKeys original;
  for (uint32_t seed : {1u, 42u, 0xDEADBEEFu}) {
    PadRandom random(seed);
    SoftPadKeys pad;
    pad.Shuffle(random);
    std::set<char> digits;
    for (size_t i = 0; i < pad.keys().size(); ++i) {
      const KeyRecord& key = pad.keys()[i];
      const KeyRecord& before = original.keys()[i];
      EXPECT_EQ(key.column, before.column);
      EXPECT_EQ(key.row, before.row);
      EXPECT_EQ(key.size, before.size);
      if (before.keyClass == kKeyDigit) {
        EXPECT_EQ(key.keyClass, kKeyDigit);
        digits.insert(static_cast<char>(key.character));
      } else {
        EXPECT_EQ(key.character, before.character) << "key " << i;
        EXPECT_EQ(key.keyClass, before.keyClass);
      }
    }
    EXPECT_EQ(digits.size(), 10u);
  }
}

TEST(SoftPadShuffle, ConsecutiveShowingsUseConsecutiveDraws) {
  PadRandom random(2024);
  SoftPadKeys pad;
  pad.Shuffle(random);
  const std::string first = DigitRow(pad);
  const uint32_t stateAfterFirst = random.state();
  pad.Shuffle(random);
  const std::string second = DigitRow(pad);

  // The same two shuffles replayed by hand with twenty draws each.
  PadRandom replay(2024);
  std::string expected = "1234567890";
  for (int showing = 0; showing < 2; ++showing) {
    for (int round = 0; round < 10; ++round) {
      const uint32_t a = replay.Next() % 10;
      const uint32_t b = replay.Next() % 10;
      std::swap(expected[a], expected[b]);
    }
    EXPECT_EQ(showing == 0 ? first : second, expected);
    if (showing == 0) {
      EXPECT_EQ(replay.state(), stateAfterFirst);
    }
  }
  EXPECT_NE(first, second);
}

TEST(SoftPadLabels, SpecialKeysCapsAndAmpersand) {
  SoftPadKeys pad;
  EXPECT_STREQ(pad.Label(14).textId, "PAD_BACK");
  EXPECT_STREQ(pad.Label(29).textId, "PAD_CLEAR");
  EXPECT_STREQ(pad.Label(44).textId, "PAD_CAPS");
  EXPECT_STREQ(pad.Label(58).textId, "PAD_ENTER");
  EXPECT_STREQ(pad.Label(72).textId, "PAD_CANCEL");
  EXPECT_EQ(pad.Label(7).text, "&&");
  EXPECT_EQ(pad.Label(30).text, "q");
  EXPECT_EQ(pad.Label(73).text, "") << "beyond the table";
  pad.ToggleCaps();
  EXPECT_STREQ(pad.Label(44).textId, "PAD_LOWERCASE");
  EXPECT_EQ(pad.Label(30).text, "Q");
  EXPECT_EQ(pad.Label(0).text, "~") << "symbols keep their label";
  pad.ToggleCaps();
  EXPECT_EQ(pad.Label(30).text, "q");
}

TEST(SoftPadPresses, KeysTypeWhatTheyShow) {
  SoftPadKeys pad;
  const struct {
    int id;
    KeyPress::Kind kind;
    char c;
  } cases[] = {
      {4000, KeyPress::kInsert, '~'}, {4007, KeyPress::kInsert, '&'}, {4014, KeyPress::kBack, 0},
      {4029, KeyPress::kClear, 0},    {4044, KeyPress::kCaps, 0},     {4058, KeyPress::kEnter, 0},
      {4072, KeyPress::kCancel, 0},   {4030, KeyPress::kInsert, 'q'}, {4073, KeyPress::kNone, 0},
      {4256, KeyPress::kNone, 0},     {3999, KeyPress::kNone, 0},     {4257, KeyPress::kNone, 0},
  };
  for (const auto& c : cases) {
    const KeyPress p = pad.Press(c.id);
    EXPECT_EQ(p.kind, c.kind) << c.id;
    EXPECT_EQ(p.character, c.c) << c.id;
  }
  pad.ToggleCaps();
  EXPECT_EQ(pad.Press(4030).character, 'Q');
  PadRandom random(7);
  pad.Shuffle(random);
  for (size_t i : pad.digitKeys()) {
    EXPECT_EQ(pad.Press(kFirstKeyId + static_cast<int>(i)).character, pad.Label(i).text[0])
        << "a shuffled digit key types its label";
  }
}

// VkKeyScan of a US keyboard layout.
int16_t UsLayout(char c) {
  static const std::map<char, int16_t> symbols = {
      {')', 0x130}, {'!', 0x131}, {'@', 0x132}, {'#', 0x133}, {'$', 0x134}, {'%', 0x135},
      {'^', 0x136}, {'&', 0x137}, {'*', 0x138}, {'(', 0x139}, {'`', 0xC0},  {'~', 0x1C0},
      {'-', 0xBD},  {'_', 0x1BD}, {'=', 0xBB},  {'+', 0x1BB}, {'[', 0xDB},  {'{', 0x1DB},
      {']', 0xDD},  {'}', 0x1DD}, {'\\', 0xDC}, {'|', 0x1DC}, {';', 0xBA},  {':', 0x1BA},
      {'\'', 0xDE}, {'"', 0x1DE}, {',', 0xBC},  {'<', 0x1BC}, {'.', 0xBE},  {'>', 0x1BE},
      {'/', 0xBF},  {'?', 0x1BF}, {' ', 0x20},
  };
  if (c >= '0' && c <= '9') {
    return c;
  }
  if (c >= 'a' && c <= 'z') {
    return static_cast<int16_t>(c - 'a' + 'A');
  }
  if (c >= 'A' && c <= 'Z') {
    return static_cast<int16_t>(0x100 | c);
  }
  auto it = symbols.find(c);
  return it == symbols.end() ? -1 : it->second;
}

// A layout where '@' and '\\' need AltGr (Ctrl+Alt) and '~' has no key at all.
int16_t AltGrLayout(char c) {
  if (c == '@') {
    return 0x651;
  }
  if (c == '\\') {
    return 0x6DB;
  }
  if (c == '~') {
    return -1;
  }
  return UsLayout(c);
}

TEST(PhysicalKeys, MapFollowsTheLayout) {
  const PhysicalKeyMap map(UsLayout);
  EXPECT_EQ(map.at('A'), 'a');
  EXPECT_EQ(map.at(256 + 'A'), 'A');
  EXPECT_EQ(map.at('1'), '1');
  EXPECT_EQ(map.at(256 + '1'), '!');
  EXPECT_EQ(map.at(0xC0), '`');
  EXPECT_EQ(map.at(256 + 0xC0), '~');
  EXPECT_EQ(map.at(0x20), ' ');
  for (int vk : {8, 12, 44, 46, 93}) {
    EXPECT_EQ(map.at(vk), 0) << vk;
  }
  for (int vk = 96; vk <= 105; ++vk) {
    EXPECT_EQ(map.at(vk), '0' + vk - 96);
  }
  EXPECT_EQ(map.at(106), '*');
  EXPECT_EQ(map.at(107), '+');
  EXPECT_EQ(map.at(108), PhysicalKeyMap::kNone) << "separator";
  EXPECT_EQ(map.at(109), '-');
  EXPECT_EQ(map.at(110), '.');
  EXPECT_EQ(map.at(111), '/');
  EXPECT_EQ(map.at(0x70), PhysicalKeyMap::kNone) << "F1";
}

TEST(PhysicalKeys, AltGrSymbolsCannotBeTyped) {
  const PhysicalKeyMap map(AltGrLayout);
  for (size_t i = 0; i < 512; ++i) {
    EXPECT_NE(map.at(i), '@') << i;
    EXPECT_NE(map.at(i), '\\') << i;
    EXPECT_NE(map.at(i), '~') << i;
  }
  EXPECT_EQ(map.at('Q'), 'q') << "Q itself is unaffected";
}

TEST(PhysicalKeys, EventsBecomeFieldActions) {
  const PhysicalKeyMap map(UsLayout);
  using A = PinKeyAction;
  const struct {
    uint32_t vk;
    KeyEventState state;
    A::Kind kind;
    char c;
    int command;
  } cases[] = {
      {'A', {}, A::kInsert, 'a', 0},
      {'A', {true, true}, A::kInsert, 'A', 0},
      {'A', {true, false, false, false, true}, A::kInsert, 'A', 0},
      {'A', {true, true, false, false, true}, A::kInsert, 'a', 0},
      {'1', {true, false, false, false, true}, A::kInsert, '1', 0},
      {'1', {true, true}, A::kInsert, '!', 0},
      {'1', {true, true, false, false, true}, A::kInsert, '!', 0},
      {'A', {false}, A::kSwallow, 0, 0},
      {'A', {true, false, true}, A::kSwallow, 0, 0},
      {'A', {true, false, false, true}, A::kSwallow, 0, 0},
      {8, {}, A::kCommand, 0, 8},
      {12, {}, A::kCommand, 0, 12},
      {46, {}, A::kCommand, 0, 46},
      {8, {true, true}, A::kCommand, 0, 8},
      {44, {}, A::kSwallow, 0, 0},
      {93, {}, A::kSwallow, 0, 0},
      {100, {}, A::kInsert, '4', 0},
      {100, {true, true}, A::kSwallow, 0, 0},
      {0x70, {}, A::kPass, 0, 0},
      {0x70, {true, false, true}, A::kPass, 0, 0},
      {0x1B, {}, A::kPass, 0, 0},
      {300, {}, A::kPass, 0, 0},
  };
  for (const auto& c : cases) {
    const PinKeyAction action = map.Map(c.vk, c.state);
    EXPECT_EQ(action.kind, c.kind) << c.vk << " shift " << c.state.shift;
    EXPECT_EQ(action.character, c.c) << c.vk;
    EXPECT_EQ(action.command, c.command) << c.vk;
  }
}

}  // namespace
}  // namespace VKey
