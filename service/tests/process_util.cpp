#include "process_util.h"

#include <vector>

namespace koba::service::testing {

std::wstring NextToTest(const wchar_t* name) {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path, n);
  dir.resize(dir.find_last_of(L'\\') + 1);
  return dir + name;
}

Child::Child(const std::wstring& command_line) {
  std::vector<wchar_t> line(command_line.begin(), command_line.end());
  line.push_back(L'\0');
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info_)) {
    info_ = {};
  }
}

Child::Child(Child&& other) noexcept : info_(other.info_) {
  other.info_ = {};
}

Child& Child::operator=(Child&& other) noexcept {
  if (this != &other) {
    Reset();
    info_ = other.info_;
    other.info_ = {};
  }
  return *this;
}

Child::~Child() {
  Reset();
}

void Child::Reset() {
  if (info_.hProcess != nullptr) {
    if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
      TerminateProcess(info_.hProcess, 1);
      WaitForSingleObject(info_.hProcess, 5000);
    }
    CloseHandle(info_.hProcess);
    CloseHandle(info_.hThread);
  }
  info_ = {};
}

bool Child::WaitExit(DWORD ms, DWORD* exit_code) const {
  if (info_.hProcess == nullptr || WaitForSingleObject(info_.hProcess, ms) != WAIT_OBJECT_0)
    return false;
  if (exit_code != nullptr)
    GetExitCodeProcess(info_.hProcess, exit_code);
  return true;
}

void Child::PostQuit() const {
  PostThreadMessageW(info_.dwThreadId, WM_QUIT, 0, 0);
}

int RunToEnd(const std::wstring& command_line, DWORD ms, std::string* output) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (output != nullptr && !CreatePipe(&read_end, &write_end, &inherit, 0))
    return -1;
  const win::UniqueHandle reader(read_end);
  win::UniqueHandle writer(write_end);
  if (reader)
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);

  std::vector<wchar_t> line(command_line.begin(), command_line.end());
  line.push_back(L'\0');
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (writer) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write_end;
    startup.hStdError = write_end;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  }
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, writer != nullptr, 0, nullptr,
                      nullptr, &startup, &info)) {
    return -1;
  }
  const win::UniqueHandle process(info.hProcess);
  const win::UniqueHandle thread(info.hThread);
  writer.reset();
  if (reader) {
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(reader.get(), buffer, sizeof buffer, &n, nullptr) && n > 0)
      output->append(buffer, n);
  }
  if (WaitForSingleObject(info.hProcess, ms) != WAIT_OBJECT_0) {
    TerminateProcess(info.hProcess, 1);
    return -1;
  }
  DWORD code = 0;
  GetExitCodeProcess(info.hProcess, &code);
  return static_cast<int>(code);
}

bool WaitUntil(const std::function<bool()>& condition, DWORD ms) {
  const ULONGLONG deadline = GetTickCount64() + ms;
  for (;;) {
    if (condition())
      return true;
    if (GetTickCount64() >= deadline)
      return false;
    Sleep(20);
  }
}

}  // namespace koba::service::testing
