// APDU round trips through a key pipe of the device monitor against the same device
// transaction over DeviceIoControl directly, in one run, on a virtual key shown by the
// test-only bus driver (tools/install-vkey.sh installs it). Prints both rates and their ratio.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "device_transaction.h"
#include "pipe_client.h"
#include "pipe_protocol.h"
#include "scsi_channel.h"

using namespace koba::service;

namespace {

constexpr int kBlocks = 5;
constexpr int kPerBlock = 200;
const Bytes kApdu = {0x80, 0xCA, 0x00, 0x01, 0x10};

std::wstring Beside(const wchar_t* relative) {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path, n);
  dir.resize(dir.find_last_of(L'\\') + 1);
  return dir + relative;
}

DWORD Run(const std::wstring& command_line, PROCESS_INFORMATION* keep = nullptr) {
  std::wstring line = command_line;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info)) {
    return GetLastError();
  }
  if (keep != nullptr) {
    *keep = info;
    return 0;
  }
  WaitForSingleObject(info.hProcess, 30000);
  DWORD code = 1;
  GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hProcess);
  CloseHandle(info.hThread);
  return code;
}

DWORD Vkey(const std::string& args) {
  return Run(L"\"" + Beside(L"..\\vkey\\vkey.exe") + L"\" " +
             std::wstring(args.begin(), args.end()));
}

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(f.QuadPart);
}

int Fail(const char* what) {
  std::fprintf(stderr, "service_pipe_bench: %s (error %lu)\n", what, GetLastError());
  return 1;
}

}  // namespace

int main() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = std::wstring(temp) + L"koba-vexlo-bench";
  CreateDirectoryW(folder.c_str(), nullptr);
  SetEnvironmentVariableW(L"KOBA_VKEY_STORE", folder.c_str());
  if (Vkey("use-store \"" + std::string(folder.begin(), folder.end()) + "\"") != 0)
    return Fail("the virtual key bus is not installed (tools/install-vkey.sh)");
  Vkey("create BENCH001");
  Vkey("insert BENCH001");

  PROCESS_INFORMATION monitor{};
  if (Run(L"\"" + Beside(L"..\\service\\VexloSerB.exe") + L"\" -m", &monitor) != 0)
    return Fail("the monitor cannot be started");

  std::vector<std::string> paths;
  const ULONGLONG deadline = GetTickCount64() + 30000;
  while (paths.empty() && GetTickCount64() < deadline) {
    const auto list = OpenPipe(kListPipeName, 1000);
    if (!list || !RequestDeviceList(list.get(), &paths))
      Sleep(20);
  }
  if (paths.empty())
    return Fail("the key does not show");

  const auto pipe = OpenPipe(KeyPipeNameForPath(paths[0]), 10000);
  const koba::win::UniqueHandle device = koba::win::OwnFile(
      CreateFileA(paths[0].c_str(), GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!pipe || !device)
    return Fail("the key pipe or the device cannot be opened");
  DeviceIoChannel channel(device.get());

  double pipe_seconds = 0;
  double direct_seconds = 0;
  Bytes reply;
  uint8_t direct_reply[kMessageCapacity];
  // Blocks alternate between the two paths so that drift of the machine hits both alike.
  for (int block = 0; block < kBlocks; ++block) {
    LARGE_INTEGER a, b, c;
    QueryPerformanceCounter(&a);
    for (int i = 0; i < kPerBlock; ++i)
      if (!Exchange(pipe.get(), kApdu, &reply) || reply.size() != 18)
        return Fail("a round trip through the pipe failed");
    QueryPerformanceCounter(&b);
    for (int i = 0; i < kPerBlock; ++i) {
      size_t n = 0;
      if (RunDeviceTransaction(channel, kApdu.data(), kApdu.size(), direct_reply,
                               sizeof direct_reply, &n) != 0 ||
          n != 18) {
        return Fail("a direct transaction failed");
      }
    }
    QueryPerformanceCounter(&c);
    pipe_seconds += Seconds(a, b);
    direct_seconds += Seconds(b, c);
  }

  const double count = kBlocks * kPerBlock;
  std::printf("APDU round trips (GET DATA, 18-byte answer), %d each, virtual key bus under Wine\n",
              kBlocks * kPerBlock);
  std::printf("  key pipe:              %8.0f /s  (%.3f ms each)\n", count / pipe_seconds,
              1000 * pipe_seconds / count);
  std::printf("  DeviceIoControl direct: %8.0f /s  (%.3f ms each)\n", count / direct_seconds,
              1000 * direct_seconds / count);
  std::printf("  pipe / direct time:    %8.2f x  (goal <= 1.5)\n", pipe_seconds / direct_seconds);

  PostThreadMessageW(monitor.dwThreadId, WM_QUIT, 0, 0);
  WaitForSingleObject(monitor.hProcess, 10000);
  CloseHandle(monitor.hProcess);
  CloseHandle(monitor.hThread);
  Vkey("remove BENCH001");
  Vkey("delete BENCH001");
  return 0;
}
