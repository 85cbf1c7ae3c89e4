#include "service_control.h"

#include "win_handle.h"

namespace koba::service {
namespace {

using win::UniqueServiceHandle;

// Opens the service with full access and runs `operation` on it.
template <typename Operation>
DWORD OnService(Operation operation) {
  const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager)
    return GetLastError();
  const UniqueServiceHandle service(OpenServiceW(manager.get(), kServiceName, SERVICE_ALL_ACCESS));
  if (!service)
    return GetLastError();
  return operation(service.get()) ? 0 : GetLastError();
}

}  // namespace

std::wstring QuotedProgramPath() {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH)
    return {};
  return L"\"" + std::wstring(path, n) + L"\"";
}

DWORD InstallService() {
  const std::wstring binary = QuotedProgramPath();
  if (binary.empty())
    return ERROR_BAD_PATHNAME;
  const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
  if (!manager)
    return GetLastError();
  const UniqueServiceHandle service(CreateServiceW(
      manager.get(), kServiceName, kServiceName, SERVICE_ALL_ACCESS,
      SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS, SERVICE_AUTO_START,
      SERVICE_ERROR_NORMAL, binary.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
  return service ? 0 : GetLastError();
}

DWORD StartTheService() {
  return OnService([](SC_HANDLE service) { return StartServiceW(service, 0, nullptr); });
}

DWORD StopService() {
  return OnService([](SC_HANDLE service) {
    SERVICE_STATUS status{};
    return ControlService(service, SERVICE_CONTROL_STOP, &status);
  });
}

DWORD UninstallService() {
  return OnService([](SC_HANDLE service) { return DeleteService(service); });
}

}  // namespace koba::service
