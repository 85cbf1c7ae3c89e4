// The class factory of a server's one class.
#pragma once

#include <unknwn.h>
#include <windows.h>

namespace koba::com {

class ClassFactory final : public IClassFactory {
 public:
  ClassFactory();
  ~ClassFactory();
  ClassFactory(const ClassFactory&) = delete;
  ClassFactory& operator=(const ClassFactory&) = delete;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
  STDMETHODIMP LockServer(BOOL lock) override;

 private:
  LONG refs_ = 1;
};

}  // namespace koba::com
