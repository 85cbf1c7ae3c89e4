#include "key_enumeration.h"

#include <windows.h>

#include <initguid.h>
#include <setupapi.h>

#include <memory>
#include <vector>

#include "pipe_protocol.h"

namespace koba::service {
namespace {

// GUID_DEVINTERFACE_CDROM.
DEFINE_GUID(kCdromInterface, 0x53F56308, 0xB6BF, 0x11D0, 0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB,
            0x8B);

struct DeviceInfoSetCloser {
  void operator()(HDEVINFO set) const { SetupDiDestroyDeviceInfoList(set); }
};
using UniqueDeviceInfoSet = std::unique_ptr<void, DeviceInfoSetCloser>;

// The systems on which a key's device class is read before the key is taken.
bool ReadsDeviceClass() {
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  return GetVersionExW(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT &&
         version.dwMajorVersion >= 5 && version.dwMinorVersion >= 1;
}

}  // namespace

size_t EnumeratePresentKeys(char* list, size_t capacity) {
  PathList paths(list, capacity);
  const HDEVINFO raw = SetupDiGetClassDevsA(&kCdromInterface, nullptr, nullptr,
                                            DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (raw == INVALID_HANDLE_VALUE)
    return paths.Finish();
  const UniqueDeviceInfoSet set(raw);
  const bool read_class = ReadsDeviceClass();

  SP_DEVICE_INTERFACE_DATA interface_data{};
  interface_data.cbSize = sizeof interface_data;
  for (DWORD index = 0;
       SetupDiEnumDeviceInterfaces(raw, nullptr, &kCdromInterface, index, &interface_data);
       ++index) {
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailA(raw, &interface_data, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
      continue;
    std::vector<unsigned char> storage(size);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (!SetupDiGetDeviceInterfaceDetailA(raw, &interface_data, detail, size, nullptr, &device))
      continue;
    if (read_class) {
      BYTE device_class[1024];
      if (!SetupDiGetDeviceRegistryPropertyA(raw, &device, SPDRP_CLASS, nullptr, device_class,
                                             sizeof device_class, nullptr)) {
        continue;
      }
    }
    // The path ends inside the detail record even if the platform wrote no NUL.
    const size_t limit = size - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    const std::string_view path(detail->DevicePath, strnlen(detail->DevicePath, limit));
    if (IsKeyDevicePath(path))
      paths.Append(path);
  }
  return paths.Finish();
}

}  // namespace koba::service
