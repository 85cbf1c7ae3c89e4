#include "owner_window.h"

#include <string>

#include "owner_rules.h"
#include "wide_text.h"

namespace VKey {
namespace {

// The owner found first by this process; the exports are called from one thread at a time.
HWND g_ownerCache = nullptr;

std::u16string ExecutableName() {
  return std::u16string(ExecutableFileName(ProcessExecutablePath()));
}

BOOL CALLBACK FindEdgePage(HWND window, LPARAM found) {
  wchar_t title[201] = {};
  const int n = GetWindowTextW(window, title, 201);
  if (n > 0 && IsEdgePageTitle(std::u16string(title, title + n))) {
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
  }
  return TRUE;
}

HWND EdgeWindow() {
  HWND window = FindWindowW(nullptr, L"Microsoft Edge");
  if (window == nullptr) {
    EnumWindows(&FindEdgePage, reinterpret_cast<LPARAM>(&window));
  }
  return window;
}

}  // namespace

std::u16string ProcessExecutablePath() {
  std::wstring path(MAX_PATH, L'\0');
  while (true) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) {
      return {};
    }
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  return Utf16(path);
}

HWND FindOwnerWindow() {
  if (g_ownerCache != nullptr && !IsWindow(g_ownerCache)) {
    g_ownerCache = nullptr;
  }
  const std::u16string name = ExecutableName();
  switch (OwnerSourceFor(name)) {
    case OwnerSource::kEdgeWindow:
      if (const HWND edge = EdgeWindow()) {
        g_ownerCache = edge;
      }
      break;
    case OwnerSource::kDesktop:
      g_ownerCache = GetDesktopWindow();
      break;
    case OwnerSource::kActiveWindow:
      break;
  }
  if (g_ownerCache == nullptr) {
    const HWND active = GetActiveWindow();
    g_ownerCache = active != nullptr ? GetAncestor(active, GA_ROOT) : GetForegroundWindow();
  }
  if (g_ownerCache != nullptr && DropsForeignOwner(name)) {
    DWORD process = 0;
    GetWindowThreadProcessId(g_ownerCache, &process);
    if (process != GetCurrentProcessId()) {
      g_ownerCache = nullptr;
    }
  }
  return g_ownerCache;
}

}  // namespace VKey
