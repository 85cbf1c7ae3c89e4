// vexlo_pipe_client: checks a machine's device service from the outside, as any client of its
// pipes would.
//   vexlo_pipe_client list                  the device-list request; one path a line
//   vexlo_pipe_client send PATH APDU...     list request, then each APDU (hex) through the key
//                                           pipe of PATH; one answer (hex) a line
//   vexlo_pipe_client raw HEX               any message on the list pipe; the answer in hex
// Exit codes: 0 done, 1 usage, 2 a pipe cannot be opened, 3 the server ended the connection.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "pipe_client.h"
#include "pipe_protocol.h"

using namespace koba::service;

namespace {

constexpr DWORD kOpenWaitMs = 10000;

bool ParseHex(const char* text, Bytes* out) {
  out->clear();
  const size_t n = std::strlen(text);
  if (n % 2 != 0)
    return false;
  for (size_t i = 0; i < n; i += 2) {
    unsigned value = 0;
    if (std::sscanf(text + i, "%2x", &value) != 1)
      return false;
    out->push_back(static_cast<uint8_t>(value));
  }
  return true;
}

void PrintHex(const Bytes& bytes) {
  for (uint8_t b : bytes)
    std::printf("%02X", b);
  std::printf("\n");
}

int Fail(int code, const char* what) {
  std::fprintf(stderr, "vexlo_pipe_client: %s (error %lu)\n", what, GetLastError());
  return code;
}

int Usage() {
  std::fprintf(stderr,
               "usage: vexlo_pipe_client list | send PATH APDU... | raw HEX\n"
               "  APDU and HEX are hexadecimal bytes, for example 0084000008\n");
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2)
    return Usage();
  const std::string command = argv[1];
  if (command == "raw") {
    Bytes request;
    if (argc != 3 || !ParseHex(argv[2], &request) || request.empty())
      return Usage();
    const auto pipe = OpenPipe(kListPipeName, kOpenWaitMs);
    if (!pipe)
      return Fail(2, "the list pipe cannot be opened");
    Bytes reply;
    if (!Exchange(pipe.get(), request, &reply))
      return Fail(3, "the connection ended without a reply");
    PrintHex(reply);
    return 0;
  }
  if (command != "list" && command != "send")
    return Usage();
  if (command == "send" && argc < 4)
    return Usage();

  const auto list_pipe = OpenPipe(kListPipeName, kOpenWaitMs);
  if (!list_pipe)
    return Fail(2, "the list pipe cannot be opened");
  std::vector<std::string> paths;
  if (!RequestDeviceList(list_pipe.get(), &paths))
    return Fail(3, "the list request got no answer");
  if (command == "list") {
    for (const std::string& p : paths)
      std::printf("%s\n", p.c_str());
    std::fprintf(stderr, "%zu key(s)\n", paths.size());
    return 0;
  }

  const auto key_pipe = OpenPipe(KeyPipeNameForPath(argv[2]), kOpenWaitMs);
  if (!key_pipe)
    return Fail(2, "the key pipe cannot be opened");
  for (int i = 3; i < argc; ++i) {
    Bytes apdu;
    if (!ParseHex(argv[i], &apdu) || apdu.empty())
      return Usage();
    Bytes reply;
    if (!Exchange(key_pipe.get(), apdu, &reply))
      return Fail(3, "the connection ended without a reply");
    PrintHex(reply);
  }
  return 0;
}
