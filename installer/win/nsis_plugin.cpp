#include "nsis_plugin.h"

#include <cwchar>

namespace koba::installer::nsis {
namespace {

// The current call's view of the installer, shared by the pops and writes of one export.
struct CallContext {
  HWND parent = nullptr;
  size_t string_size = 0;
  wchar_t* variables = nullptr;
  StackEntry** stacktop = nullptr;
};
CallContext g_call;

}  // namespace

void BeginCall(HWND parent, int string_size, wchar_t* variables, StackEntry** stacktop) {
  g_call.parent = parent;
  g_call.string_size = string_size > 0 ? static_cast<size_t>(string_size) : 0;
  g_call.variables = variables;
  g_call.stacktop = stacktop;
}

HWND ParentWindow() {
  return g_call.parent;
}

Pop PopArg(wchar_t* buffer, size_t capacity) {
  if (g_call.stacktop == nullptr || *g_call.stacktop == nullptr)
    return Pop::kEmpty;
  StackEntry* top = *g_call.stacktop;
  // The installer sizes every entry to its string size; nothing beyond it is read.
  const size_t length = wcsnlen(top->text, g_call.string_size);
  *g_call.stacktop = top->next;
  Pop result = Pop::kTaken;
  if (length >= capacity) {
    buffer[0] = L'\0';
    result = Pop::kTooLong;
  } else {
    wmemcpy(buffer, top->text, length);
    buffer[length] = L'\0';
    OutputDebugStringW(buffer);
  }
  GlobalFree(top);
  return result;
}

void SetVariable(int index, std::wstring_view text) {
  if (g_call.variables == nullptr || g_call.string_size == 0 || index < 0 ||
      index >= kVariableCount)
    return;
  wchar_t* slot = g_call.variables + static_cast<size_t>(index) * g_call.string_size;
  const size_t n = text.size() < g_call.string_size ? text.size() : g_call.string_size - 1;
  wmemcpy(slot, text.data(), n);
  slot[n] = L'\0';
}

}  // namespace koba::installer::nsis
