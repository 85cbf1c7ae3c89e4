#include "file_chooser.h"

#include <windows.h>

#include <commdlg.h>

#include <vector>

#include "result_codes.h"
#include "system_library.h"

namespace koba::core {

int ChooseFile(size_t max_chars, std::wstring* path) {
  path->clear();
  // comdlg32 (and the shell it brings) is loaded when a page asks for a file, and let go after.
  const win::SystemLibrary dialogs(L"comdlg32.dll");
  static const win::SystemLibrary user32(L"user32.dll");
  decltype(&GetOpenFileNameW) open = nullptr;
  decltype(&GetForegroundWindow) foreground = nullptr;
  if (!dialogs.Resolve("GetOpenFileNameW", &open) ||
      !user32.Resolve("GetForegroundWindow", &foreground) || max_chars < 2) {
    return kCancelled;
  }
  std::vector<wchar_t> buffer(max_chars, L'\0');
  OPENFILENAMEW ofn = {};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = foreground();
  ofn.lpstrFilter = L"*.*\0*.*\0";
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = buffer.data();
  ofn.nMaxFile = static_cast<DWORD>(max_chars);
  // The host's current folder stays where it was.
  ofn.Flags =
      OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (!open(&ofn))
    return kCancelled;
  buffer.back() = L'\0';
  path->assign(buffer.data());
  return path->empty() ? kCancelled : kOk;
}

}  // namespace koba::core
