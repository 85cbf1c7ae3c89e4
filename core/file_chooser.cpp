#include "file_chooser.h"

#include <windows.h>

#include <commdlg.h>

#include <vector>

#include "result_codes.h"
#include "settings.h"

namespace koba::core {
namespace {

using GetOpenFileNameWFn = BOOL(WINAPI*)(OPENFILENAMEW*);

// comdlg32 (and the shell it brings) is loaded when a page first asks for a file, not when the
// host starts.
class DialogLibrary {
 public:
  DialogLibrary() : module_(LoadLibraryW(settings::SystemLibraryPath(L"comdlg32.dll").c_str())) {}
  ~DialogLibrary() {
    if (module_ != nullptr)
      FreeLibrary(module_);
  }
  DialogLibrary(const DialogLibrary&) = delete;
  DialogLibrary& operator=(const DialogLibrary&) = delete;
  GetOpenFileNameWFn open() const {
    if (module_ == nullptr)
      return nullptr;
    return reinterpret_cast<GetOpenFileNameWFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(module_, "GetOpenFileNameW")));
  }

 private:
  HMODULE module_;
};

}  // namespace

int ChooseFile(size_t max_chars, std::wstring* path) {
  path->clear();
  const DialogLibrary library;
  const GetOpenFileNameWFn open = library.open();
  if (open == nullptr || max_chars < 2)
    return kCancelled;
  std::vector<wchar_t> buffer(max_chars, L'\0');
  OPENFILENAMEW ofn = {};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = GetForegroundWindow();
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
