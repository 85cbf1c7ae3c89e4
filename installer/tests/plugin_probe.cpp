// Test-only helper of the plug-in's tests, never installed:
//   plugin_probe hold DLL READY       loads DLL, writes READY, then idles until it is ended
//   plugin_probe answer TITLE ok|cancel OUT [GO]
//                                     waits for the dialog titled TITLE, writes its message and
//                                     list row count to OUT, then (once the file GO exists, when
//                                     given) accepts or refuses it
//   plugin_probe reader add|remove    adds or removes a root smart-card reader device
#include <windows.h>

#include <commctrl.h>
#include <setupapi.h>

#include <cstdio>
#include <string>

namespace {

constexpr GUID kReaderGuid = {
    0x50DD5230, 0xBA8A, 0x11D1, {0xBF, 0x5D, 0x00, 0x00, 0xF8, 0x05, 0xF5, 0x30}};
constexpr wchar_t kReaderInstance[] = L"ROOT\\KVNREADER\\0000";

bool WriteText(const wchar_t* path, const std::wstring& text) {
  FILE* f = _wfopen(path, L"wb");
  if (f == nullptr)
    return false;
  fwrite(text.data(), sizeof(wchar_t), text.size(), f);
  fclose(f);
  return true;
}

int Hold(const wchar_t* dll, const wchar_t* ready) {
  if (LoadLibraryW(dll) == nullptr || !WriteText(ready, L"ready"))
    return 1;
  for (;;)
    Sleep(INFINITE);
}

int Answer(const wchar_t* title, const wchar_t* choice, const wchar_t* out, const wchar_t* go) {
  HWND dialog = nullptr;
  for (const ULONGLONG deadline = GetTickCount64() + 60000;
       dialog == nullptr && GetTickCount64() < deadline; Sleep(50))
    dialog = FindWindowW(L"#32770", title);
  if (dialog == nullptr)
    return 1;
  wchar_t message[512] = {};
  GetDlgItemTextW(dialog, 1002, message, 512);
  const LRESULT rows = SendMessageW(GetDlgItem(dialog, 1003), LVM_GETITEMCOUNT, 0, 0);
  if (!WriteText(out, std::wstring(message) + L"|" + std::to_wstring(rows)))
    return 1;
  for (const ULONGLONG deadline = GetTickCount64() + 60000;
       go != nullptr && GetFileAttributesW(go) == INVALID_FILE_ATTRIBUTES &&
       GetTickCount64() < deadline;
       Sleep(50)) {
  }
  PostMessageW(dialog, WM_COMMAND, wcscmp(choice, L"ok") == 0 ? IDOK : IDCANCEL, 0);
  return 0;
}

int Reader(bool add) {
  const HDEVINFO set = SetupDiCreateDeviceInfoList(&kReaderGuid, nullptr);
  if (set == INVALID_HANDLE_VALUE)
    return 1;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  bool ok = false;
  if (add) {
    static const wchar_t kHardwareId[] = L"root\\KvnVirtualReader\0";
    ok = SetupDiCreateDeviceInfoW(set, kReaderInstance, &kReaderGuid, nullptr, nullptr, 0,
                                  &device) &&
         SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID,
                                           reinterpret_cast<const BYTE*>(kHardwareId),
                                           sizeof kHardwareId) &&
         SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device) &&
         SetupDiCreateDeviceInterfaceW(set, &device, &kReaderGuid, nullptr, 0, nullptr);
  } else {
    ok = SetupDiOpenDeviceInfoW(set, kReaderInstance, nullptr, 0, &device) &&
         SetupDiCallClassInstaller(DIF_REMOVE, set, &device);
  }
  SetupDiDestroyDeviceInfoList(set);
  return ok ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 4 && wcscmp(argv[1], L"hold") == 0)
    return Hold(argv[2], argv[3]);
  if ((argc == 5 || argc == 6) && wcscmp(argv[1], L"answer") == 0)
    return Answer(argv[2], argv[3], argv[4], argc == 6 ? argv[5] : nullptr);
  if (argc == 3 && wcscmp(argv[1], L"reader") == 0)
    return Reader(wcscmp(argv[2], L"add") == 0);
  fputs(
      "usage: plugin_probe hold DLL READY | answer TITLE ok|cancel OUT [GO] | reader add|remove\n",
      stderr);
  return 2;
}
