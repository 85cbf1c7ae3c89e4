// The base of a control object: reference counting with aggregation, IDispatch through the
// type library's ITypeInfo, ISupportErrorInfo for the control's interface, IObjectSafety with
// both safety options, the apartment check and the error report of a failed call.
#pragma once

#include <windows.h>

#include <oaidl.h>
#include <objsafe.h>
#include <ole2.h>

// After the OLE headers, whose GUID types it needs.
#include <cguid.h>

#include <new>
#include <string>

#include "error_info.h"
#include "module.h"
#include "server.h"

namespace koba::com {

constexpr DWORD kSafetyOptions =
    INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;

template <class Interface>
class DualObject : public Interface, public ISupportErrorInfo, public IObjectSafety {
 public:
  // Makes a Derived and hands out `iid`; an aggregated object hands out its own IUnknown.
  template <class Derived>
  static HRESULT Create(IUnknown* outer, REFIID iid, void** out) {
    auto* object = new (std::nothrow) Derived(outer);
    if (object == nullptr)
      return E_OUTOFMEMORY;
    IUnknown* inner = &object->inner_;
    const HRESULT hr = inner->QueryInterface(iid, out);
    inner->Release();
    return hr;
  }

  DualObject(const DualObject&) = delete;
  DualObject& operator=(const DualObject&) = delete;

  // IUnknown, delegated to the outer object when aggregated.
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    return outer_->QueryInterface(iid, out);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return outer_->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return outer_->Release(); }

  // IDispatch
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (count == nullptr)
      return E_POINTER;
    *count = 1;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (info == nullptr)
      return E_POINTER;
    *info = nullptr;
    if (index != 0)
      return DISP_E_BADINDEX;
    return TypeInfoOf(ThisServer().iid, info);
  }
  STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (!IsEqualIID(iid, IID_NULL))
      return DISP_E_UNKNOWNINTERFACE;
    ITypeInfo* info = nullptr;
    HRESULT hr = TypeInfoOf(ThisServer().iid, &info);
    if (SUCCEEDED(hr)) {
      hr = DispGetIDsOfNames(info, names, count, ids);
      info->Release();
    }
    return hr;
  }
  STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* arg_error) override {
    if (!IsEqualIID(iid, IID_NULL))
      return DISP_E_UNKNOWNINTERFACE;
    ITypeInfo* info = nullptr;
    HRESULT hr = TypeInfoOf(ThisServer().iid, &info);
    if (SUCCEEDED(hr)) {
      hr = DispInvoke(static_cast<Interface*>(this), info, id, flags, params, result, exception,
                      arg_error);
      info->Release();
    }
    return hr;
  }

  // ISupportErrorInfo
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) override {
    return IsEqualIID(iid, ThisServer().iid) ? S_OK : S_FALSE;
  }

  // IObjectSafety: safe for untrusted callers and untrusted data on every interface the
  // object has; options outside these two are refused.
  STDMETHODIMP GetInterfaceSafetyOptions(REFIID iid, DWORD* supported, DWORD* enabled) override {
    if (supported == nullptr || enabled == nullptr)
      return E_POINTER;
    *supported = 0;
    *enabled = 0;
    if (!HasInterface(iid))
      return E_NOINTERFACE;
    *supported = kSafetyOptions;
    *enabled = safety_;
    return S_OK;
  }
  STDMETHODIMP SetInterfaceSafetyOptions(REFIID iid, DWORD mask, DWORD enabled) override {
    if (!HasInterface(iid))
      return E_NOINTERFACE;
    if ((mask & ~kSafetyOptions) != 0)
      return E_FAIL;
    safety_ = (safety_ & ~mask) | (enabled & mask);
    return S_OK;
  }

 protected:
  explicit DualObject(IUnknown* outer)
      : inner_(this), outer_(outer != nullptr ? outer : &inner_), thread_(GetCurrentThreadId()) {}
  virtual ~DualObject() = default;

  // Records the failure for the caller's thread: the description, the ProgID as source and
  // the control's interface; returns `hr`.
  HRESULT Fail(HRESULT hr, const std::wstring& description) const {
    return ReportError(hr, description, ThisServer().prog_id, ThisServer().iid);
  }

  // An apartment-threaded object is called on the thread that made it. A pointer handed to
  // another thread without marshalling gets RPC_E_WRONG_THREAD, and the object is not touched.
  bool CalledFromOwnApartment() const { return GetCurrentThreadId() == thread_; }
  HRESULT WrongApartment() const {
    return Fail(RPC_E_WRONG_THREAD,
                L"The object was called from a thread other than the one that created it.");
  }

 private:
  // The non-delegating IUnknown that owns the object's life.
  class Inner final : public IUnknown {
   public:
    explicit Inner(DualObject* self) : self_(self) {}
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
      return self_->InnerQueryInterface(iid, out);
    }
    STDMETHODIMP_(ULONG) AddRef() override {
      return static_cast<ULONG>(InterlockedIncrement(&self_->refs_));
    }
    STDMETHODIMP_(ULONG) Release() override {
      const LONG left = InterlockedDecrement(&self_->refs_);
      if (left == 0)
        delete self_;
      return static_cast<ULONG>(left);
    }

   private:
    DualObject* self_;
  };

  bool HasInterface(REFIID iid) const {
    return IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
           IsEqualIID(iid, ThisServer().iid) || IsEqualIID(iid, IID_ISupportErrorInfo) ||
           IsEqualIID(iid, IID_IObjectSafety);
  }

  HRESULT InnerQueryInterface(REFIID iid, void** out) {
    if (out == nullptr)
      return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown)) {
      *out = static_cast<IUnknown*>(&inner_);
    } else if (IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, ThisServer().iid)) {
      *out = static_cast<Interface*>(this);
    } else if (IsEqualIID(iid, IID_ISupportErrorInfo)) {
      *out = static_cast<ISupportErrorInfo*>(this);
    } else if (IsEqualIID(iid, IID_IObjectSafety)) {
      *out = static_cast<IObjectSafety*>(this);
    } else {
      return E_NOINTERFACE;
    }
    static_cast<IUnknown*>(*out)->AddRef();
    return S_OK;
  }

  ModuleLock module_lock_;
  Inner inner_;
  IUnknown* outer_;
  LONG refs_ = 1;
  DWORD thread_;
  DWORD safety_ = kSafetyOptions;
};

}  // namespace koba::com
