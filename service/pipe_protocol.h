// What the monitor's pipes carry: the device-list request and its reply, the key filter on
// device paths, the pipe names, and the expected-length rules of the device transaction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace koba::service {

// Request and reply buffers on every pipe.
inline constexpr size_t kMessageCapacity = 4096;
// The device path list an enumeration fills.
inline constexpr size_t kPathListCapacity = 1024;

// "DeviceListA" with its NUL: the only request the list pipe answers with the list.
inline constexpr char kListRequest[] = "DeviceListA";
inline constexpr size_t kListRequestSize = sizeof(kListRequest);
// The answer to anything else on the list pipe, NUL included.
inline constexpr char kErrorReply[] = "Error";
inline constexpr size_t kErrorReplySize = sizeof(kErrorReply);

inline constexpr wchar_t kPipeNamePrefix[] = L"\\\\.\\pipe\\Vexlo507B_Pipe00_Device_";
inline constexpr wchar_t kListPipeName[] = L"\\\\.\\pipe\\Vexlo507B_Pipe00_Device_List";

bool IsListRequest(const uint8_t* request, size_t length);

// A key's pipe name: the prefix and the device path from its fifth character on (the "\\?\"
// of the Win32 device namespace left out). A path of four characters or fewer gives an empty
// tail.
std::wstring KeyPipeName(std::wstring_view device_path);

// A maker's key: the path contains "&ven_korvanet" and "&rev_1." in any case.
bool IsKeyDevicePath(std::string_view path);

// The NUL-separated path list with its final NUL, in a buffer of fixed capacity. A path that
// does not fit (with room left for the final NUL) is left out, so the list stays well formed.
class PathList {
 public:
  PathList(char* buffer, size_t capacity);
  bool Append(std::string_view path);
  // Writes the final NUL; returns the list's size, terminators included.
  size_t Finish();

 private:
  char* buffer_;
  size_t capacity_;
  size_t used_ = 0;
};

// Calls `visit(path)` for every path of a finished list, in order. A list without its final
// NUL is read only up to its last complete path.
template <typename Visit>
void ForEachPath(const char* list, size_t size, Visit&& visit) {
  size_t i = 0;
  while (i < size && list[i] != '\0') {
    size_t end = i;
    while (end < size && list[end] != '\0')
      ++end;
    if (end == size)
      return;
    visit(std::string_view(list + i, end - i));
    i = end + 1;
  }
}

// The data length E the key's answer is expected to have for a command APDU of `length` bytes:
// an extended-length command (7 bytes or more, byte 4 zero) expects bytes 5-6 plus 16; a short
// command of exactly 5 bytes with a non-zero byte 4 expects byte 4; anything else 0.
size_t ExpectedLength(const uint8_t* apdu, size_t length);

}  // namespace koba::service
