// The management tool window against installed virtual keys: the window runs on the test
// thread, a second thread drives it through window messages as a user would.
#include <windows.h>
// After windows.h, which they need.
#include <commctrl.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "device.h"
#include "dialog_driver.h"
#include "pad_module.h"
#include "pin_entry.h"
#include "pinpad_texts.h"
#include "resource.h"
#include "store.h"
#include "tool_window.h"

namespace VKey {
namespace {

using testing::EnterPin;
using testing::ItemText;
using testing::PressOk;
using testing::RunWithDriver;
using testing::WaitForDialog;
using testing::WaitUntil;
using testing::WindowText;

std::wstring TableText(const char* id) {
  const std::u16string text = PinpadTexts::Get().table().LoadText(id);
  return std::wstring(text.begin(), text.end());
}

std::wstring TableFormat(const char* id, int number) {
  const std::u16string text = PinpadTexts::Get().table().FormatText(id, {number});
  return std::wstring(text.begin(), text.end());
}

vkey::Bytes ReadDer(const wchar_t* path) {
  std::ifstream file(path, std::ios::binary);
  return vkey::Bytes(std::istreambuf_iterator<char>(file), {});
}

bool IsTool(HWND hwnd) {
  return GetDlgItem(hwnd, IDC_TOOLS_TAB) != nullptr;
}

// The page of the tool that holds the control id.
HWND Page(HWND tool, int controlId) {
  const HWND tab = GetDlgItem(tool, IDC_TOOLS_TAB);
  for (HWND page = FindWindowExW(tab, nullptr, L"#32770", nullptr); page != nullptr;
       page = FindWindowExW(tab, page, L"#32770", nullptr)) {
    if (GetDlgItem(page, controlId) != nullptr) {
      return page;
    }
  }
  return nullptr;
}

std::vector<std::wstring> DeviceEntries(HWND tool) {
  const HWND box = GetDlgItem(tool, IDC_TOOLS_DEVICE);
  std::vector<std::wstring> entries;
  const int count = static_cast<int>(SendMessageW(box, CB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    wchar_t text[256] = {};
    SendMessageW(box, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
    entries.emplace_back(text);
  }
  return entries;
}

std::wstring SelectedEntry(HWND tool) {
  const int selected =
      static_cast<int>(SendDlgItemMessageW(tool, IDC_TOOLS_DEVICE, CB_GETCURSEL, 0, 0));
  const std::vector<std::wstring> entries = DeviceEntries(tool);
  return selected >= 0 && static_cast<size_t>(selected) < entries.size() ? entries[selected] : L"";
}

// A box of the thread (no tool, no PIN dialog) with the given title.
HWND WaitForBox(DWORD thread, const std::wstring& title) {
  return WaitForDialog(thread, [&](HWND h) {
    return !IsTool(h) && GetDlgItem(h, IDC_VERIFY_PIN) == nullptr && WindowText(h) == title;
  });
}

// Presses a button of a page and waits until what it opened is there.
void Click(HWND page, int id) {
  PostMessageW(page, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(page, id)));
}

void Notify(HWND tool, WPARAM wParam) {
  SendMessageW(tool, RegisterWindowMessageW(L"{059D1DCF-7032-4eb5-A58B-33E72F639DC2}_KOBA"), wParam,
               CDlgVexloTools::kDeviceChangeCode);
}

int CountMyCertificates(const std::string& container) {
  const HCERTSTORE store =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
  int count = 0;
  for (PCCERT_CONTEXT cert = CertEnumCertificatesInStore(store, nullptr); cert != nullptr;
       cert = CertEnumCertificatesInStore(store, cert)) {
    DWORD bytes = 0;
    if (!CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &bytes)) {
      continue;
    }
    std::vector<BYTE> data(bytes);
    CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, data.data(), &bytes);
    const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(data.data());
    const std::wstring name = info->pwszContainerName;
    count += name == std::wstring(container.begin(), container.end()) ? 1 : 0;
  }
  CertCloseStore(store, 0);
  return count;
}

class ToolWindow : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { SetPadModule(GetModuleHandleW(nullptr)); }

  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"pinpad-tool-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder_.c_str(), nullptr);
    SetEnvironmentVariableW(L"KOBA_VKEY_STORE", folder_.c_str());
    SetEnvironmentVariableW(L"KOBA_VKEY_POLL_MS", L"10");
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Korvanet\\507Q2_KOBA", 0, nullptr, 0, KEY_WRITE,
                    nullptr, &key, nullptr);
    const DWORD english = 1033;
    RegSetValueExW(key, L"LangId", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&english),
                   sizeof english);
    RegCloseKey(key);
    ASSERT_TRUE(vkey::Transact([](vkey::Store& s) {
      s.keys.clear();
      return true;
    }));
  }

  // Lays out a key; with a certificate, in container "c-sig" under signature spec.
  uint32_t AddKey(const std::string& serial, const std::string& label, bool withCertificate,
                  uint32_t triesLeft = 6, uint32_t usbMode = 0x80) {
    uint32_t slot = 0;
    const vkey::Bytes der = withCertificate ? ReadDer(CERT_DIR L"\\user.der") : vkey::Bytes();
    EXPECT_TRUE(!withCertificate || !der.empty());
    EXPECT_TRUE(vkey::Transact([&](vkey::Store& s) {
      vkey::Key& key = vkey::AddKey(s, serial, false);
      key.label = label;
      key.tries_left = triesLeft;
      key.usb_mode = usbMode;
      if (withCertificate) {
        vkey::ContainerKey entry;
        entry.spec = 2;
        entry.certificate = der;
        key.containers.push_back({"c-sig", {entry}});
      }
      slot = key.slot;
      return true;
    }));
    return slot;
  }

  // Runs the tool while drive works it; the tool is closed with Exit afterwards.
  void RunTool(const std::function<void(DWORD, HWND)>& drive) {
    RunWithDriver<int>(
        [] {
          RunManagementTool(nullptr);
          return 0;
        },
        [&](DWORD thread) {
          const HWND tool = WaitForDialog(thread, IsTool);
          ASSERT_NE(tool, nullptr);
          drive(thread, tool);
        });
  }

  std::wstring folder_;
};

TEST_F(ToolWindow, TwoKeysAndTheRemovalOfTheSelectedOne) {
  AddKey("USER0001", "First", false);
  AddKey("USER0002", "R&D", false);
  RunTool([&](DWORD, HWND tool) {
    EXPECT_EQ(WindowText(tool), L"USB Key Management Tool");
    ASSERT_EQ(DeviceEntries(tool), (std::vector<std::wstring>{L"SN:USER0001   LABEL:First",
                                                              L"SN:USER0002   LABEL:R&&D"}));
    EXPECT_EQ(SelectedEntry(tool), L"SN:USER0001   LABEL:First");
    // Choose the second key; its label shows with its ampersand on the key page.
    SendDlgItemMessageW(tool, IDC_TOOLS_DEVICE, CB_SETCURSEL, 1, 0);
    SendMessageW(tool, WM_COMMAND, MAKEWPARAM(IDC_TOOLS_DEVICE, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(GetDlgItem(tool, IDC_TOOLS_DEVICE)));
    const HWND pellor = Page(tool, IDC_PELLOR_VERIFY);
    ASSERT_NE(pellor, nullptr);
    EXPECT_EQ(ItemText(pellor, IDC_PELLOR_VALUE1), L"R&&D");
    EXPECT_EQ(ItemText(pellor, IDC_PELLOR_VALUE2), L"USER0002");
    // A message other than a device change is ignored.
    ASSERT_TRUE(vkey::Transact([](vkey::Store& s) {
      for (vkey::Key& key : s.keys) {
        if (key.serial.rfind("USER0002", 0) == 0) {
          vkey::RemoveKey(s, key);
        }
      }
      return true;
    }));
    SendMessageW(tool, RegisterWindowMessageW(L"{059D1DCF-7032-4eb5-A58B-33E72F639DC2}_KOBA"), 0,
                 12);
    EXPECT_EQ(DeviceEntries(tool).size(), 2u);
    Notify(tool, 0x8004);
    EXPECT_EQ(DeviceEntries(tool), std::vector<std::wstring>{L"SN:USER0001   LABEL:First"});
    EXPECT_EQ(SelectedEntry(tool), L"SN:USER0001   LABEL:First");
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(pellor, IDC_PELLOR_VERIFY)));
    // The last key gone: the key page's buttons are disabled.
    ASSERT_TRUE(vkey::Transact([](vkey::Store& s) {
      vkey::RemoveKey(s, s.keys.front());
      return true;
    }));
    Notify(tool, 0x8004);
    EXPECT_TRUE(DeviceEntries(tool).empty());
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(pellor, IDC_PELLOR_VERIFY)));
  });
}

TEST_F(ToolWindow, AKeyInCdromModeIsOfferedTheHidSwitch) {
  AddKey("USER0008", "Mode", false, 6, 0x42);
  RunWithDriver<int>(
      [] {
        RunManagementTool(nullptr);
        return 0;
      },
      [&](DWORD thread) {
        const HWND offer = WaitForDialog(thread, [](HWND h) {
          return ItemText(h, IDC_MSGBOX_TEXT) == TableText("STR_ID_BOT_HID_SWITCH");
        });
        ASSERT_NE(offer, nullptr);
        PressOk(offer);
        ASSERT_NE(WaitForDialog(thread, IsTool), nullptr);
      });
  uint32_t mode = 0;
  vkey::Transact([&](vkey::Store& s) {
    mode = s.keys.front().usb_mode;
    return false;
  });
  EXPECT_EQ(mode, 0x80u);
}

TEST_F(ToolWindow, LanguageBoxSwitchesEveryText) {
  AddKey("USER0009", "Key", false);
  RunTool([&](DWORD, HWND tool) {
    const HWND box = GetDlgItem(tool, IDC_TOOLS_LANGUAGE);
    const int chinese =
        static_cast<int>(SendMessageW(box, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                      reinterpret_cast<LPARAM>(L"\u7B80\u4F53\u4E2D\u6587")));
    ASSERT_GE(chinese, 0) << "the language list names Simplified Chinese";
    SendMessageW(box, CB_SETCURSEL, chinese, 0);
    SendMessageW(tool, WM_COMMAND, MAKEWPARAM(IDC_TOOLS_LANGUAGE, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(box));
    EXPECT_EQ(WindowText(tool), L"USB Key\u7BA1\u7406\u5DE5\u5177");
    EXPECT_EQ(ItemText(Page(tool, IDC_PELLOR_VERIFY), IDC_PELLOR_VERIFY), L"\u9A8C\u8BC1PIN\u7801");
    wchar_t tab[64] = {};
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = tab;
    item.cchTextMax = 64;
    TabCtrl_GetItem(GetDlgItem(tool, IDC_TOOLS_TAB), 1, &item);
    EXPECT_STREQ(tab, TableText("STR_ID_CERTIFICATE").c_str());
    DWORD language = 0;
    DWORD bytes = sizeof language;
    RegGetValueW(HKEY_CURRENT_USER, L"Software\\Korvanet\\507Q2_KOBA", L"LangId", RRF_RT_REG_DWORD,
                 nullptr, &language, &bytes);
    EXPECT_EQ(language, 2052u);
  });
}

TEST_F(ToolWindow, KeyInformationShowsTheLabelAsItStands) {
  AddKey("USER0003", "A&B", false);
  RunTool([&](DWORD thread, HWND tool) {
    const HWND pellor = Page(tool, IDC_PELLOR_INFO);
    ASSERT_NE(pellor, nullptr);
    Click(pellor, IDC_PELLOR_INFO);
    const HWND info =
        WaitForDialog(thread, [](HWND h) { return GetDlgItem(h, IDC_UINFO_VALUE1) != nullptr; });
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(ItemText(info, IDC_UINFO_VALUE1), L"A&&B");
    EXPECT_EQ(ItemText(info, IDC_UINFO_VALUE2), L"USER0003");
    EXPECT_NE(ItemText(info, IDC_UINFO_VALUE3).find(L" bytes"), std::wstring::npos);
    PressOk(info);
  });
}

TEST_F(ToolWindow, VerifyPinWithNoTriesLeftShowsOnlyPinBlocked) {
  AddKey("USER0004", "Locked", false, 0);
  RunTool([&](DWORD thread, HWND tool) {
    Click(Page(tool, IDC_PELLOR_VERIFY), IDC_PELLOR_VERIFY);
    const HWND box = WaitForBox(thread, TableText("PAD_USE_TYPE_CHECKPIN"));
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(GetDlgItem(box, IDC_VERIFY_PIN), nullptr) << "no PIN dialog";
    EXPECT_EQ(ItemText(box, IDC_INFO_TEXT), TableText("PinBlocked"));
    PressOk(box);
    EXPECT_TRUE(testing::WaitClosed(box, tool));
    EXPECT_EQ(WaitForDialog(thread, [](HWND h) { return !IsTool(h); }), nullptr);
  });
}

TEST_F(ToolWindow, WrongPinWithThreeTriesLeftThenTheRightOne) {
  AddKey("USER0005", "Key", false, 4);
  RunTool([&](DWORD thread, HWND tool) {
    Click(Page(tool, IDC_PELLOR_VERIFY), IDC_PELLOR_VERIFY);
    HWND pin =
        WaitForDialog(thread, [](HWND h) { return GetDlgItem(h, IDC_VERIFY_PIN) != nullptr; });
    ASSERT_NE(pin, nullptr);
    EnterPin(pin, IDC_VERIFY_PIN, "999999");
    PressOk(pin);
    const HWND notice = WaitForBox(thread, TableText("PAD_USE_TYPE_CHECKPIN"));
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(ItemText(notice, IDC_INFO_TEXT), TableFormat("PinRemainTimes", 3));
    PressOk(notice);
    pin = WaitForDialog(thread, [](HWND h) { return GetDlgItem(h, IDC_VERIFY_PIN) != nullptr; });
    ASSERT_NE(pin, nullptr) << "the PIN dialog opens again";
    EnterPin(pin, IDC_VERIFY_PIN, "123456");
    PressOk(pin);
    const HWND result = WaitForBox(thread, WindowText(tool));
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(ItemText(result, IDC_MSGBOX_TEXT),
              TableText("STR_ID_VERIFYPIN") + L" " + TableText("STR_ID_SUCCESS"));
    PressOk(result);
  });
}

TEST_F(ToolWindow, FifteenTriesLeftEndsTheLoop) {
  AddKey("USER0006", "Key", false, 16);
  RunTool([&](DWORD thread, HWND tool) {
    Click(Page(tool, IDC_PELLOR_VERIFY), IDC_PELLOR_VERIFY);
    const HWND pin =
        WaitForDialog(thread, [](HWND h) { return GetDlgItem(h, IDC_VERIFY_PIN) != nullptr; });
    ASSERT_NE(pin, nullptr);
    EnterPin(pin, IDC_VERIFY_PIN, "999999");
    PressOk(pin);
    // 0xE011001F is outside the retry range: no notice, no second PIN dialog, only the result.
    const HWND result = WaitForBox(thread, WindowText(tool));
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(ItemText(result, IDC_MSGBOX_TEXT),
              TableText("STR_ID_VERIFYPIN") + L" " + TableText("STR_ID_FAIL"));
    PressOk(result);
  });
}

TEST_F(ToolWindow, RegisterUnregisterAndDeleteACertificate) {
  const uint32_t slot = AddKey("USER0007", "Certs", true);
  const std::string container = "\\\\.\\Korvanet VexloToken " + std::to_string(slot) + "\\c-sig";
  RunTool([&](DWORD thread, HWND tool) {
    const HWND page = Page(tool, IDC_CERT_LIST);
    ASSERT_NE(page, nullptr);
    ASSERT_EQ(ListView_GetItemCount(GetDlgItem(page, IDC_CERT_LIST)), 1);
    wchar_t cell[64] = {};
    ListView_GetItemText(GetDlgItem(page, IDC_CERT_LIST), 0, 2, cell, 64);
    EXPECT_EQ(std::wstring(cell).size(), 19u) << "yyyy-mm-dd hh:mm:ss";
    const std::wstring title = WindowText(tool);
    const auto answer = [&](const char* id, const char* result) {
      const HWND box = WaitForBox(thread, title);
      ASSERT_NE(box, nullptr) << id;
      EXPECT_EQ(ItemText(box, IDC_MSGBOX_TEXT), TableText(id) + L" " + TableText(result));
      PressOk(box);
      testing::WaitClosed(box, tool);
    };
    Click(page, IDC_CERT_REGISTER);
    answer("STR_ID_C_REG", "STR_ID_SUCCESS");
    EXPECT_EQ(CountMyCertificates(container), 1);
    Click(page, IDC_CERT_UNREGISTER);
    answer("STR_ID_C_UNREG", "STR_ID_SUCCESS");
    EXPECT_EQ(CountMyCertificates(container), 0);

    // The user refuses on the key: nothing is said, the certificate stays.
    ASSERT_TRUE(vkey::Transact([](vkey::Store& s) {
      s.keys.front().presses = {"refuse"};
      return true;
    }));
    Click(page, IDC_CERT_DELETE);
    HWND ask = WaitForBox(thread, TableText("STR_ID_C_DELCERT"));
    ASSERT_NE(ask, nullptr);
    PostMessageW(ask, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(testing::WaitClosed(ask, tool));
    EXPECT_EQ(WaitForDialog(thread, [](HWND h) { return !IsTool(h); }), nullptr);
    EXPECT_EQ(ListView_GetItemCount(GetDlgItem(page, IDC_CERT_LIST)), 1);

    Click(page, IDC_CERT_DELETE);
    ask = WaitForBox(thread, TableText("STR_ID_C_DELCERT"));
    ASSERT_NE(ask, nullptr);
    PostMessageW(ask, WM_COMMAND, IDOK, 0);
    answer("STR_ID_C_DELCERT", "STR_ID_SUCCESS");
    EXPECT_EQ(ListView_GetItemCount(GetDlgItem(page, IDC_CERT_LIST)), 0);
    bool gone = false;
    vkey::Transact([&](vkey::Store& s) {
      gone = s.keys.front().containers.empty();
      return false;
    });
    EXPECT_TRUE(gone) << "deleted on the key";
  });
}

}  // namespace
}  // namespace VKey
