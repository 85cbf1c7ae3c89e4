#include "system_path.h"

namespace koba::settings {

std::wstring BuildSystemLibraryPath(std::wstring_view windows_dir, bool wow64,
                                    std::wstring_view name) {
  std::wstring path(windows_dir);
  path.append(wow64 ? L"\\SysWow64\\" : L"\\System32\\");
  path.append(name);
  if (path.size() > kMaxSystemPath)
    return {};
  return path;
}

}  // namespace koba::settings
