// The server module's lifetime: the count of live objects and class-factory locks that
// DllCanUnloadNow answers from, the module's own file, and its type library.
#pragma once

#include <oaidl.h>
#include <ole2.h>
#include <windows.h>

#include <string>

namespace koba::com {

void LockModule();
void UnlockModule();
bool ModuleInUse();

void SetModuleHandle(HMODULE module);
HMODULE ModuleHandle();
// The full path of the server DLL; empty when it cannot be read.
std::wstring ModulePath();

// The type information of `iid` from the type library embedded in the module, loaded once
// and kept until the module unloads. The caller receives a reference of its own.
HRESULT TypeInfoOf(REFIID iid, ITypeInfo** out);

// Keeps the module loaded for as long as it lives.
class ModuleLock {
 public:
  ModuleLock() { LockModule(); }
  ~ModuleLock() { UnlockModule(); }
  ModuleLock(const ModuleLock&) = delete;
  ModuleLock& operator=(const ModuleLock&) = delete;
};

}  // namespace koba::com
