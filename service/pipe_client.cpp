#include "pipe_client.h"

#include "pipe_protocol.h"

namespace koba::service {

win::UniqueHandle OpenPipe(const std::wstring& pipe_name, DWORD wait_ms) {
  const ULONGLONG deadline = GetTickCount64() + wait_ms;
  for (;;) {
    const HANDLE h = CreateFileW(pipe_name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      win::UniqueHandle pipe(h);
      DWORD mode = PIPE_READMODE_MESSAGE;
      if (!SetNamedPipeHandleState(h, &mode, nullptr, nullptr))
        return {};
      return pipe;
    }
    const DWORD error = GetLastError();
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline || (error != ERROR_PIPE_BUSY && error != ERROR_FILE_NOT_FOUND))
      return {};
    if (error == ERROR_PIPE_BUSY) {
      WaitNamedPipeW(pipe_name.c_str(), static_cast<DWORD>(deadline - now));
    } else {
      Sleep(10);  // the server is between two instances
    }
    SetLastError(error);
  }
}

bool Exchange(HANDLE pipe, const Bytes& request, Bytes* reply) {
  DWORD written = 0;
  if (!WriteFile(pipe, request.data(), static_cast<DWORD>(request.size()), &written, nullptr) ||
      written != request.size()) {
    return false;
  }
  reply->assign(kMessageCapacity + 1, 0);
  DWORD read = 0;
  if (!ReadFile(pipe, reply->data(), static_cast<DWORD>(reply->size()), &read, nullptr)) {
    reply->clear();
    return false;
  }
  reply->resize(read);
  return true;
}

bool RequestDeviceList(HANDLE list_pipe, std::vector<std::string>* paths, Bytes* raw) {
  const Bytes request(kListRequest, kListRequest + kListRequestSize);
  Bytes reply;
  if (!Exchange(list_pipe, request, &reply))
    return false;
  paths->clear();
  ForEachPath(reinterpret_cast<const char*>(reply.data()), reply.size(),
              [&](std::string_view p) { paths->emplace_back(p); });
  if (raw != nullptr)
    *raw = reply;
  return true;
}

std::wstring KeyPipeNameForPath(const std::string& device_path) {
  return KeyPipeName(std::wstring(device_path.begin(), device_path.end()));
}

}  // namespace koba::service
