#include "monitor_rules.h"

#include <gtest/gtest.h>

namespace koba::traymon {
namespace {

TEST(MonitorRules, CommandWords) {
  struct Case {
    const char16_t* line;
    bool kill, root, skip, tip, remove;
  } cases[] = {
      {u"Q2Svr_KOBA.exe", false, false, false, false, false},
      {u"Q2Svr_KOBA.exe kill", true, false, false, false, false},
      {u"x.exe installRoot", false, true, false, false, false},
      {u"x.exe installRoot -s", false, true, true, false, false},
      {u"x.exe installRoot  -s", false, true, false, false, false},
      {u"x.exe installroot -s KILL removeroot", false, false, false, false, false},  // case
      {u"x.exe killinstallRoot -sinstallTrayTip", true, true, true, true, false},    // substrings
      {u"\"C:\\skill\\x.exe\"", true, false, false, false, false},
      {u"x.exe kill removeRoot", true, false, false, false, true},
      {u"x.exe removeRootinstallRoot", false, true, false, false, true},
  };
  for (const Case& c : cases) {
    const CommandWords w = ParseCommandWords(c.line);
    EXPECT_EQ(w.kill, c.kill);
    EXPECT_EQ(w.install_root, c.root);
    EXPECT_EQ(w.skip_user_stores, c.skip);
    EXPECT_EQ(w.remove_root, c.remove);
    EXPECT_EQ(w.install_tray_tip, c.tip);
  }
}

TEST(MonitorRules, KeyInterfaces) {
  EXPECT_TRUE(
      IsKeyInterface(u"\\\\?\\USBSTOR#CDROM&VEN_KORVANET&PROD_AB12&REV_1.00#1#{53f56308-b6bf-11d0-"
                     u"94f2-00a0c91efb8b}"));
  EXPECT_TRUE(
      IsKeyInterface(u"\\\\?\\HID#VID_3951&PID_0001#7&1#{4d1e55b2-f16f-11cf-88cb-001111000030}"));
  EXPECT_FALSE(IsKeyInterface(u"\\\\?\\USBSTOR#CDROM&VEN_SANDISK&PROD_X#1#{53f56308}"));
  EXPECT_FALSE(IsKeyInterface(u"\\\\?\\HID#VID_3950&PID3951#1"));  // no underscore before it
  EXPECT_FALSE(IsKeyInterface(u""));
  // Only what fits the 266-character copy is looked at.
  std::u16string late(265, u'x');
  EXPECT_FALSE(IsKeyInterface(late + u"_korvanet"));
  late.resize(256);
  EXPECT_TRUE(IsKeyInterface(late + u"_korvanet"));
}

TEST(MonitorRules, ScanCodeTable) {
  struct Case {
    uint32_t code;
    bool forget, refresh, u_rem, d_rem, u_ins, d_ins, reg;
  } cases[] = {
      {kScanArrival, false, false, true, false, true, true, true},
      {kScanRemoval, false, false, true, true, true, false, false},
      {kScanStart, false, false, false, false, true, true, false},
      {kScanRescan, false, true, false, false, false, false, false},
      {kScanResume, true, false, false, false, true, false, false},
      {kScanNodesChanged, false, false, false, false, false, false, false},
      {0x1234, false, false, false, false, false, false, false},
  };
  for (const Case& c : cases) {
    const ScanActions& a = ActionsFor(c.code);
    EXPECT_EQ(a.forget_all, c.forget) << c.code;
    EXPECT_EQ(a.refresh_present, c.refresh) << c.code;
    EXPECT_EQ(a.usage_remove, c.u_rem) << c.code;
    EXPECT_EQ(a.diag_remove, c.d_rem) << c.code;
    EXPECT_EQ(a.usage_insert, c.u_ins) << c.code;
    EXPECT_EQ(a.diag_insert, c.d_ins) << c.code;
    EXPECT_EQ(a.registry_insert, c.reg) << c.code;
  }
}

TEST(MonitorRules, TextsAndFields) {
  EXPECT_EQ(BalloonTextKey(1), "TrayTip01");
  EXPECT_EQ(BalloonTextKey(2), "TrayTip02");
  EXPECT_EQ(FitText(u"abc", 4), u"abc");
  EXPECT_EQ(FitText(u"abcd", 4), u"abc");
  EXPECT_EQ(FitText(u"ab\xD83D\xDE00", 4), u"ab");  // the pair is not split
  EXPECT_EQ(FitText(u"abc", 0), u"");
}

}  // namespace
}  // namespace koba::traymon
