// Keeps libgcrypt's Windows entropy gatherer away from the system handle list.
//
// At its first random request in a process (so at every load of a stand-in library) the
// gatherer queries NtQuerySystemInformation for every information class up to 63, among them
// SystemHandleInformation. Wine 8.0's server answers that class by walking each process's
// handle table with an unsigned index against the table's signed "last entry in use", which is
// -1 while the table is empty, as it is for a process that has just connected. The walk then
// runs off the table and the server crashes, and every process of the session ends with it.
// Any Wine process that starts at that moment is enough, so under load it happens now and then.
//
// libgcrypt finds NtQuerySystemInformation through GetProcAddress, which is linked with
// `--wrap` so that references to its import slot reach the variable below. For that one
// function, the lookup returns a filter that refuses the handle classes; every other lookup
// and class goes through unchanged. The handle list is one of the gatherer's many sources, and
// the virtual key only needs good random numbers, not that one.
#include <windows.h>

#include <atomic>
#include <cstring>

namespace {

using QuerySystemInformation = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
using ProcLookup = FARPROC(WINAPI*)(HMODULE, LPCSTR);

constexpr ULONG kSystemHandleInformation = 16;
constexpr ULONG kSystemExtendedHandleInformation = 64;
constexpr LONG kStatusInvalidInfoClass = static_cast<LONG>(0xC0000003);

std::atomic<QuerySystemInformation> real_query{nullptr};

LONG WINAPI QueryWithoutHandles(ULONG info_class, void* buffer, ULONG length, ULONG* returned) {
  if (info_class == kSystemHandleInformation || info_class == kSystemExtendedHandleInformation)
    return kStatusInvalidInfoClass;
  return real_query.load()(info_class, buffer, length, returned);
}

FARPROC WINAPI GuardedLookup(HMODULE module, LPCSTR name);

}  // namespace

// The import slot's wrapped names, as the assembler spells them: 32-bit symbols carry a leading
// underscore and the stdcall decoration.
#ifdef _WIN64
#define KOBA_IMPORT_SLOT(prefix) prefix "___imp_GetProcAddress"
#else
#define KOBA_IMPORT_SLOT(prefix) "_" prefix "__imp__GetProcAddress@8"
#endif
extern "C" {
extern ProcLookup real_lookup __asm__(KOBA_IMPORT_SLOT("__real"));
ProcLookup guarded_lookup __asm__(KOBA_IMPORT_SLOT("__wrap")) = GuardedLookup;
}

namespace {

FARPROC WINAPI GuardedLookup(HMODULE module, LPCSTR name) {
  const FARPROC found = real_lookup(module, name);
  if (found == nullptr || IS_INTRESOURCE(name) ||
      std::strcmp(name, "NtQuerySystemInformation") != 0 ||
      module != GetModuleHandleW(L"ntdll.dll"))
    return found;
  real_query.store(reinterpret_cast<QuerySystemInformation>(reinterpret_cast<void (*)()>(found)));
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&QueryWithoutHandles));
}

}  // namespace
