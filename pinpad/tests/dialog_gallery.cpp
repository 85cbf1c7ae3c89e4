// Opens every dialog of the PIN pad library in the given languages, captures each window once
// it is painted into "<folder>\<language>_<name>.bmp", and closes it again.
//   dialog_gallery.exe FOLDER LANGUAGE...
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <commctrl.h>

#include <atomic>

#include "device.h"
#include "device_dialogs.h"
#include "dialog_driver.h"
#include "info_dialogs.h"
#include "owner_window.h"
#include "pad_module.h"
#include "pin_dialogs.h"
#include "pinpad_texts.h"
#include "resource.h"
#include "show_dialog.h"
#include "store.h"
#include "tool_window.h"

namespace VKey {
namespace {

using testing::RunWithDriver;
using testing::WaitForDialog;

struct DcDeleter {
  void operator()(HDC dc) const { DeleteDC(dc); }
};
struct ScreenDc {
  ScreenDc() : dc(GetDC(nullptr)) {}
  ~ScreenDc() { ReleaseDC(nullptr, dc); }
  ScreenDc(const ScreenDc&) = delete;
  ScreenDc& operator=(const ScreenDc&) = delete;
  HDC dc;
};
struct GdiDeleter {
  void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};

// Waits until the window has been painted and the display shows it: a fixed pause is all a
// screen capture can go by.
void LetPaint(HWND window) {
  SetForegroundWindow(window);
  RedrawWindow(window, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_BLOCK, 5000, &ignored);
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
}

// The window as it is on the screen, frame included, as a 24-bit BMP file.
bool Capture(HWND window, const std::wstring& path) {
  LetPaint(window);
  RECT rect{};
  if (!GetWindowRect(window, &rect)) {
    return false;
  }
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  const ScreenDc screen;
  const std::unique_ptr<std::remove_pointer_t<HDC>, DcDeleter> memory(
      CreateCompatibleDC(screen.dc));
  BITMAPINFOHEADER header{};
  header.biSize = sizeof header;
  header.biWidth = width;
  header.biHeight = height;
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  void* bits = nullptr;
  const std::unique_ptr<std::remove_pointer_t<HGDIOBJ>, GdiDeleter> bitmap(CreateDIBSection(
      screen.dc, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!memory || !bitmap || bits == nullptr) {
    return false;
  }
  const HGDIOBJ old = SelectObject(memory.get(), bitmap.get());
  const BOOL copied = BitBlt(memory.get(), 0, 0, width, height, screen.dc, rect.left, rect.top,
                             SRCCOPY | CAPTUREBLT);
  SelectObject(memory.get(), old);
  GdiFlush();
  if (!copied) {
    return false;
  }
  const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
  header.biSizeImage = stride * static_cast<DWORD>(height);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof header;
  file.bfSize = file.bfOffBits + header.biSizeImage;
  const std::unique_ptr<FILE, FileCloser> out(_wfopen(path.c_str(), L"wb"));
  return out && std::fwrite(&file, sizeof file, 1, out.get()) == 1 &&
         std::fwrite(&header, sizeof header, 1, out.get()) == 1 &&
         std::fwrite(bits, header.biSizeImage, 1, out.get()) == 1;
}

struct Entry {
  const wchar_t* name;
  std::function<uint32_t()> show;
  bool openKeyboard = false;
};

// A dialog class of the library run under the owner the exports would choose.
template <typename Dialog, typename... Args>
uint32_t RunDialog(Args&&... args) {
  Dialog dialog(std::forward<Args>(args)...);
  return DialogStatus(dialog.RunModal(FindOwnerWindow()));
}

std::wstring TableText(const char* id) {
  const std::u16string text = PinpadTexts::Get().table().LoadText(id);
  return std::wstring(text.begin(), text.end());
}

uint32_t __stdcall ModeOfKey(void*, uint32_t command, uint32_t* value) {
  if (command == CDlgBOTHID::kReadMode) {
    *value = CDlgBOTHID::kModeHid;
  }
  return 0;
}

// The key of the pictures answers only once its dialog has been captured.
std::atomic<bool> g_answer{false};

uint32_t __stdcall ConfirmOnKey(void*, uint8_t*, uint32_t, uint32_t) {
  return g_answer ? 0 : PAD_DEVICE_PENDING;
}

uint32_t __stdcall DisplayOnKey(void*, uint8_t*, uint32_t, uint8_t, uint32_t, uint32_t, uint8_t*,
                                uint32_t, uint32_t, uint32_t) {
  return g_answer ? 0 : PAD_DEVICE_PENDING;
}

// A bank transfer of 12 fields in English or Chinese; the first `fields` are shown.
std::string TransferDocument(uint32_t language, int fields) {
  static const char* const kEnglish[][2] = {
      {"Transaction", "Domestic transfer"},
      {"Payer account", "6222 0210 0112 3456 789"},
      {"Payer name", "Zhang San"},
      {"Payee account", "6217 0039 8800 1234 567"},
      {"Payee name", "Li Si &amp; Co. Ltd."},
      {"Payee bank", "KOBA Bank Shanghai Pudong Branch"},
      {"Amount", "CNY 12,500.00"},
      {"Amount in words", "Twelve thousand five hundred yuan"},
      {"Fee", "CNY 5.00"},
      {"Purpose", "Invoice 2026-0457"},
      {"Date", "2026-12-10 20:15:08"},
      {"Reference", "TRX20261210201508"},
  };
  static const char* const kChinese[][2] = {
      {"交易类型", "跨行转账"},
      {"付款账号", "6222 0210 0112 3456 789"},
      {"付款户名", "张三"},
      {"收款账号", "6217 0039 8800 1234 567"},
      {"收款户名", "上海李四贸易有限公司"},
      {"收款银行", "KOBA银行上海浦东支行"},
      {"金额", "人民币 12,500.00 元"},
      {"大写金额", "壹万贰仟伍佰元整"},
      {"手续费", "人民币 5.00 元"},
      {"用途", "货款 2026-0457号发票"},
      {"交易时间", "2026-12-10 20:15:08"},
      {"流水号", "TRX20261210201508"},
  };
  const auto& rows = language == 2052 ? kChinese : kEnglish;
  std::string body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><T>";
  for (int i = 0; i < fields; ++i) {
    body += std::string("<F name=\"") + rows[i][0] + "\" value=\"" + rows[i][1] +
            "\" DisplayOnScreen=\"true\"/>";
  }
  return body + "</T>";
}

std::string TransferHighlights(uint32_t language) {
  return language == 2052 ? "收款账号:\r\n收款户名\n金额："
                          : "Payee account:\r\nPayee name\nAmount:";
}

// A key with a certificate for the pictures of the management tool.
void LayOutToolKey() {
  std::vector<uint8_t> der;
  if (FILE* file = _wfopen(GALLERY_CERT, L"rb")) {
    uint8_t buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
      der.insert(der.end(), buffer, buffer + n);
    }
    std::fclose(file);
  }
  vkey::Transact([&](vkey::Store& s) {
    s.keys.clear();
    vkey::Key& key = vkey::AddKey(s, "K507Q2000123456", false);
    key.label = "KOBA USB Key";
    key.usb_mode = 0x80;
    if (!der.empty()) {
      vkey::ContainerKey entry;
      entry.spec = 2;
      entry.certificate = der;
      key.containers.push_back({"c-sig", {entry}});
    }
    return true;
  });
}

struct WindowDestroyer {
  void operator()(HWND window) const { DestroyWindow(window); }
};

// The window of the program the dialogs belong to, as a browser window would be.
std::unique_ptr<std::remove_pointer_t<HWND>, WindowDestroyer> HostWindow() {
  WNDCLASSW wc{};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hbrBackground = GetSysColorBrush(COLOR_APPWORKSPACE);
  wc.lpszClassName = L"DialogGalleryHost";
  RegisterClassW(&wc);
  std::unique_ptr<std::remove_pointer_t<HWND>, WindowDestroyer> window(
      CreateWindowExW(0, wc.lpszClassName, L"Dialog gallery", WS_OVERLAPPEDWINDOW, 100, 100, 900,
                      700, nullptr, nullptr, wc.hInstance, nullptr));
  ShowWindow(window.get(), SW_SHOW);
  SetForegroundWindow(window.get());
  return window;
}

int Run(const std::wstring& folder, const std::vector<uint32_t>& languages) {
  SetPadModule(GetModuleHandleW(nullptr));
  const auto host = HostWindow();
  int failures = 0;
  const auto save = [&](HWND window, uint32_t language, const wchar_t* name) {
    const std::wstring path = folder + L"\\" + std::to_wstring(language) + L"_" + name + L".bmp";
    if (window == nullptr || !Capture(window, path)) {
      std::fwprintf(stderr, L"no picture of %ls\n", path.c_str());
      ++failures;
    }
  };

  static const wchar_t* const kDevices[] = {L"KOBA USB Key", L"K507Q2-0000123456",
                                            L"\u5DE5\u4F5C\u5BC6\u94A5", L"K507Q2-0000654321"};
  static const wchar_t* const kCerts[] = {L"CN=Zhang San, OU=Retail, O=KOBA Bank, C=CN",
                                          L"CN=Zhang San (SM2), O=KOBA Bank, C=CN"};
  for (const uint32_t language : languages) {
    if (PinpadTexts::Get().Param(language, 1) != 0) {
      std::fwprintf(stderr, L"the texts of %u do not load\n", language);
      ++failures;
      continue;
    }
    SelectDeviceRecord devices{0, 2, kDevices};
    SelectCertRecord certs{0, 0, 2, kCerts};
    char label[33] = "KOBA USB Key";
    KeyInfoRecord info{{L"KOBA USB Key", L"K507Q2-0000123456", L"64 KB", L"3"}};
    MessageBoxRecord ask{L"STR_ID_C_DELCERT", L"STR_ID_C_DELCERT_WARNING_1", 1};
    MessageBoxRecord tell{L"STR_ID_CHANGELABEL", L"STR_ID_SUCCESS", 0};
    UsbModeRecord mode{nullptr, &ModeOfKey};
    PinDialogArgs pinArgs;
    pinArgs.deviceValue = {'K', 'O', 'B', 'A', '0', '0', '0', '1'};
    const Entry entries[] = {
        {L"pin_verify", [&] { return RunDialog<CDlgVerifyPin>(pinArgs); }},
        {L"pin_verify_keyboard", [&] { return RunDialog<CDlgVerifyPin>(pinArgs); }, true},
        {L"pin_change_keyboard", [&] { return RunDialog<CDlgChangePin>(pinArgs); }, true},
        {L"pin_init_keyboard", [&] { return RunDialog<CDlgInitPin>(pinArgs); }, true},
        {L"info",
         [&] {
           return RunDialog<CDlgDisplayInfo>(TableText("PAD_USE_TYPE_CHECKPIN"),
                                             TableText("PAD_INPUT_PIN_LESS_8"));
         }},
        {L"select_device", [&] { return ShowSelectDevice(&devices); }},
        {L"select_cert", [&] { return ShowSelectCert(&certs); }},
        {L"change_label", [&] { return ShowChangeLabel(label); }},
        {L"key_info", [&] { return ShowKeyInfo(&info); }},
        {L"usb_mode", [&] { return ShowUsbMode(&mode); }},
        {L"message_ok_cancel", [&] { return ShowMessageBox(&ask); }},
        {L"message_ok", [&] { return ShowMessageBox(&tell); }},
    };
    for (const Entry& entry : entries) {
      RunWithDriver<uint32_t>(entry.show, [&](DWORD thread) {
        const HWND dialog = WaitForDialog(thread);
        if (dialog != nullptr && entry.openKeyboard) {
          SendMessageW(GetDlgItem(dialog, IDC_KEYBOARD), BM_CLICK, 0, 0);
        }
        save(dialog, language, entry.name);
        if (dialog != nullptr) {
          PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        }
      });
    }
    PinpadParam confirm{};
    confirm.size = sizeof confirm;
    confirm.pollPeriodMs = 500;
    for (const uint32_t operation : {4u, 10u}) {
      confirm.useType = operation;
      g_answer = false;
      RunWithDriver<uint32_t>(
          [&] {
            return RunDeviceDialog(nullptr, reinterpret_cast<void*>(&ConfirmOnKey), confirm, 999,
                                   FindOwnerWindow());
          },
          [&](DWORD thread) {
            save(WaitForDialog(thread), language,
                 operation == 4 ? L"device_confirm_login" : L"device_confirm_delete");
            g_answer = true;
          });
    }
    for (const int fields : {8, 12}) {
      const std::string document = TransferDocument(language, fields);
      const std::string highlights = TransferHighlights(language);
      PinpadDisplayRequest request{};
      request.utf8 = 1;
      request.prompt = language == 2052
                           ? L"\u8BF7\u6838\u5BF9\u4EE5\u4E0B\u4EA4\u6613\u4FE1\u606F\uFF0C"
                             L"\u786E\u8BA4\u65E0\u8BEF\u540E\u5728USB Key\u4E0A\u6309\u201C"
                             L"\u786E\u8BA4\u201D\u952E\u3002"
                           : L"Please check the transfer below. If it is correct, press OK on your "
                             L"USB key; otherwise press Cancel on the key.";
      request.documentLength = static_cast<uint32_t>(document.size());
      request.document = document.data();
      request.highlightLength = static_cast<uint32_t>(highlights.size());
      request.highlights = highlights.data();
      PinpadParam display{};
      display.size = sizeof display;
      display.pollPeriodMs = 500;
      display.displayRequest = &request;
      g_answer = false;
      RunWithDriver<uint32_t>(
          [&] {
            return RunDeviceDialog(nullptr, reinterpret_cast<void*>(&DisplayOnKey), display, 204,
                                   FindOwnerWindow());
          },
          [&](DWORD thread) {
            save(WaitForDialog(thread), language,
                 fields == 8 ? L"sign_display_8" : L"sign_display_12");
            g_answer = true;
          });
    }
    LayOutToolKey();
    // The tool starts in the user's language; the installer would have written the version.
    const DWORD langId = language;
    RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Korvanet\\507Q2_KOBA", L"LangId", REG_DWORD,
                    &langId, sizeof langId);
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, L"Software\\Korvanet\\507Q2_KOBA", L"version", REG_SZ,
                    L"1.0.3.7", sizeof L"1.0.3.7");
    RunWithDriver<int>(
        [&] {
          RunManagementTool(FindOwnerWindow());
          return 0;
        },
        [&](DWORD thread) {
          const HWND tool =
              WaitForDialog(thread, [](HWND h) { return GetDlgItem(h, IDC_TOOLS_TAB) != nullptr; });
          if (tool == nullptr) {
            save(nullptr, language, L"tool_key");
            return;
          }
          const HWND tab = GetDlgItem(tool, IDC_TOOLS_TAB);
          const wchar_t* const names[] = {L"tool_key", L"tool_certificates", L"tool_about"};
          for (int page = 0; page < 3; ++page) {
            TabCtrl_SetCurSel(tab, page);
            NMHDR change{tab, static_cast<UINT_PTR>(IDC_TOOLS_TAB),
                         static_cast<UINT>(TCN_SELCHANGE)};
            SendMessageW(tool, WM_NOTIFY, IDC_TOOLS_TAB, reinterpret_cast<LPARAM>(&change));
            save(tool, language, names[page]);
          }
          PostMessageW(tool, WM_COMMAND, IDCANCEL, 0);
        });
    GenKeyWaitHandle wait{};
    if (ToggleWaitWindow(&wait) == 0) {
      const HWND window = WaitForDialog(wait.threadId);
      // Let the strip move on a little first.
      std::this_thread::sleep_for(std::chrono::seconds(2));
      save(window, language, L"waiting");
      ToggleWaitWindow(&wait);
    } else {
      ++failures;
    }
  }
  return failures == 0 ? 0 : 1;
}

}  // namespace
}  // namespace VKey

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fwprintf(stderr, L"usage: dialog_gallery FOLDER LANGUAGE...\n");
    return 2;
  }
  std::vector<uint32_t> languages;
  for (int i = 2; i < argc; ++i) {
    languages.push_back(static_cast<uint32_t>(std::wcstoul(argv[i], nullptr, 10)));
  }
  return VKey::Run(argv[1], languages);
}
