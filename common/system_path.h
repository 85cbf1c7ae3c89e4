// The rule by which every deliverable finds the system libraries it loads. Windows-free.
#pragma once

#include <string>
#include <string_view>

namespace koba::settings {

// Paths longer than this many characters are refused.
constexpr size_t kMaxSystemPath = 259;

// `windows_dir` followed by "\SysWow64\<name>" for a 32-bit process on 64-bit Windows, else by
// "\System32\<name>"; empty when the result would be longer than kMaxSystemPath characters.
std::wstring BuildSystemLibraryPath(std::wstring_view windows_dir, bool wow64,
                                    std::wstring_view name);

}  // namespace koba::settings
