// CPinEdit: a PIN field. The edit control never holds the typed characters: the field keeps one
// encoded 32-bit entry per character in the library's private heap and shows one masking
// character per entry. It changes only through its commands (message kPinEditMessage), which
// the on-screen keyboard and the keyboard filter send; ordinary keys, characters, pasting and
// the context menu do nothing.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>

#include "pin_codec.h"
#include "secret_memory.h"

namespace VKey {

// The 8-byte value read from the key for the PIN dialogs.
using DeviceValue = std::array<unsigned char, 8>;

constexpr UINT kPinEditMessage = WM_APP + 1;
// Commands in wParam. Insert carries the encoded 32-bit entry in lParam itself: a window message
// can come from any program on the desktop, so it never carries an address the field would read.
constexpr WPARAM kPinInsert = 0;
constexpr WPARAM kPinBack = 8;
constexpr WPARAM kPinClear = 12;
constexpr WPARAM kPinDelete = 46;

// The codec of every field and keyboard of the process for a device value.
PinEntryCodec PinCodec(const DeviceValue& deviceValue);
// One character encoded for an insert command, with fresh filler bytes.
uint32_t EncodePinCharacter(const DeviceValue& deviceValue, char character);
// Takes the process-wide keyboard filter away (the fields do so themselves when they lose the
// focus; the library also does when it is unloaded).
void RemoveKeyboardFilter();

class CPinEdit {
 public:
  CPinEdit() = default;
  ~CPinEdit();
  CPinEdit(const CPinEdit&) = delete;
  CPinEdit& operator=(const CPinEdit&) = delete;

  // Subclasses the edit control; limit is the most characters it takes.
  bool Attach(HWND edit, const DeviceValue& deviceValue, size_t limit);
  HWND hwnd() const { return hwnd_; }
  size_t length() const { return entries_.size(); }
  // The PIN as narrow bytes; taken out only when the dialog checks it after OK.
  SecretBytes TakePin() const;
  // Command 12: entries wiped and freed, text emptied, caret to the start.
  void Clear();

 private:
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                    UINT_PTR id, DWORD_PTR self);
  LRESULT Command(WPARAM command, LPARAM lParam);
  void Show(size_t caret);
  void Detach();
  // The selection, or the caret as an empty one, within the entries.
  std::pair<size_t, size_t> Selection() const;
  void Erase(size_t from, size_t to);
  void StartKeyboardFilter();
  void StopKeyboardFilter();

  HWND hwnd_ = nullptr;
  DeviceValue deviceValue_{};
  size_t limit_ = 0;
  bool updating_ = false;
  std::vector<uint32_t, WipingAllocator<uint32_t>> entries_;
};

}  // namespace VKey
