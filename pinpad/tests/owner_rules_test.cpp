#include "owner_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace VKey {
namespace {

TEST(OwnerRules, ExecutableFileNameIsTheTextAfterTheLastBackslash) {
  EXPECT_EQ(ExecutableFileName(u"C:\\Program Files\\KOBA\\host.exe"), u"host.exe");
  EXPECT_EQ(ExecutableFileName(u"host.exe"), u"host.exe");
  EXPECT_EQ(ExecutableFileName(u"C:\\dir\\"), u"");
}

TEST(OwnerRules, SourceAndForeignOwnerFollowTheProcessName) {
  const struct {
    const char16_t* name;
    OwnerSource source;
    bool dropsForeign;
  } cases[] = {
      {u"koba_KVN_usbkey_chrome.exe", OwnerSource::kEdgeWindow, false},
      {u"KOBA_kvn_USBKEY_chrome.EXE", OwnerSource::kEdgeWindow, false},
      {u"AcroRd32.exe", OwnerSource::kDesktop, false},
      {u"acrord32.exe", OwnerSource::kDesktop, false},
      {u"iexplore.exe", OwnerSource::kActiveWindow, true},
      {u"IEXPLORE.EXE", OwnerSource::kActiveWindow, true},
      {u"chrome.exe", OwnerSource::kActiveWindow, false},
      {u"koba_KVN_usbkey_chrome.exe.bak", OwnerSource::kActiveWindow, false},
      {u"xiexplore.exe", OwnerSource::kActiveWindow, false},
      {u"", OwnerSource::kActiveWindow, false},
  };
  for (const auto& c : cases) {
    const std::u16string name(c.name);
    EXPECT_EQ(OwnerSourceFor(name), c.source) << std::string(name.begin(), name.end());
    EXPECT_EQ(DropsForeignOwner(name), c.dropsForeign) << std::string(name.begin(), name.end());
  }
}

TEST(OwnerRules, EdgePageTitles) {
  const std::u16string padding(190, u'x');
  const struct {
    std::u16string title;
    bool edge;
  } cases[] = {
      {u"Bank - Microsoft\u200B Edge", true},
      {u"Bank - Microsoft? Edge", true},
      {u"Bank - MICROSOFT\u200B EDGE", true},
      {u"Bank - Microsoft Edge", false},
      {u"Microsoft Edge", false},
      {u"Bank - Google Chrome", false},
      {u"- Microsoft\u200B Edg", false},
      {padding + u"- Microsoft\u200B Edge", false},
      {std::u16string(180, u'x') + u"- Microsoft\u200B Edge", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsEdgePageTitle(c.title), c.edge) << std::string(c.title.begin(), c.title.end());
  }
}

}  // namespace
}  // namespace VKey
