#include "win_test_util.h"

#include <fstream>
#include <iterator>

namespace koba::testing {

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring s(path, n);
  return s.substr(0, s.find_last_of(L'\\') + 1);
}

int RunTool(const std::wstring& args) {
  Child child(args);
  return child.Finish();
}

Child::Child(const std::wstring& args) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE in_read = nullptr;
  HANDLE out_write = nullptr;
  if (!CreatePipe(&in_read, &in_write_, &sa, 0))
    return;
  if (!CreatePipe(&out_read_, &out_write, &sa, 0)) {
    CloseHandle(in_read);
    return;
  }
  SetHandleInformation(in_write_, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(out_read_, HANDLE_FLAG_INHERIT, 0);
  std::wstring cmd = L"\"" + ProgramFolder() + L"common_test_tool.exe\" " + args;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in_read;
  si.hStdOutput = out_write;
  // Not the runner's error stream: a process that the child starts (Wine's desktop process
  // among them) could keep it open long after the test.
  HANDLE nul = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                           OPEN_EXISTING, 0, nullptr);
  si.hStdError = nul;
  PROCESS_INFORMATION pi{};
  if (CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    process_ = pi.hProcess;
    CloseHandle(pi.hThread);
  }
  CloseHandle(in_read);
  CloseHandle(out_write);
  if (nul != INVALID_HANDLE_VALUE)
    CloseHandle(nul);
}

Child::~Child() {
  Finish();
  if (out_read_ != nullptr)
    CloseHandle(out_read_);
}

std::string Child::ReadLine() {
  std::string line;
  char c = 0;
  DWORD got = 0;
  while (ReadFile(out_read_, &c, 1, &got, nullptr) && got == 1 && c != '\n') {
    if (c != '\r')
      line.push_back(c);
  }
  return line;
}

int Child::Finish() {
  if (in_write_ != nullptr) {
    CloseHandle(in_write_);
    in_write_ = nullptr;
  }
  if (process_ == nullptr)
    return -1;
  WaitForSingleObject(process_, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process_, &code);
  CloseHandle(process_);
  process_ = nullptr;
  return static_cast<int>(code);
}

std::vector<unsigned char> ReadFileBytes(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const std::wstring& path, const std::string& data) {
  std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

TempFolder::TempFolder() {
  wchar_t base[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, base);
  path_ = std::wstring(base) + L"koba_test_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
          std::to_wstring(GetTickCount64()) + L"\\";
  CreateDirectoryW(path_.c_str(), nullptr);
}

TempFolder::~TempFolder() {
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((path_ + L"*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      DeleteFileW((path_ + fd.cFileName).c_str());
    } while (FindNextFileW(h, &fd));
    FindClose(h);
  }
  RemoveDirectoryW(path_.c_str());
}

}  // namespace koba::testing
