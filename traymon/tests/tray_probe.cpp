// Looks at what the tray monitor did and talks to it from outside, for the tray monitor's
// tests (traymon_test.py). Commands:
//   store                     the user's personal store: provider|container|key spec|subject
//   cas TEXT                  subjects holding TEXT in the user's and machine's ROOT and CA
//                             stores: store|subject
//   uncas TEXT                removes those certificates again
//   listen FILE SECONDS       a window that appends each broadcast as "wparam lparam" to FILE
//                             ("ready" first); ends after SECONDS
//   send MESSAGE WPARAM       sends a message to the monitor's window (numbers)
//   signal                    sets the monitor's rescan event (1 when it was there)
//   handles                   the number of handles the monitor's process holds
//   value NAME                a DWORD under the machine settings key, or "missing"
//   balloon SECONDS           waits for a visible tray balloon (0 when it came)
//   device EVENT NAME         sends the monitor WM_DEVICECHANGE with a device-interface record
//   register CONTAINER SPEC DER  registers a certificate for the key's CSP, as a key would
//                             (1 when the store refused it)
//   refuse DER / allow DER    makes the personal store refuse that certificate / takes the
//                             refusal away (common/tests/store_refusal.h)
//   temp                      the temporary folder (where the diagnostic logs are)
#include <windows.h>
// After windows.h.
#include <wincrypt.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <dbt.h>

#include "cert_store.h"
#include "process_census.h"
#include "settings.h"
#include "store_refusal.h"
#include "win_handle.h"

namespace {

constexpr wchar_t kBroadcast[] = L"{059D1DCF-7032-4eb5-A58B-33E72F639DC2}_KOBA";
constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

std::string Utf8(const wchar_t* w) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
  std::string s(n > 0 ? n - 1 : 0, '\0');
  if (n > 1)
    WideCharToMultiByte(CP_UTF8, 0, w, -1, s.data(), n, nullptr, nullptr);
  return s;
}

std::string Subject(PCCERT_CONTEXT cert) {
  wchar_t name[512] = {};
  CertNameToStrW(kEncoding, &cert->pCertInfo->Subject, CERT_X500_NAME_STR, name, 512);
  return Utf8(name);
}

int Store() {
  HCERTSTORE store =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
  if (store == nullptr)
    return 2;
  PCCERT_CONTEXT cert = nullptr;
  while ((cert = CertEnumCertificatesInStore(store, cert)) != nullptr) {
    DWORD size = 0;
    std::string provider = "-", container = "-";
    DWORD spec = 0;
    if (CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
      std::vector<BYTE> buf(size);
      if (CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, buf.data(), &size)) {
        const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buf.data());
        provider = info->pwszProvName ? Utf8(info->pwszProvName) : "";
        container = info->pwszContainerName ? Utf8(info->pwszContainerName) : "";
        spec = info->dwKeySpec;
      }
    }
    std::printf("%s|%s|%lu|%s\n", provider.c_str(), container.c_str(),
                static_cast<unsigned long>(spec), Subject(cert).c_str());
  }
  CertCloseStore(store, 0);
  return 0;
}

int Cas(const wchar_t* text, bool remove) {
  const std::string wanted = Utf8(text);
  const struct {
    DWORD location;
    const wchar_t* name;
    const char* label;
  } stores[] = {{CERT_SYSTEM_STORE_CURRENT_USER, L"ROOT", "user ROOT"},
                {CERT_SYSTEM_STORE_CURRENT_USER, L"CA", "user CA"},
                {CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT", "machine ROOT"},
                {CERT_SYSTEM_STORE_LOCAL_MACHINE, L"CA", "machine CA"}};
  for (const auto& s : stores) {
    // The user's view of ROOT also shows the machine's: read the registry stores themselves.
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0,
                                     s.location | (remove ? 0 : CERT_STORE_READONLY_FLAG), s.name);
    if (store == nullptr)
      continue;
    std::vector<PCCERT_CONTEXT> doomed;
    PCCERT_CONTEXT cert = nullptr;
    while ((cert = CertEnumCertificatesInStore(store, cert)) != nullptr) {
      const std::string subject = Subject(cert);
      if (subject.find(wanted) == std::string::npos)
        continue;
      if (remove)
        doomed.push_back(CertDuplicateCertificateContext(cert));
      else
        std::printf("%s|%s\n", s.label, subject.c_str());
    }
    for (PCCERT_CONTEXT c : doomed)
      CertDeleteCertificateFromStore(c);
    CertCloseStore(store, 0);
  }
  return 0;
}

UINT g_message = 0;
FILE* g_out = nullptr;

LRESULT CALLBACK ListenProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == g_message && g_message != 0) {
    std::fprintf(g_out, "%llx %llx\n", static_cast<unsigned long long>(wp),
                 static_cast<unsigned long long>(lp));
    std::fflush(g_out);
    return 0;
  }
  if (m == WM_DEVICECHANGE && lp != 0 &&
      (wp == DBT_DEVICEARRIVAL || wp == DBT_DEVICEREMOVECOMPLETE)) {
    const auto* d = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(lp);
    if (d->dbcc_devicetype == DBT_DEVTYP_DEVICEINTERFACE)
      std::fprintf(g_out, "# device %llx %s\n", static_cast<unsigned long long>(wp),
                   Utf8(d->dbcc_name).c_str());
    std::fflush(g_out);
    return TRUE;
  }
  return DefWindowProcW(w, m, wp, lp);
}

int Listen(const wchar_t* file, int seconds) {
  g_out = _wfopen(file, L"a");
  if (g_out == nullptr)
    return 2;
  g_message = RegisterWindowMessageW(kBroadcast);
  WNDCLASSW wc{};
  wc.lpfnWndProc = ListenProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"KobaTrayListener";
  RegisterClassW(&wc);
  // A top-level window (not message-only): broadcasts reach top-level windows.
  HWND w = CreateWindowW(wc.lpszClassName, L"listener", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                         wc.hInstance, nullptr);
  if (w == nullptr)
    return 2;
  DEV_BROADCAST_DEVICEINTERFACE_W filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = {
      0x53F56308, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
  RegisterDeviceNotificationW(w, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
  std::fprintf(g_out, "ready\n");
  std::fflush(g_out);
  SetTimer(w, 1, static_cast<UINT>(seconds) * 1000, nullptr);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_TIMER)
      break;
    DispatchMessageW(&msg);
  }
  std::fclose(g_out);
  return 0;
}

HWND Monitor() {
  return FindWindowW(koba::settings::kTrayWindowClass, koba::settings::kTrayWindowTitle);
}

int Send(UINT message, WPARAM wparam) {
  HWND w = Monitor();
  if (w == nullptr)
    return 2;
  SendMessageW(w, message, wparam, 0);
  return 0;
}

int Handles() {
  DWORD pid = 0;
  HWND w = Monitor();
  if (w == nullptr || GetWindowThreadProcessId(w, &pid) == 0)
    return 2;
  const koba::win::UniqueHandle process(
      OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_DUP_HANDLE, FALSE, pid));
  koba::test::ProcessCensus census;
  if (!process || !koba::test::TakeCensus(process.get(), &census))
    return 2;
  std::printf("%zu\n", census.handles);
  return 0;
}

int Value(const wchar_t* name) {
  DWORD v = 0;
  if (koba::settings::ReadRegDword(HKEY_LOCAL_MACHINE, koba::settings::kSettingsKey, name, &v) !=
      ERROR_SUCCESS) {
    std::printf("missing\n");
  } else {
    std::printf("%lu\n", static_cast<unsigned long>(v));
  }
  return 0;
}

BOOL CALLBACK FindBalloon(HWND w, LPARAM found) {
  wchar_t cls[64] = {};
  GetClassNameW(w, cls, 64);
  if (lstrcmpiW(cls, L"tooltips_class32") == 0 && IsWindowVisible(w)) {
    *reinterpret_cast<bool*>(found) = true;
    return FALSE;
  }
  return TRUE;
}

int Balloon(int seconds) {
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
  while (GetTickCount64() < end) {
    bool found = false;
    EnumWindows(FindBalloon, reinterpret_cast<LPARAM>(&found));
    if (found)
      return 0;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
  }
  return 1;
}

int Device(WPARAM event, const wchar_t* name) {
  HWND w = Monitor();
  if (w == nullptr)
    return 2;
  const size_t chars = wcslen(name) + 1;
  std::vector<BYTE> buf(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) +
                        chars * sizeof(wchar_t));
  auto* record = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(buf.data());
  record->dbcc_size = static_cast<DWORD>(buf.size());
  record->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  std::memcpy(record->dbcc_name, name, chars * sizeof(wchar_t));
  SendMessageW(w, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(record));
  return 0;
}

bool ReadDer(const wchar_t* file, std::vector<BYTE>* der) {
  FILE* f = _wfopen(file, L"rb");
  if (f == nullptr)
    return false;
  der->resize(65536);
  der->resize(std::fread(der->data(), 1, der->size(), f));
  std::fclose(f);
  return true;
}

int Register(const wchar_t* container, DWORD spec, const wchar_t* file) {
  std::vector<BYTE> der;
  if (!ReadDer(file, &der))
    return 2;
  return koba::certstore::RegisterCertificate("Korvanet Vexlo CSP KOBA v1.0",
                                              Utf8(container).c_str(), spec, der.data(),
                                              static_cast<DWORD>(der.size())) == 0
             ? 0
             : 1;
}

int Refuse(const wchar_t* file, bool refuse) {
  std::vector<BYTE> der;
  if (!ReadDer(file, &der))
    return 2;
  const DWORD e =
      refuse ? koba::testing::RefuseStoreEntry(der) : koba::testing::AllowStoreEntry(der);
  if (e != 0)
    std::fprintf(stderr, "error %lu\n", static_cast<unsigned long>(e));
  return e == 0 ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2)
    return 2;
  const std::wstring cmd = argv[1];
  if (cmd == L"store")
    return Store();
  if ((cmd == L"cas" || cmd == L"uncas") && argc == 3)
    return Cas(argv[2], cmd == L"uncas");
  if (cmd == L"listen" && argc == 4)
    return Listen(argv[2], _wtoi(argv[3]));
  if (cmd == L"send" && argc == 4)
    return Send(static_cast<UINT>(wcstoul(argv[2], nullptr, 0)),
                static_cast<WPARAM>(wcstoul(argv[3], nullptr, 0)));
  if (cmd == L"signal")
    return koba::settings::SignalTrayMonitor() == 1 ? 0 : 1;
  if (cmd == L"handles")
    return Handles();
  if (cmd == L"value" && argc == 3)
    return Value(argv[2]);
  if (cmd == L"device" && argc == 4)
    return Device(static_cast<WPARAM>(wcstoul(argv[2], nullptr, 0)), argv[3]);
  if (cmd == L"register" && argc == 5)
    return Register(argv[2], static_cast<DWORD>(_wtoi(argv[3])), argv[4]);
  if ((cmd == L"refuse" || cmd == L"allow") && argc == 3)
    return Refuse(argv[2], cmd == L"refuse");
  if (cmd == L"temp") {
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    std::printf("%s\n", Utf8(temp).c_str());
    return 0;
  }
  if (cmd == L"balloon" && argc == 3)
    return Balloon(_wtoi(argv[2]));
  return 2;
}
