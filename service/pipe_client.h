// The client side of the monitor's pipes, for the pipe client tool, the tests and the
// benchmark: open a pipe in message mode, send one message, read one back.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "win_handle.h"

namespace koba::service {

using Bytes = std::vector<uint8_t>;

// Opens `pipe_name` for reading and writing in message read mode, waiting up to `wait_ms` for
// a busy pipe. Empty (with the last error set) when it cannot.
win::UniqueHandle OpenPipe(const std::wstring& pipe_name, DWORD wait_ms);

// One request and its answer. Returns false when the write or the read fails (the server ended
// the connection: ERROR_BROKEN_PIPE, ERROR_PIPE_NOT_CONNECTED, ...), with the last error set.
bool Exchange(HANDLE pipe, const Bytes& request, Bytes* reply);

// The device-list request on an open list pipe; the paths of the answer in order.
bool RequestDeviceList(HANDLE list_pipe, std::vector<std::string>* paths, Bytes* raw = nullptr);

std::wstring KeyPipeNameForPath(const std::string& device_path);

}  // namespace koba::service
