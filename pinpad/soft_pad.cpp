#include "soft_pad.h"

#include <algorithm>

namespace VKey {

namespace {

constexpr KeyRecord Digit(uint8_t col, uint8_t row, char c) {
  return {col, row, static_cast<uint8_t>(c), 0, kKeyDigit};
}
constexpr KeyRecord Letter(uint8_t col, uint8_t row, char c) {
  return {col, row, static_cast<uint8_t>(c), 0, kKeyLetter | static_cast<uint32_t>(c - 'a' + 'A')};
}
constexpr KeyRecord Other(uint8_t col, uint8_t row, char c, uint8_t size = 0) {
  return {col, row, static_cast<uint8_t>(c), size, kKeyOther};
}

bool IsLetter(uint8_t c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

}  // namespace

// clang-format off
const KeyRecord kPadKeyTable[74] = {
    Other(1, 0, '~'), Other(2, 0, '!'), Other(3, 0, '@'), Other(4, 0, '#'), Other(5, 0, '$'),
    Other(6, 0, '%'), Other(7, 0, '^'), Other(8, 0, '&'), Other(9, 0, '*'), Other(10, 0, '('),
    Other(11, 0, ')'), Other(12, 0, '_'), Other(13, 0, '+'), Other(14, 0, '|'),
    Other(15, 0, kCodeBack, 0x01),
    Other(1, 1, '`'), Digit(2, 1, '1'), Digit(3, 1, '2'), Digit(4, 1, '3'), Digit(5, 1, '4'),
    Digit(6, 1, '5'), Digit(7, 1, '6'), Digit(8, 1, '7'), Digit(9, 1, '8'), Digit(10, 1, '9'),
    Digit(11, 1, '0'), Other(12, 1, '-'), Other(13, 1, '='), Other(14, 1, '\\'),
    Other(15, 1, kCodeClear, 0x01),
    Letter(1, 2, 'q'), Letter(2, 2, 'w'), Letter(3, 2, 'e'), Letter(4, 2, 'r'), Letter(5, 2, 't'),
    Letter(6, 2, 'y'), Letter(7, 2, 'u'), Letter(8, 2, 'i'), Letter(9, 2, 'o'), Letter(10, 2, 'p'),
    Other(11, 2, '['), Other(12, 2, ']'), Other(13, 2, '{'), Other(14, 2, '}'),
    Other(15, 2, kCodeCaps, 0x01),
    Letter(1, 3, 'a'), Letter(2, 3, 's'), Letter(3, 3, 'd'), Letter(4, 3, 'f'), Letter(5, 3, 'g'),
    Letter(6, 3, 'h'), Letter(7, 3, 'j'), Letter(8, 3, 'k'), Letter(9, 3, 'l'), Other(10, 3, ';'),
    Other(11, 3, '\''), Other(12, 3, ':'), Other(13, 3, '"'),
    Other(14, 3, kCodeEnter, 0x02),
    Letter(1, 4, 'z'), Letter(2, 4, 'x'), Letter(3, 4, 'c'), Letter(4, 4, 'v'), Letter(5, 4, 'b'),
    Letter(6, 4, 'n'), Letter(7, 4, 'm'), Other(8, 4, ','), Other(9, 4, '.'), Other(10, 4, '/'),
    Other(11, 4, '<'), Other(12, 4, '>'), Other(13, 4, '?'),
    Other(14, 4, kCodeCancel, 0x02),
    {0, 0, 0, 0, 0},
};
// clang-format on

KeyRect KeyGeometry(const KeyRecord& key) {
  const int extraColumns = key.size & 0x0F;
  const int extraRows = key.size >> 4;
  return {29 * (key.column - 1), 26 * key.row, 28 + 29 * extraColumns, 24 + 26 * extraRows};
}

uint32_t PadRandom::Next() {
  const uint32_t s1 = state_ * 1103515245u + 12345u;
  const uint32_t s2 = s1 * 1103515245u + 67890u;
  state_ = s2;
  return (s1 << 16) + (s2 & 0xFFFF);
}

PadRandom& ProcessPadRandom(uint32_t (*tickCount)()) {
  static PadRandom random(tickCount());
  return random;
}

SoftPadKeys::SoftPadKeys() {
  for (const KeyRecord* key = kPadKeyTable; key->column != 0; ++key) {
    keys_.push_back(*key);
  }
  for (size_t i = 0; i < keys_.size(); ++i) {
    if ((keys_[i].keyClass & kKeyDigit) != 0 && digits_.size() < 10) {
      digits_.push_back(i);
    }
    if ((keys_[i].keyClass & kKeyLetter) != 0 && letters_.size() < 26) {
      letters_.push_back(i);
    }
  }
}

void SoftPadKeys::Shuffle(PadRandom& random) {
  if (digits_.size() != 10) {
    return;
  }
  for (int round = 0; round < 10; ++round) {
    const size_t a = random.Next() % 10;
    const size_t b = random.Next() % 10;
    if (a != b) {
      KeyRecord& first = keys_[digits_[a]];
      KeyRecord& second = keys_[digits_[b]];
      std::swap(first.character, second.character);
      std::swap(first.keyClass, second.keyClass);
    }
  }
}

int SoftPadKeys::width() const {
  int right = 0;
  for (const auto& key : keys_) {
    const KeyRect r = KeyGeometry(key);
    right = std::max(right, r.x + r.width);
  }
  return right;
}

int SoftPadKeys::height() const {
  int bottom = 0;
  for (const auto& key : keys_) {
    const KeyRect r = KeyGeometry(key);
    bottom = std::max(bottom, r.y + r.height);
  }
  return bottom;
}

KeyLabel SoftPadKeys::Label(size_t index) const {
  KeyLabel label;
  if (index >= keys_.size()) {
    return label;
  }
  const KeyRecord& key = keys_[index];
  switch (key.character) {
    case 0:
      break;
    case kCodeBack:
      label.textId = "PAD_BACK";
      break;
    case kCodeClear:
      label.textId = "PAD_CLEAR";
      break;
    case kCodeEnter:
      label.textId = "PAD_ENTER";
      break;
    case kCodeCaps:
      label.textId = upper_ ? "PAD_LOWERCASE" : "PAD_CAPS";
      break;
    case kCodeCancel:
      label.textId = "PAD_CANCEL";
      break;
    case kCodeSpace:
      label.textId = "PAD_SPACE";
      break;
    case '&':
      label.text = "&&";
      break;
    default:
      if ((key.keyClass & kKeyLetter) != 0 && upper_) {
        label.text = std::string(1, static_cast<char>(key.keyClass & 0xFF));
      } else {
        label.text = std::string(1, static_cast<char>(key.character));
      }
  }
  return label;
}

KeyPress SoftPadKeys::Press(int controlId) const {
  if (controlId < kFirstKeyId || controlId > kLastKeyId) {
    return {};
  }
  const auto index = static_cast<size_t>(controlId - kFirstKeyId);
  if (index >= keys_.size()) {
    return {};
  }
  const KeyRecord& key = keys_[index];
  switch (key.character) {
    case 0:
      return {};
    case kCodeBack:
      return {KeyPress::kBack};
    case kCodeClear:
      return {KeyPress::kClear};
    case kCodeEnter:
      return {KeyPress::kEnter};
    case kCodeCancel:
      return {KeyPress::kCancel};
    case kCodeCaps:
      return {KeyPress::kCaps};
    default: {
      const bool upperLetter = (key.keyClass & kKeyLetter) != 0 && upper_;
      const char c =
          upperLetter ? static_cast<char>(key.keyClass & 0xFF) : static_cast<char>(key.character);
      return {KeyPress::kInsert, c};
    }
  }
}

PadDialogSize DialogSizeWithKeyboard(int keyboardTop, int keyboardWidth, int keyboardHeight,
                                     int frame, int captionHeight) {
  const int evenFrame = frame & ~1;
  return {keyboardWidth + evenFrame + 16,
          keyboardTop + keyboardHeight + captionHeight + evenFrame + 8};
}

PhysicalKeyMap::PhysicalKeyMap(const VkScanFunction& vkScan) {
  map_.fill(kNone);
  for (int vk : {8, 12, 44, 46, 93}) {
    map_[vk] = 0;
  }
  std::string characters;
  for (char c = '0'; c <= '9'; ++c) {
    characters.push_back(c);
  }
  for (char c = 'A'; c <= 'Z'; ++c) {
    characters.push_back(c);
    characters.push_back(static_cast<char>(c - 'A' + 'a'));
  }
  characters += ")!@#$%^&*(`-=[]\\;',./~_+{}|:\"<>? ";
  for (char c : characters) {
    const int16_t scan = vkScan(c);
    if (scan == -1) {
      continue;
    }
    const auto vk = static_cast<uint8_t>(scan & 0xFF);
    const auto shiftState = static_cast<uint8_t>((scan >> 8) & 0xFF);
    if (shiftState > 1) {
      continue;
    }
    map_[vk + (shiftState == 1 ? 256 : 0)] = static_cast<uint8_t>(c);
  }
  for (int vk = 96; vk <= 105; ++vk) {
    map_[vk] = static_cast<uint8_t>('0' + (vk - 96));
  }
  map_[106] = '*';
  map_[107] = '+';
  map_[109] = '-';
  map_[110] = '.';
  map_[111] = '/';
}

PinKeyAction PhysicalKeyMap::Map(uint32_t vk, const KeyEventState& state) const {
  if (vk > 255 || map_[vk] == kNone) {
    return {PinKeyAction::kPass};
  }
  if (!state.keyDown || state.alt || state.ctrl) {
    return {PinKeyAction::kSwallow};
  }
  if (map_[vk] == 0) {
    if (vk == 8 || vk == 12 || vk == 46) {
      return {PinKeyAction::kCommand, 0, static_cast<int>(vk)};
    }
    return {PinKeyAction::kSwallow};
  }
  size_t index = vk;
  if (state.capsLock && IsLetter(map_[vk])) {
    index ^= 256;
  }
  if (state.shift) {
    index ^= 256;
  }
  if (map_[index] == kNone || map_[index] == 0) {
    return {PinKeyAction::kSwallow};
  }
  return {PinKeyAction::kInsert, static_cast<char>(map_[index])};
}

}  // namespace VKey
