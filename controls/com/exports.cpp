// The four exports of an in-process server and its DllMain.
#include <olectl.h>
#include <windows.h>

#include <new>

#include "class_factory.h"
#include "module.h"
#include "registration.h"
#include "server.h"

using koba::com::ThisServer;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    koba::com::SetModuleHandle(instance);
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
  if (out == nullptr)
    return E_POINTER;
  *out = nullptr;
  if (!IsEqualCLSID(clsid, ThisServer().clsid))
    return CLASS_E_CLASSNOTAVAILABLE;
  auto* factory = new (std::nothrow) koba::com::ClassFactory();
  if (factory == nullptr)
    return E_OUTOFMEMORY;
  const HRESULT hr = factory->QueryInterface(iid, out);
  factory->Release();
  return hr;
}

STDAPI DllCanUnloadNow() {
  return koba::com::ModuleInUse() ? S_FALSE : S_OK;
}

STDAPI DllRegisterServer() {
  return koba::com::RegisterServer(ThisServer());
}

STDAPI DllUnregisterServer() {
  return koba::com::UnregisterServer(ThisServer());
}
