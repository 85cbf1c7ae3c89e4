// The on-screen keyboard's tables and rules: the key table and its geometry, the random
// generator and digit shuffle, key labels and presses, and the map from physical keys to PIN
// characters.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace VKey {

// One key of the keyboard, 8 bytes as in the library's static table.
struct KeyRecord {
  uint8_t column;     // 1-based
  uint8_t row;        // 0-based
  uint8_t character;  // the character typed, or a special code
  uint8_t size;       // low nibble: extra columns, high nibble: extra rows
  uint32_t keyClass;  // kKeyDigit, kKeyLetter | upper-case letter, or kKeyOther
};
static_assert(sizeof(KeyRecord) == 8, "key records are 8 bytes");

constexpr uint32_t kKeyDigit = 0x100;
constexpr uint32_t kKeyLetter = 0x200;
constexpr uint32_t kKeyOther = 0x10000;

constexpr uint8_t kCodeBack = 8;
constexpr uint8_t kCodeClear = 12;
constexpr uint8_t kCodeEnter = 13;
constexpr uint8_t kCodeCaps = 20;
constexpr uint8_t kCodeCancel = 27;
constexpr uint8_t kCodeSpace = 32;

constexpr int kFirstKeyId = 4000;
constexpr int kLastKeyId = 4256;

// The static key table: 73 keys followed by a record whose first byte is 0.
extern const KeyRecord kPadKeyTable[74];

struct KeyRect {
  int x;
  int y;
  int width;
  int height;
};

// Pixel rectangle of a key inside the keyboard window.
KeyRect KeyGeometry(const KeyRecord& key);

// The process-wide linear congruential generator of the keyboard.
class PadRandom {
 public:
  explicit PadRandom(uint32_t seed) : state_(seed) {}
  uint32_t Next();
  uint32_t state() const { return state_; }

 private:
  uint32_t state_;
};

// The generator shared by every keyboard of the process, seeded on first use with the tick
// count the function returns.
PadRandom& ProcessPadRandom(uint32_t (*tickCount)());

// A key's label: a text id to look up, or the text itself.
struct KeyLabel {
  const char* textId = nullptr;
  std::string text;
};

// What a press on a key does.
struct KeyPress {
  enum Kind { kNone, kInsert, kBack, kClear, kEnter, kCancel, kCaps } kind = kNone;
  char character = 0;  // for kInsert
};

// The working copy of the key table of one keyboard.
class SoftPadKeys {
 public:
  SoftPadKeys();

  // Exchanges the digits of the digit keys: ten times two draws modulo 10.
  void Shuffle(PadRandom& random);
  void ToggleCaps() { upper_ = !upper_; }
  bool upper() const { return upper_; }

  const std::vector<KeyRecord>& keys() const { return keys_; }
  const std::vector<size_t>& digitKeys() const { return digits_; }
  const std::vector<size_t>& letterKeys() const { return letters_; }
  // Width and height of the keyboard window: the largest right and bottom key edges.
  int width() const;
  int height() const;

  KeyLabel Label(size_t index) const;
  // The press of the button with this control id; kNone outside the keys.
  KeyPress Press(int controlId) const;

 private:
  std::vector<KeyRecord> keys_;
  std::vector<size_t> digits_;
  std::vector<size_t> letters_;
  bool upper_ = false;
};

// Size of a PIN dialog with the keyboard shown below its fields. frame is the difference between
// the dialog's window and client widths.
struct PadDialogSize {
  int width;
  int height;
};
PadDialogSize DialogSizeWithKeyboard(int keyboardTop, int keyboardWidth, int keyboardHeight,
                                     int frame, int captionHeight);

// The keyboard-layout query: the virtual key for a character in the low byte and the shift
// state in the high byte (1 Shift, 2 Ctrl, 4 Alt), or -1 when no key types it.
using VkScanFunction = std::function<int16_t(char)>;

// Modifier state of a key event.
struct KeyEventState {
  bool keyDown = true;
  bool shift = false;
  bool ctrl = false;
  bool alt = false;
  bool capsLock = false;
};

// What the keyboard filter does with a key event while a PIN field has the focus.
struct PinKeyAction {
  enum Kind {
    kPass,     // not a PIN key: the event goes on
    kSwallow,  // a PIN key that types nothing now
    kInsert,   // insert character
    kCommand,  // field command: 8 Back, 12 Clear, 46 Delete
  } kind = kPass;
  char character = 0;
  int command = 0;
};

// The 512-byte map from (Shift, virtual key) to PIN character.
class PhysicalKeyMap {
 public:
  static constexpr uint8_t kNone = 0xFF;

  explicit PhysicalKeyMap(const VkScanFunction& vkScan);
  uint8_t at(size_t index) const { return map_[index]; }
  PinKeyAction Map(uint32_t vk, const KeyEventState& state) const;

 private:
  std::array<uint8_t, 512> map_;
};

}  // namespace VKey
