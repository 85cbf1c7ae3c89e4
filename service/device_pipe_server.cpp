#include "device_pipe_server.h"

#include "device_transaction.h"
#include "pipe_protocol.h"
#include "scsi_channel.h"

namespace koba::service {
namespace {

// The ANSI form of a device path that CreateFileA takes.
constexpr int kAnsiPathBytes = 256;

DWORD WINAPI ServerThread(void* server) {
  static_cast<DevicePipeServer*>(server)->Run();
  return 0;
}

}  // namespace

std::unique_ptr<DevicePipeServer> DevicePipeServer::Create(SECURITY_ATTRIBUTES* security,
                                                           std::wstring device_path) {
  win::UniqueHandle stop_event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!stop_event)
    return nullptr;
  std::unique_ptr<DevicePipeServer> server(
      new DevicePipeServer(security, std::move(device_path), std::move(stop_event)));
  return server;
}

DevicePipeServer::DevicePipeServer(SECURITY_ATTRIBUTES* security, std::wstring device_path,
                                   win::UniqueHandle stop_event)
    : PipeServer(security, KeyPipeName(device_path), stop_event.get()),
      device_path_(std::move(device_path)),
      own_stop_event_(std::move(stop_event)) {}

DevicePipeServer::~DevicePipeServer() = default;

bool DevicePipeServer::Start() {
  thread_.reset(CreateThread(nullptr, 0, ServerThread, this, 0, nullptr));
  return thread_ != nullptr;
}

uint32_t DevicePipeServer::HandleConnection(HANDLE instance) {
  char path[kAnsiPathBytes];
  const int n =
      WideCharToMultiByte(CP_ACP, 0, device_path_.c_str(), -1, path, sizeof path, nullptr, nullptr);
  const HANDLE key =
      n > 0 ? CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, OPEN_EXISTING, 0, nullptr)
            : INVALID_HANDLE_VALUE;
  if (key == INVALID_HANDLE_VALUE)
    return kErrUnknownReader;
  key_ = key;
  const uint32_t result = ServeMessages(instance);
  CloseHandle(key_);
  key_ = INVALID_HANDLE_VALUE;
  return result;
}

uint32_t DevicePipeServer::ProcessRequest(const uint8_t* request, size_t length, uint8_t* reply,
                                          size_t capacity, size_t* reply_length) {
  DeviceIoChannel channel(key_);
  return RunDeviceTransaction(channel, request, length, reply, capacity, reply_length);
}

}  // namespace koba::service
