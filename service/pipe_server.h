// The monitor's pipe servers. `PipeServer` owns one pipe name and serves one connection at a
// time: create an instance, wait for a client (or the stop event), then read one message,
// let `ProcessRequest` answer it and write the answer, until the client goes away.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace koba::service {

// Parameters shared by every pipe instance of the monitor.
inline constexpr DWORD kMaxPipeInstances = 5;
inline constexpr DWORD kPipeBufferBytes = 4096;
inline constexpr DWORD kPipeDefaultTimeoutMs = 10000;

class PipeServer {
 public:
  // `stop_event` (manual reset) may be null; the connect event is created only with it.
  PipeServer(SECURITY_ATTRIBUTES* security, std::wstring pipe_name, HANDLE stop_event);
  PipeServer(const PipeServer&) = delete;
  PipeServer& operator=(const PipeServer&) = delete;
  virtual ~PipeServer();

  virtual void Run();
  // One connection; returns true to go on serving, false to stop.
  virtual bool ServeConnection();
  virtual uint32_t HandleConnection(HANDLE instance);
  // Answers one request: fills `reply` (`capacity` bytes) and `*reply_length`. A non-zero
  // result ends the connection without a reply.
  virtual uint32_t ProcessRequest(const uint8_t* request, size_t length, uint8_t* reply,
                                  size_t capacity, size_t* reply_length) = 0;

  // Ends a connection in progress from another thread: the instance is marked invalid first,
  // then closed, so the serving thread's test in ServeConnection notices.
  void CloseInstance();
  bool HasInstance() const { return instance_.load() != INVALID_HANDLE_VALUE; }
  HANDLE stop_event() const { return stop_event_; }

 protected:
  // The common read-process-write loop on a connected instance.
  uint32_t ServeMessages(HANDLE instance);
  SECURITY_ATTRIBUTES* security() const { return security_; }
  void set_security(SECURITY_ATTRIBUTES* security) { security_ = security; }

 private:
  bool StopRequested() const;
  // Waits for an overlapped read or write on `instance`, or for the stop event; a stop cancels
  // the operation. Returns false (with the last error set) when it did not complete.
  bool Complete(HANDLE instance, BOOL started, DWORD* transferred);

  SECURITY_ATTRIBUTES* security_;
  std::wstring pipe_name_;
  std::atomic<HANDLE> instance_{INVALID_HANDLE_VALUE};
  HANDLE stop_event_;
  // Used for connecting, and for the reads and writes of the connection it made.
  OVERLAPPED connect_{};
};

}  // namespace koba::service
