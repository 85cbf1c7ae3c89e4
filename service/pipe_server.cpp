#include "pipe_server.h"

#include "pipe_protocol.h"

namespace koba::service {

PipeServer::PipeServer(SECURITY_ATTRIBUTES* security, std::wstring pipe_name, HANDLE stop_event)
    : security_(security), pipe_name_(std::move(pipe_name)), stop_event_(stop_event) {
  if (stop_event_ != nullptr) {
    connect_.hEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  }
}

PipeServer::~PipeServer() {
  CloseInstance();
  if (connect_.hEvent != nullptr)
    CloseHandle(connect_.hEvent);
}

void PipeServer::Run() {
  while (ServeConnection()) {
  }
}

bool PipeServer::ServeConnection() {
  const bool overlapped = connect_.hEvent != nullptr;
  const HANDLE created = CreateNamedPipeW(
      pipe_name_.c_str(), PIPE_ACCESS_DUPLEX | (overlapped ? FILE_FLAG_OVERLAPPED : 0),
      PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, kMaxPipeInstances, kPipeBufferBytes,
      kPipeBufferBytes, kPipeDefaultTimeoutMs, security_);
  const DWORD create_error = GetLastError();
  const HANDLE previous = instance_.exchange(created);
  if (previous != INVALID_HANDLE_VALUE)
    CloseHandle(previous);
  if (created == INVALID_HANDLE_VALUE) {
    // Every instance of the name is taken: try again at once, unless a stop was asked for.
    return create_error == ERROR_PIPE_BUSY && !StopRequested();
  }

  BOOL connected = FALSE;
  if (overlapped) {
    connected = ConnectNamedPipe(created, &connect_);
  } else {
    connected = ConnectNamedPipe(created, nullptr);
  }
  if (!connected) {
    const DWORD error = GetLastError();
    if (instance_.load() != created)
      return false;
    switch (error) {
      case ERROR_IO_PENDING: {
        const HANDLE events[] = {connect_.hEvent, stop_event_};
        const DWORD wait = WaitForMultipleObjects(2, events, FALSE, INFINITE);
        if (wait == WAIT_OBJECT_0 + 1) {
          CloseInstance();
          return false;
        }
        if (wait != WAIT_OBJECT_0) {
          CloseInstance();
          return true;
        }
        break;
      }
      case ERROR_PIPE_CONNECTED:
        break;
      case ERROR_NO_DATA:
      case ERROR_PIPE_LISTENING:
        return true;
      default:
        CloseInstance();
        return true;
    }
  }
  HandleConnection(created);
  // A client that connects again at once would otherwise keep a stopping server from ever
  // reaching its connect wait, where the stop event is seen.
  return !StopRequested();
}

uint32_t PipeServer::HandleConnection(HANDLE instance) {
  return ServeMessages(instance);
}

uint32_t PipeServer::ServeMessages(HANDLE instance) {
  uint8_t request[kMessageCapacity];
  uint8_t reply[kMessageCapacity];
  for (;;) {
    DWORD read = 0;
    const BOOL read_started = ReadFile(instance, request, sizeof request, &read,
                                       connect_.hEvent != nullptr ? &connect_ : nullptr);
    if (!Complete(instance, read_started, &read) || read == 0)
      break;
    size_t reply_length = 0;
    const uint32_t result = ProcessRequest(request, read, reply, sizeof reply, &reply_length);
    if (result != 0) {
      FlushFileBuffers(instance);
      DisconnectNamedPipe(instance);
      return result;
    }
    DWORD written = 0;
    const BOOL write_started =
        WriteFile(instance, reply, static_cast<DWORD>(reply_length), &written,
                  connect_.hEvent != nullptr ? &connect_ : nullptr);
    if (!Complete(instance, write_started, &written) || written != reply_length)
      break;
  }
  const DWORD error = GetLastError();
  FlushFileBuffers(instance);
  DisconnectNamedPipe(instance);
  return error;
}

bool PipeServer::Complete(HANDLE instance, BOOL started, DWORD* transferred) {
  if (connect_.hEvent == nullptr)
    return started != FALSE;
  if (!started && GetLastError() != ERROR_IO_PENDING)
    return false;
  if (!started) {
    const HANDLE events[] = {connect_.hEvent, stop_event_};
    if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
      CancelIo(instance);
      GetOverlappedResult(instance, &connect_, transferred, TRUE);
      SetLastError(ERROR_OPERATION_ABORTED);
      return false;
    }
  }
  return GetOverlappedResult(instance, &connect_, transferred, FALSE) != FALSE;
}

void PipeServer::CloseInstance() {
  const HANDLE h = instance_.exchange(INVALID_HANDLE_VALUE);
  if (h != INVALID_HANDLE_VALUE)
    CloseHandle(h);
}

bool PipeServer::StopRequested() const {
  return stop_event_ != nullptr && WaitForSingleObject(stop_event_, 0) == WAIT_OBJECT_0;
}

}  // namespace koba::service
