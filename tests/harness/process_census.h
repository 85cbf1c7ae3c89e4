// What another process holds, read from outside as the system lists it: its handles, and its
// threads by the module their start address lies in.
#pragma once

#include <windows.h>

#include <map>
#include <string>

namespace koba::test {

struct ProcessCensus {
  size_t handles = 0;
  size_t threads = 0;
  // Threads by the base name of the module that holds their start address ("?" when none).
  std::map<std::wstring, size_t> threads_by_module;

  size_t ThreadsStartedIn(const std::wstring& module) const;
};

// The census of `process` (opened with query, read and handle-duplication access); false when the
// system lists neither its handles nor its threads.
bool TakeCensus(HANDLE process, ProcessCensus* census);

// "handles 41, threads 6 (VexloSerB.exe 5, ntdll.dll 1)", for failure messages.
std::string Describe(const ProcessCensus& census);

}  // namespace koba::test
