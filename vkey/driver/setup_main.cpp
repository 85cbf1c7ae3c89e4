// vkeybus_setup: installs the virtual key bus driver (TEST DOUBLE, Wine only) into the prefix it
// runs in, as tools/install-vkey.sh asks: the kernel driver service, the root device the driver
// drives, and the start. The driver file (system32\drivers\vkeybus.sys), its store half and the
// INF that gives the keys the CD-ROM class are copied in by the script first. Idempotent.
//   vkeybus_setup install   returns once the control device answers (silent on success)
#include <windows.h>

#include <devguid.h>
#include <setupapi.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bus_client.h"
#include "vkeybus_protocol.h"

namespace {

struct ScHandleCloser {
  void operator()(SC_HANDLE h) const { CloseServiceHandle(h); }
};
using ScHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ScHandleCloser>;

struct DevInfoCloser {
  void operator()(HDEVINFO set) const { SetupDiDestroyDeviceInfoList(set); }
};
using DevInfo = std::unique_ptr<void, DevInfoCloser>;

constexpr wchar_t kImagePath[] = L"C:\\windows\\system32\\drivers\\vkeybus.sys";

int Fail(const char* what, DWORD error) {
  std::fprintf(stderr, "vkeybus_setup: %s failed: error %lu\n", what, error);
  return 1;
}

// The kernel driver service; started automatically with each Wine server of the prefix.
DWORD EnsureService() {
  ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager)
    return GetLastError();
  ScHandle service(CreateServiceW(manager.get(), VKEYBUS_SERVICE,
                                  L"Koba virtual key bus (test double)", SERVICE_ALL_ACCESS,
                                  SERVICE_KERNEL_DRIVER, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                  kImagePath, nullptr, nullptr, nullptr, nullptr, nullptr));
  if (!service && GetLastError() == ERROR_SERVICE_EXISTS)
    service.reset(OpenServiceW(manager.get(), VKEYBUS_SERVICE, SERVICE_ALL_ACCESS));
  if (!service)
    return GetLastError();
  return 0;
}

// The root device "ROOT\KOBAVKEYBUS\0000" in the System class, driven by the service.
DWORD EnsureRootDevice() {
  DevInfo set(SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_SYSTEM, nullptr));
  if (set.get() == INVALID_HANDLE_VALUE) {
    set.release();
    return GetLastError();
  }
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  if (!SetupDiCreateDeviceInfoW(set.get(), VKEYBUS_ROOT_DEVICE, &GUID_DEVCLASS_SYSTEM, nullptr,
                                nullptr, 0, &device))
    return GetLastError() == ERROR_DEVINST_ALREADY_EXISTS ? 0 : GetLastError();
  std::wstring hardware_id = VKEYBUS_HARDWARE_ID;
  hardware_id.push_back(L'\0');
  hardware_id.push_back(L'\0');
  const std::wstring service = VKEYBUS_SERVICE;
  if (!SetupDiSetDeviceRegistryPropertyW(
          set.get(), &device, SPDRP_HARDWAREID, reinterpret_cast<const BYTE*>(hardware_id.data()),
          static_cast<DWORD>(hardware_id.size() * sizeof(wchar_t))) ||
      !SetupDiSetDeviceRegistryPropertyW(
          set.get(), &device, SPDRP_SERVICE, reinterpret_cast<const BYTE*>(service.c_str()),
          static_cast<DWORD>((service.size() + 1) * sizeof(wchar_t))) ||
      !SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set.get(), &device))
    return GetLastError();
  return 0;
}

DWORD StartBus() {
  ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  ScHandle service(manager ? OpenServiceW(manager.get(), VKEYBUS_SERVICE, SERVICE_START) : nullptr);
  if (!service)
    return GetLastError();
  if (!StartServiceW(service.get(), 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING)
    return GetLastError();
  return 0;
}

// Waits until the driver's control device answers (its start is asynchronous).
bool AwaitControl(DWORD timeout_ms) {
  const ULONGLONG deadline = GetTickCount64() + timeout_ms;
  for (;;) {
    std::vector<VKEYBUS_KEY> keys;
    const uint32_t error = vkey::bus::List(&keys);
    if (error != vkey::bus::kBusNotInstalled && error != ERROR_NOT_READY)
      return true;
    if (GetTickCount64() >= deadline)
      return false;
    Sleep(20);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || std::strcmp(argv[1], "install") != 0) {
    std::fputs("usage: vkeybus_setup install\n", stderr);
    return 2;
  }
  if (DWORD e = EnsureService())
    return Fail("creating the driver service", e);
  if (DWORD e = EnsureRootDevice())
    return Fail("creating the root device", e);
  if (DWORD e = StartBus())
    return Fail("starting the driver", e);
  if (!AwaitControl(20000)) {
    std::fputs("vkeybus_setup: the driver started but its control device never answered\n", stderr);
    return 1;
  }
  return 0;
}
