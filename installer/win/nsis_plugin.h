// The installer's plug-in interface: how an export reads its arguments from the installer's
// stack and leaves its results in the installer's variables. Every export records the call's
// stack and variables first (BeginCall), then pops and writes through them.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string_view>

namespace koba::installer::nsis {

// A stack entry as the installer allocates it (GlobalAlloc): the next entry, then the text.
struct StackEntry {
  StackEntry* next;
  wchar_t text[1];
};

// Variable indexes: $0..$9 are 0..9, $R0..$R9 are 10..19.
constexpr int kVar9 = 9;
constexpr int kVarR0 = 10;
constexpr int kVariableCount = 25;

// Every argument buffer of the exports holds 1024 characters, terminating NUL included.
constexpr size_t kArgCapacity = 1024;

void BeginCall(HWND parent, int string_size, wchar_t* variables, StackEntry** stacktop);
HWND ParentWindow();

enum class Pop {
  kTaken,    // the top entry's text is in the buffer
  kEmpty,    // nothing on the stack: the buffer keeps its previous text
  kTooLong,  // the top entry does not fit: it is removed and the buffer emptied
};

// Pops the top entry into `buffer` (capacity in characters, NUL included) and shows it on the
// debugger output.
Pop PopArg(wchar_t* buffer, size_t capacity);

// A fixed argument buffer, empty until something is popped into it.
template <size_t N = kArgCapacity>
struct Arg {
  wchar_t text[N] = {};
  Pop Take() { return PopArg(text, N); }
  std::wstring_view view() const { return text; }
};

// Writes a variable, cut to the installer's string size.
void SetVariable(int index, std::wstring_view text);
inline void SetResult(std::wstring_view text) {
  SetVariable(kVarR0, text);
}

}  // namespace koba::installer::nsis

// Defines an export with the installer's calling convention. `extra` (the installer's extra
// parameters) is not needed by any export.
#define KOBA_NSIS_EXPORT(name)                                                  \
  static void name##_Body();                                                    \
  extern "C" __declspec(dllexport) void __cdecl name(                           \
      HWND parent, int string_size, wchar_t* variables,                         \
      koba::installer::nsis::StackEntry** stacktop, void* /*extra*/) {          \
    koba::installer::nsis::BeginCall(parent, string_size, variables, stacktop); \
    name##_Body();                                                              \
  }                                                                             \
  static void name##_Body()
