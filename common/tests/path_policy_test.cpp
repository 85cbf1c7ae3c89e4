// Page-supplied paths: which names of a local file pass, and why everything else is refused.
#include "path_policy.h"

#include <gtest/gtest.h>

#include <string>

namespace koba::paths {
namespace {

TEST(PathPolicyTest, EveryFormGetsItsVerdict) {
  const struct {
    std::u16string path;
    PathVerdict verdict;
  } cases[] = {
      {u"C:\\a\\b.txt", PathVerdict::kAccepted},
      {u"z:/tmp/doc one.pdf", PathVerdict::kAccepted},
      {u"C:\\\\a\\\\b.txt", PathVerdict::kAccepted},  // doubled separators are one
      {u"D:\\\u5f20\u4e09 \u6587\u4ef6\\\u5408\u540c.docx", PathVerdict::kAccepted},
      {u"C:\\dir\\..\\x.bin", PathVerdict::kAccepted},
      {u"C:\\console.txt", PathVerdict::kAccepted},  // only the exact device names
      {u"C:\\COM10", PathVerdict::kAccepted},
      {u"C:\\nul\\..\\x", PathVerdict::kReservedName},
      {u"", PathVerdict::kEmpty},
      {u"a.txt", PathVerdict::kNotAbsolute},
      {u"..\\a.txt", PathVerdict::kNotAbsolute},
      {u"C:a.txt", PathVerdict::kNotAbsolute},
      {u"\\a.txt", PathVerdict::kNotAbsolute},
      {u"1:\\a.txt", PathVerdict::kNotAbsolute},
      {u"\\\\?\\C:\\a.txt", PathVerdict::kDeviceNamespace},
      {u"\\\\.\\pipe\\x", PathVerdict::kDeviceNamespace},
      {u"//./PhysicalDrive0", PathVerdict::kDeviceNamespace},
      {u"\\\\?\\UNC\\host\\share\\x", PathVerdict::kDeviceNamespace},
      {u"\\??\\C:\\a.txt", PathVerdict::kDeviceNamespace},
      {u"\\\\host\\share\\x", PathVerdict::kUnc},
      {u"//host/share/x", PathVerdict::kUnc},
      {u"\\\\.host\\share", PathVerdict::kUnc},
      {u"C:\\a.txt:secret", PathVerdict::kStream},
      {u"C:\\a.txt::$DATA", PathVerdict::kStream},
      {u"C:\\dir:x\\a.txt", PathVerdict::kStream},
      {u"C:\\CON", PathVerdict::kReservedName},
      {u"C:\\dir\\nul.txt", PathVerdict::kReservedName},
      {u"C:\\Aux.tar.gz", PathVerdict::kReservedName},
      {u"C:\\com1 .log", PathVerdict::kReservedName},
      {u"C:\\lpt9.", PathVerdict::kReservedName},
      {u"C:\\COM\u00B9", PathVerdict::kReservedName},
      {u"C:\\CONOUT$", PathVerdict::kReservedName},
      {u"C:\\prn\\x.txt", PathVerdict::kReservedName},
      {u"C:\\a?.txt", PathVerdict::kBadCharacter},
      {u"C:\\a*", PathVerdict::kBadCharacter},
      {u"C:\\a|b", PathVerdict::kBadCharacter},
      {u"C:\\a\"b", PathVerdict::kBadCharacter},
      {u"C:\\a<b>", PathVerdict::kBadCharacter},
      {std::u16string(u"C:\\a\0b", 6), PathVerdict::kBadCharacter},
      {u"C:\\a\nb", PathVerdict::kBadCharacter},
      {u"C:\\", PathVerdict::kNoFileName},
      {u"C:\\dir\\", PathVerdict::kNoFileName},
      {u"C:\\dir\\..", PathVerdict::kNoFileName},
      {u"C:\\dir\\. .", PathVerdict::kNoFileName},
      {u"C:\\" + std::u16string(kMaxPagePath, u'a'), PathVerdict::kTooLong},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CheckPagePath(c.path), c.verdict) << std::string(c.path.begin(), c.path.end())
                                                << " gave " << VerdictName(CheckPagePath(c.path));
  }
  EXPECT_TRUE(IsAcceptedPagePath(u"C:\\a"));
  EXPECT_FALSE(IsAcceptedPagePath(u"\\\\h\\s\\a"));
}

TEST(PathPolicyTest, BackslashDoubling) {
  EXPECT_EQ(DoubleBackslashes("C:\\a\\b.txt"), "C:\\\\a\\\\b.txt");
  EXPECT_EQ(DoubleBackslashes("\\\\server\\share"), "\\\\\\\\server\\\\share");
  EXPECT_EQ(DoubleBackslashes("no slashes"), "no slashes");
  for (const char* path : {"C:\\a\\b.txt", "\\\\srv\\s\\", "plain", "", "\\"}) {
    EXPECT_EQ(UndoubleBackslashes(DoubleBackslashes(path)), path);
  }
  EXPECT_EQ(UndoubleBackslashes("a\\b"), "a\\b");
}

}  // namespace
}  // namespace koba::paths
