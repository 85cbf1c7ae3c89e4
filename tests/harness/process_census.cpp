#include "process_census.h"

#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <vector>

#include "win_handle.h"

namespace koba::test {
namespace {

constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004);
constexpr ULONG kThreadWin32StartAddress = 9;

// The size of a process's handle table, as the system's process list gives it (Wine reports
// the table's allocated slots as the handle count).
bool HandleSlots(DWORD pid, ULONG* slots) {
  std::vector<unsigned char> buffer(1 << 16);
  for (;;) {
    ULONG needed = 0;
    const NTSTATUS status = NtQuerySystemInformation(SystemProcessInformation, buffer.data(),
                                                     static_cast<ULONG>(buffer.size()), &needed);
    if (status == kInfoLengthMismatch) {
      buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 4096));
      continue;
    }
    if (status < 0)
      return false;
    for (size_t at = 0;;) {
      const auto* entry = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(&buffer[at]);
      if (reinterpret_cast<uintptr_t>(entry->UniqueProcessId) == pid) {
        *slots = entry->HandleCount;
        return true;
      }
      if (entry->NextEntryOffset == 0)
        return false;
      at += entry->NextEntryOffset;
    }
  }
}

// Wine answers GetProcessHandleCount for another process with 0, and its server crashes when it
// lists the system's handles while some process has just started (vkey/entropy_guard.cpp). So
// each slot of the table is tried instead: a slot that can be duplicated holds a handle.
bool CountHandles(HANDLE process, size_t* handles) {
  ULONG slots = 0;
  if (!HandleSlots(GetProcessId(process), &slots))
    return false;
  *handles = 0;
  for (ULONG slot = 1; slot <= slots; ++slot) {
    HANDLE copy = nullptr;
    if (DuplicateHandle(process, reinterpret_cast<HANDLE>(static_cast<uintptr_t>(slot) * 4),
                        GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
      CloseHandle(copy);
      ++*handles;
    }
  }
  return true;
}

struct Module {
  uintptr_t base;
  uintptr_t end;
  std::wstring name;
};

std::vector<Module> ModulesOf(HANDLE process) {
  std::vector<HMODULE> handles(512);
  DWORD needed = 0;
  std::vector<Module> modules;
  if (!EnumProcessModulesEx(process, handles.data(),
                            static_cast<DWORD>(handles.size() * sizeof(HMODULE)), &needed,
                            LIST_MODULES_ALL))
    return modules;
  handles.resize(std::min<size_t>(handles.size(), needed / sizeof(HMODULE)));
  for (HMODULE m : handles) {
    MODULEINFO info{};
    wchar_t name[MAX_PATH] = {};
    if (!GetModuleInformation(process, m, &info, sizeof info) ||
        !GetModuleBaseNameW(process, m, name, MAX_PATH))
      continue;
    const auto base = reinterpret_cast<uintptr_t>(info.lpBaseOfDll);
    modules.push_back({base, base + info.SizeOfImage, name});
  }
  return modules;
}

std::wstring ModuleAt(const std::vector<Module>& modules, uintptr_t address) {
  for (const Module& m : modules)
    if (address >= m.base && address < m.end)
      return m.name;
  return L"?";
}

}  // namespace

size_t ProcessCensus::ThreadsStartedIn(const std::wstring& module) const {
  const auto it = threads_by_module.find(module);
  return it == threads_by_module.end() ? 0 : it->second;
}

bool TakeCensus(HANDLE process, ProcessCensus* census) {
  *census = {};
  const DWORD pid = GetProcessId(process);
  if (!CountHandles(process, &census->handles))
    return false;
  const std::vector<Module> modules = ModulesOf(process);
  const win::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (snapshot.get() == INVALID_HANDLE_VALUE)
    return false;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot.get(), &entry); more;
       more = Thread32Next(snapshot.get(), &entry)) {
    if (entry.th32OwnerProcessID != pid)
      continue;
    ++census->threads;
    const win::UniqueHandle thread(OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID));
    PVOID start = nullptr;
    const bool known =
        thread && NtQueryInformationThread(thread.get(),
                                           static_cast<THREADINFOCLASS>(kThreadWin32StartAddress),
                                           &start, sizeof start, nullptr) >= 0;
    ++census
          ->threads_by_module[known ? ModuleAt(modules, reinterpret_cast<uintptr_t>(start)) : L"?"];
  }
  return true;
}

std::string Describe(const ProcessCensus& census) {
  std::string text = "handles " + std::to_string(census.handles) + ", threads " +
                     std::to_string(census.threads) + " (";
  const char* separator = "";
  for (const auto& [module, count] : census.threads_by_module) {
    text += separator + std::string(module.begin(), module.end()) + " " + std::to_string(count);
    separator = ", ";
  }
  return text + ")";
}

}  // namespace koba::test
