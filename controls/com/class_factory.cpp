#include "class_factory.h"

#include <new>

#include "module.h"
#include "server.h"

namespace koba::com {

ClassFactory::ClassFactory() {
  LockModule();
}

ClassFactory::~ClassFactory() {
  UnlockModule();
}

STDMETHODIMP ClassFactory::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr)
    return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
    *out = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) ClassFactory::AddRef() {
  return static_cast<ULONG>(InterlockedIncrement(&refs_));
}

STDMETHODIMP_(ULONG) ClassFactory::Release() {
  const LONG left = InterlockedDecrement(&refs_);
  if (left == 0)
    delete this;
  return static_cast<ULONG>(left);
}

STDMETHODIMP ClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
  if (out == nullptr)
    return E_POINTER;
  *out = nullptr;
  // An aggregating outer object asks for the inner object's own IUnknown, nothing else.
  if (outer != nullptr && !IsEqualIID(iid, IID_IUnknown))
    return CLASS_E_NOAGGREGATION;
  return CreateServerObject(outer, iid, out);
}

STDMETHODIMP ClassFactory::LockServer(BOOL lock) {
  if (lock)
    LockModule();
  else
    UnlockModule();
  return S_OK;
}

}  // namespace koba::com
