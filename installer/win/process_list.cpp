#include "process_list.h"

#include <tlhelp32.h>

#include "reg_args.h"
#include "system_info.h"
#include "win_handle.h"

namespace koba::installer {
namespace {

struct LibraryFreer {
  void operator()(HMODULE module) const { FreeLibrary(module); }
};
using UniqueLibrary = std::unique_ptr<std::remove_pointer_t<HMODULE>, LibraryFreer>;

// The process-status entry points, resolved from PSAPI.DLL at run time.
struct Psapi {
  using EnumProcessesFn = BOOL(WINAPI*)(DWORD*, DWORD, DWORD*);
  using EnumProcessModulesFn = BOOL(WINAPI*)(HANDLE, HMODULE*, DWORD, DWORD*);
  using GetModuleNameFn = DWORD(WINAPI*)(HANDLE, HMODULE, LPWSTR, DWORD);

  UniqueLibrary library{LoadLibraryW(L"PSAPI.DLL")};
  EnumProcessesFn enum_processes = nullptr;
  EnumProcessModulesFn enum_modules = nullptr;
  GetModuleNameFn base_name = nullptr;
  GetModuleNameFn file_name = nullptr;

  template <typename F>
  F Resolve(const char* name) const {
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(library.get(), name)));
  }

  Psapi() {
    if (!library)
      return;
    enum_processes = Resolve<EnumProcessesFn>("EnumProcesses");
    enum_modules = Resolve<EnumProcessModulesFn>("EnumProcessModules");
    base_name = Resolve<GetModuleNameFn>("GetModuleBaseNameW");
    file_name = Resolve<GetModuleNameFn>("GetModuleFileNameExW");
  }
  bool ready() const { return enum_processes && enum_modules && base_name && file_name; }

  // Up to `limit` process ids; false when the enumeration fails.
  bool ProcessIds(size_t limit, std::vector<DWORD>* ids) const {
    ids->assign(limit, 0);
    DWORD bytes = 0;
    if (!enum_processes(ids->data(), static_cast<DWORD>(limit * sizeof(DWORD)), &bytes))
      return false;
    ids->resize(bytes / sizeof(DWORD));
    return true;
  }
};

std::wstring UpperCase(std::wstring text) {
  if (!text.empty())
    CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
  return text;
}

std::wstring BaseName(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

win::UniqueHandle OpenForQuery(DWORD id) {
  return win::UniqueHandle(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id));
}

int FindProcessNt(const std::wstring& upper_name) {
  const Psapi psapi;
  if (!psapi.ready())
    return kProcNoPsapi;
  std::vector<DWORD> ids;
  if (!psapi.ProcessIds(1000, &ids))
    return kProcNoPsapi;
  for (const DWORD id : ids) {
    const win::UniqueHandle process = OpenForQuery(id);
    if (!process)
      continue;
    HMODULE first = nullptr;
    DWORD needed = 0;
    wchar_t name[MAX_PATH] = L"Unknown";
    if (psapi.enum_modules(process.get(), &first, sizeof first, &needed))
      psapi.base_name(process.get(), first, name, MAX_PATH);
    if (UpperCase(name) == upper_name)
      return kProcFound;
  }
  return kProcNotFound;
}

int FindProcess9x(const std::wstring& upper_name) {
  const win::UniqueHandle snapshot = win::OwnFile(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot)
    return kProcNoPsapi;
  PROCESSENTRY32W process{};
  process.dwSize = sizeof process;
  for (BOOL more = Process32FirstW(snapshot.get(), &process); more;
       more = Process32NextW(snapshot.get(), &process)) {
    const win::UniqueHandle modules =
        win::OwnFile(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, process.th32ProcessID));
    if (!modules)
      continue;
    MODULEENTRY32W module{};
    module.dwSize = sizeof module;
    for (BOOL next = Module32FirstW(modules.get(), &module); next;
         next = Module32NextW(modules.get(), &module)) {
      if (UpperCase(module.szModule) == upper_name)
        return kProcFound;
    }
  }
  return kProcNotFound;
}

}  // namespace

int FindProcess(const std::wstring& name) {
  if (name.empty() || name.size() > MAX_PATH)
    return kProcBadName;
  OSVERSIONINFOEXW version;
  if (!GetOsVersion(&version))
    return kProcNoVersion;
  const std::wstring upper = UpperCase(name);
  if (version.dwPlatformId == VER_PLATFORM_WIN32_NT)
    return FindProcessNt(upper);
  if (version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS)
    return FindProcess9x(upper);
  return kProcOtherPlatform;
}

std::vector<OwnerProcess> FindDllOwners(const std::wstring& dll_name) {
  OutputDebugStringW(L"In GetDllOwnerNameList");
  std::vector<OwnerProcess> owners;
  const Psapi psapi;
  std::vector<DWORD> ids;
  if (!psapi.ready() || !psapi.ProcessIds(1024, &ids))
    return owners;
  std::vector<HMODULE> modules(2048);
  for (const DWORD id : ids) {
    const win::UniqueHandle process = OpenForQuery(id);
    DWORD bytes = 0;
    if (!process ||
        !psapi.enum_modules(process.get(), modules.data(),
                            static_cast<DWORD>(modules.size() * sizeof(HMODULE)), &bytes))
      continue;
    const size_t count = std::min<size_t>(bytes / sizeof(HMODULE), modules.size());
    for (size_t i = 0; i < count; ++i) {
      wchar_t name[MAX_PATH] = {};
      if (psapi.base_name(process.get(), modules[i], name, MAX_PATH) == 0 ||
          !EqualsAsciiNoCase(name, dll_name))
        continue;
      wchar_t file[MAX_PATH] = {};
      psapi.file_name(process.get(), nullptr, file, MAX_PATH);
      owners.push_back({id, file});
      break;
    }
  }
  return owners;
}

bool EndOwner(const OwnerProcess& owner) {
  const win::UniqueHandle snapshot = win::OwnFile(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot)
    return false;
  const std::wstring image = BaseName(owner.file);
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID != owner.id || !EqualsAsciiNoCase(BaseName(entry.szExeFile), image))
      continue;
    const win::UniqueHandle process(OpenProcess(PROCESS_ALL_ACCESS, FALSE, entry.th32ProcessID));
    return process && TerminateProcess(process.get(), 0);
  }
  return false;
}

bool EndFirstProcessNamed(const std::wstring& name) {
  const win::UniqueHandle snapshot = win::OwnFile(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot)
    return false;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    if (!EqualsAsciiNoCase(BaseName(entry.szExeFile), name))
      continue;
    const win::UniqueHandle process(OpenProcess(PROCESS_ALL_ACCESS, FALSE, entry.th32ProcessID));
    return process && TerminateProcess(process.get(), 0);
  }
  return false;
}

}  // namespace koba::installer
