#include "system_library.h"

#include <string>

#include "settings.h"

namespace koba::win {

SystemLibrary::SystemLibrary(const wchar_t* file_name) {
  const std::wstring path = settings::SystemLibraryPath(file_name);
  if (!path.empty())
    module_.reset(LoadLibraryW(path.c_str()));
}

}  // namespace koba::win
