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

#include "dialog_driver.h"
#include "info_dialogs.h"
#include "owner_window.h"
#include "pad_module.h"
#include "pin_dialogs.h"
#include "pinpad_texts.h"
#include "resource.h"
#include "show_dialog.h"

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
