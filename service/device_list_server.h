// The server of the list pipe: answers "DeviceListA" with the paths of the present keys, and
// by the same request creates the key servers of new keys and retires those of keys gone. Only
// its thread touches the map of key servers.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "device_pipe_server.h"
#include "object_security.h"
#include "pipe_server.h"
#include "win_handle.h"

namespace koba::service {

inline constexpr wchar_t kMonitorMutexName[] = L"Global\\Vexlo507B_Mut00_VexloMon";

class DeviceListServer : public PipeServer {
 public:
  // `stop_event` is the monitor process's; `window` is closed when the server ends by itself.
  DeviceListServer(HANDLE stop_event, HWND window);
  ~DeviceListServer() override;

  // Takes the machine-wide instance mutex, then serves the list pipe.
  void Run() override;
  uint32_t ProcessRequest(const uint8_t* request, size_t length, uint8_t* reply, size_t capacity,
                          size_t* reply_length) override;

  bool Start();
  HANDLE thread() const { return thread_.get(); }

 private:
  using KeyServers = std::map<std::wstring, std::unique_ptr<DevicePipeServer>>;
  void StopKeyServer(KeyServers::iterator it);
  void StopRemovedKeyServers();
  void StopAllKeyServers();
  // The key server for `path`, created and started when the path is new; null when it cannot
  // be started.
  DevicePipeServer* KeyServerFor(const std::wstring& path);

  std::unique_ptr<win::SharedObjectSecurity> security_record_;
  KeyServers key_servers_;
  HWND window_;
  win::UniqueHandle thread_;
};

}  // namespace koba::service
