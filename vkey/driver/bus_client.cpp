#include "bus_client.h"

#include <windows.h>

#include <cstring>

#include "common/win_handle.h"

namespace vkey::bus {

namespace {

uint32_t Request(DWORD code, const void* in, DWORD in_size, void* out, DWORD out_size,
                 DWORD* returned) {
  koba::win::UniqueHandle control = koba::win::OwnFile(
      CreateFileA(VKEYBUS_CONTROL_PATH, GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!control)
    return kBusNotInstalled;
  DWORD ignored = 0;
  if (!DeviceIoControl(control.get(), code, const_cast<void*>(in), in_size, out, out_size,
                       returned ? returned : &ignored, nullptr))
    return GetLastError();
  return 0;
}

uint32_t SerialRequest(DWORD code, const std::string& serial) {
  VKEYBUS_SERIAL s{};
  if (serial.empty() || serial.size() >= sizeof s.serial)
    return ERROR_INVALID_PARAMETER;
  std::memcpy(s.serial, serial.data(), serial.size());
  return Request(code, &s, sizeof s, nullptr, 0, nullptr);
}

}  // namespace

bool Installed() {
  std::vector<VKEYBUS_KEY> keys;
  return List(&keys) != kBusNotInstalled;
}

uint32_t Plug(const std::string& serial) {
  return SerialRequest(IOCTL_VKEYBUS_PLUG, serial);
}

uint32_t Unplug(const std::string& serial) {
  return SerialRequest(IOCTL_VKEYBUS_UNPLUG, serial);
}

uint32_t List(std::vector<VKEYBUS_KEY>* keys) {
  keys->assign(VKEYBUS_MAX_KEYS, VKEYBUS_KEY{});
  DWORD returned = 0;
  const uint32_t error = Request(IOCTL_VKEYBUS_LIST, nullptr, 0, keys->data(),
                                 static_cast<DWORD>(keys->size() * sizeof(VKEYBUS_KEY)), &returned);
  keys->resize(error ? 0 : returned / sizeof(VKEYBUS_KEY));
  return error;
}

uint32_t Resync() {
  return Request(IOCTL_VKEYBUS_RESYNC, nullptr, 0, nullptr, 0, nullptr);
}

std::string Explain(uint32_t error) {
  switch (error) {
    case 0:
      return "done";
    case kBusNotInstalled:
      return "the virtual key bus driver is not installed in this prefix "
             "(tools/install-vkey.sh installs it)";
    case ERROR_FILE_NOT_FOUND:
      return "the bus driver's store has no such key (is `vkey use-store` the same store?)";
    case ERROR_DEVICE_NOT_CONNECTED:
      return "the key is pulled out in the bus driver's store";
    case ERROR_NOT_READY:
      return "the bus driver has not started, or cannot read its store";
    default:
      return "the bus driver failed with error " + std::to_string(error);
  }
}

}  // namespace vkey::bus
