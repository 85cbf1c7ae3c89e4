// The server of one key's pipe: holds the key open for the whole of a connection and runs one
// device transaction per message.
#pragma once

#include <string>

#include "pipe_server.h"
#include "win_handle.h"

namespace koba::service {

enum class Presence { kPresent, kUnconfirmed, kRemoved };

class DevicePipeServer : public PipeServer {
 public:
  // A server for the key at `device_path`, with a stop event of its own; null when the events
  // cannot be created.
  static std::unique_ptr<DevicePipeServer> Create(SECURITY_ATTRIBUTES* security,
                                                  std::wstring device_path);
  ~DevicePipeServer() override;

  uint32_t HandleConnection(HANDLE instance) override;
  uint32_t ProcessRequest(const uint8_t* request, size_t length, uint8_t* reply, size_t capacity,
                          size_t* reply_length) override;

  // Runs `Run` on a thread of its own.
  bool Start();
  HANDLE thread() const { return thread_.get(); }
  Presence presence() const { return presence_; }
  void set_presence(Presence presence) { presence_ = presence; }

 private:
  DevicePipeServer(SECURITY_ATTRIBUTES* security, std::wstring device_path,
                   win::UniqueHandle stop_event);

  std::wstring device_path_;
  HANDLE key_ = INVALID_HANDLE_VALUE;
  Presence presence_ = Presence::kPresent;
  win::UniqueHandle thread_;
  win::UniqueHandle own_stop_event_;
};

}  // namespace koba::service
