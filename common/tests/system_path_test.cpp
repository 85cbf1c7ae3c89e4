#include "system_path.h"

#include <gtest/gtest.h>

namespace koba::settings {
namespace {

TEST(SystemLibraryPath, ChoosesTheFolderOfTheProcessKind) {
  EXPECT_EQ(BuildSystemLibraryPath(L"C:\\Windows", true, L"Q2CSP_KOBA.dll"),
            L"C:\\Windows\\SysWow64\\Q2CSP_KOBA.dll");
  EXPECT_EQ(BuildSystemLibraryPath(L"C:\\Windows", false, L"Q2CSP_KOBA.dll"),
            L"C:\\Windows\\System32\\Q2CSP_KOBA.dll");
}

TEST(SystemLibraryPath, RefusesPathsOverTheLimit) {
  const std::wstring dir = L"C:\\" + std::wstring(kMaxSystemPath - 3 - 10 - 5, L'd');
  EXPECT_EQ(BuildSystemLibraryPath(dir, false, L"a.dll").size(), kMaxSystemPath);
  EXPECT_EQ(BuildSystemLibraryPath(dir, false, L"ab.dll"), L"");
}

}  // namespace
}  // namespace koba::settings
