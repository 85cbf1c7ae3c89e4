#include "device_list_server.h"

#include <cstring>

#include "key_enumeration.h"
#include "pipe_protocol.h"

namespace koba::service {
namespace {

constexpr DWORD kMutexOpenAccess = MUTEX_MODIFY_STATE | GENERIC_EXECUTE;
// After a key thread starts, before the list server goes on.
constexpr DWORD kKeyThreadStartMs = 20;
// Stopping a key server: first its stop event, then closing its instance.
constexpr DWORD kKeyStopWaitMs = 100;
constexpr DWORD kKeyCloseWaitMs = 60000;

DWORD WINAPI ServerThread(void* server) {
  static_cast<DeviceListServer*>(server)->Run();
  return 0;
}

std::wstring WidePath(std::string_view path) {
  const int n =
      MultiByteToWideChar(CP_THREAD_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
  std::wstring wide(n > 0 ? n : 0, L'\0');
  if (n > 0)
    MultiByteToWideChar(CP_THREAD_ACP, 0, path.data(), static_cast<int>(path.size()), wide.data(),
                        n);
  return wide;
}

}  // namespace

DeviceListServer::DeviceListServer(HANDLE stop_event, HWND window)
    : PipeServer(nullptr, kListPipeName, stop_event), window_(window) {}

DeviceListServer::~DeviceListServer() {
  StopAllKeyServers();
}

bool DeviceListServer::Start() {
  thread_.reset(CreateThread(nullptr, 0, ServerThread, this, 0, nullptr));
  return thread_ != nullptr;
}

void DeviceListServer::Run() {
  security_record_ = std::make_unique<win::SharedObjectSecurity>();
  set_security(security_record_->attributes());

  HANDLE mutex = CreateMutexW(security(), FALSE, kMonitorMutexName);
  if (mutex == nullptr)
    mutex = OpenMutexW(kMutexOpenAccess, FALSE, kMonitorMutexName);
  const win::UniqueHandle owned_mutex(mutex);
  bool acquired = false;
  if (mutex != nullptr) {
    const HANDLE waits[] = {mutex, stop_event()};
    const DWORD wait = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    // A monitor that was killed leaves the mutex abandoned; its successor serves in its place.
    acquired = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED_0;
  }
  if (acquired) {
    while (ServeConnection()) {
    }
    PostMessageW(window_, WM_CLOSE, 0, 0);
  }
  StopAllKeyServers();
  if (acquired)
    ReleaseMutex(mutex);
}

uint32_t DeviceListServer::ProcessRequest(const uint8_t* request, size_t length, uint8_t* reply,
                                          size_t capacity, size_t* reply_length) {
  if (!IsListRequest(request, length)) {
    std::memcpy(reply, kErrorReply, kErrorReplySize);
    *reply_length = kErrorReplySize;
    return 0;
  }
  // A server already marked removed keeps that mark: the arrival of a new key retires the
  // removed servers, and one unconfirmed again at every request would never be retired (its
  // thread, pipe and events would stay for the life of the process, one set per key pulled out).
  for (auto& entry : key_servers_)
    if (entry.second->presence() != Presence::kRemoved)
      entry.second->set_presence(Presence::kUnconfirmed);

  char list[kPathListCapacity];
  const size_t list_size = EnumeratePresentKeys(list, sizeof list);
  PathList answer(reinterpret_cast<char*>(reply), capacity);
  ForEachPath(list, list_size, [&](std::string_view path) {
    DevicePipeServer* server = KeyServerFor(WidePath(path));
    if (server == nullptr)
      return;
    server->set_presence(Presence::kPresent);
    answer.Append(path);
  });
  *reply_length = answer.Finish();

  for (auto& entry : key_servers_)
    if (entry.second->presence() == Presence::kUnconfirmed)
      entry.second->set_presence(Presence::kRemoved);
  return 0;
}

DevicePipeServer* DeviceListServer::KeyServerFor(const std::wstring& path) {
  const auto known = key_servers_.find(path);
  if (known != key_servers_.end())
    return known->second.get();
  StopRemovedKeyServers();
  std::unique_ptr<DevicePipeServer> server = DevicePipeServer::Create(security(), path);
  if (!server || !server->Start())
    return nullptr;
  DevicePipeServer* started = server.get();
  key_servers_.emplace(path, std::move(server));
  Sleep(kKeyThreadStartMs);
  return started;
}

void DeviceListServer::StopKeyServer(KeyServers::iterator it) {
  DevicePipeServer& server = *it->second;
  // The stop event is signalled whatever the instance's state: a server between two instances
  // is still running and must not be destroyed under its thread.
  SetEvent(server.stop_event());
  DWORD wait = WaitForSingleObject(server.thread(), kKeyStopWaitMs);
  if (wait == WAIT_TIMEOUT) {
    server.CloseInstance();
    wait = WaitForSingleObject(server.thread(), kKeyCloseWaitMs);
  }
  // A thread still inside a device step after all that keeps its server: leaked, not freed
  // under it.
  if (wait != WAIT_OBJECT_0)
    it->second.release();
  key_servers_.erase(it);
}

void DeviceListServer::StopRemovedKeyServers() {
  for (auto it = key_servers_.begin(); it != key_servers_.end();) {
    const auto next = std::next(it);
    if (it->second->presence() == Presence::kRemoved)
      StopKeyServer(it);
    it = next;
  }
}

void DeviceListServer::StopAllKeyServers() {
  while (!key_servers_.empty())
    StopKeyServer(key_servers_.begin());
}

}  // namespace koba::service
