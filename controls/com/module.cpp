#include "module.h"

#include <oleauto.h>

#include <mutex>
#include <vector>

namespace koba::com {
namespace {

LONG g_locks = 0;
HMODULE g_module = nullptr;

std::mutex g_typelib_mutex;
ITypeLib* g_typelib = nullptr;  // released at unload by TypeLibHolder

struct TypeLibHolder {
  ~TypeLibHolder() {
    if (g_typelib != nullptr)
      g_typelib->Release();
  }
} g_typelib_holder;

}  // namespace

void LockModule() {
  InterlockedIncrement(&g_locks);
}

void UnlockModule() {
  InterlockedDecrement(&g_locks);
}

bool ModuleInUse() {
  return InterlockedCompareExchange(&g_locks, 0, 0) != 0;
}

void SetModuleHandle(HMODULE module) {
  g_module = module;
}

HMODULE ModuleHandle() {
  return g_module;
}

std::wstring ModulePath() {
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(g_module, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0)
      return {};
    if (n < path.size())
      return std::wstring(path.data(), n);
    if (path.size() >= 32768)
      return {};
    path.resize(path.size() * 2);
  }
}

HRESULT TypeInfoOf(REFIID iid, ITypeInfo** out) {
  if (out == nullptr)
    return E_POINTER;
  *out = nullptr;
  const std::lock_guard<std::mutex> lock(g_typelib_mutex);
  if (g_typelib == nullptr) {
    const std::wstring path = ModulePath();
    if (path.empty())
      return E_UNEXPECTED;
    const HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &g_typelib);
    if (FAILED(hr)) {
      g_typelib = nullptr;
      return hr;
    }
  }
  return g_typelib->GetTypeInfoOfGuid(iid, out);
}

}  // namespace koba::com
