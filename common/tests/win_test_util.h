// Helpers of the Windows tests of the shared services.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace koba::testing {

// The folder of the running test program, with a trailing backslash.
std::wstring ProgramFolder();

// Runs a program of the test folder with `args`; returns its exit code, or -1.
int RunTool(const std::wstring& args);

// A child process with a pipe to its standard input and one from its standard output.
class Child {
 public:
  explicit Child(const std::wstring& args);
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  bool started() const { return process_ != nullptr; }
  // Reads one line of the child's output (without the line end).
  std::string ReadLine();
  // Closes the child's standard input and waits for it; its exit code, or -1.
  int Finish();

 private:
  HANDLE process_ = nullptr;
  HANDLE in_write_ = nullptr;
  HANDLE out_read_ = nullptr;
};

std::vector<unsigned char> ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::string& data);

// A fresh folder of its own under the system's temporary folder; removed with its files.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  const std::wstring& path() const { return path_; }  // with a trailing backslash

 private:
  std::wstring path_;
};

}  // namespace koba::testing
