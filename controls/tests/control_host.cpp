// What Internet Explorer does with a control before a page may script it, and the COM rules a
// control must keep, checked on a registered server:
//   control_host PROGID     creation by ProgID and CLSID, IObjectSafety for IID_IDispatch,
//                           ISupportErrorInfo, aggregation, apartments, DllCanUnloadNow
//   control_host --typelib FILE    the type library's content as text, one line per item
// Prints one "ok"/"FAIL" line per check; the exit code is the number of failures.
#include <windows.h>

#include <objsafe.h>
#include <ole2.h>
#include <oleauto.h>

#include <cstdio>
#include <string>

namespace {

int g_failures = 0;

void Check(bool ok, const char* what, HRESULT hr = S_OK) {
  std::printf("%s %s (0x%08lx)\n", ok ? "ok" : "FAIL", what, static_cast<unsigned long>(hr));
  if (!ok)
    ++g_failures;
}

// An outer object that aggregates the control and counts the references given to it.
class Outer final : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown)) {
      *out = this;
      AddRef();
      return S_OK;
    }
    return inner_ != nullptr ? inner_->QueryInterface(iid, out) : E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override { return --refs_; }
  IUnknown* inner_ = nullptr;
  ULONG refs_ = 1;
};

DISPID IdOf(IDispatch* object, const wchar_t* name) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  return id;
}

HRESULT GetProperty(IDispatch* object, DISPID id, VARIANT* result) {
  DISPPARAMS none = {};
  VariantInit(result);
  return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, result,
                        nullptr, nullptr);
}

struct ThreadCall {
  IDispatch* raw = nullptr;
  IStream* marshalled = nullptr;
  const wchar_t* prog_id = nullptr;
  HRESULT raw_hr = S_OK;
  std::wstring raw_description;
  HRESULT marshalled_hr = E_FAIL;
  HRESULT own_hr = E_FAIL;
};

// A second single-threaded apartment: the raw pointer is refused, the marshalled one works,
// and an object of its own works beside the first one.
DWORD WINAPI SecondApartment(void* arg) {
  auto* call = static_cast<ThreadCall*>(arg);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  VARIANT v;
  VariantInit(&v);
  DISPPARAMS none = {};
  EXCEPINFO exception = {};
  call->raw_hr = call->raw->Invoke(1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                                   &v, &exception, nullptr);
  // Through IDispatch a failing method arrives as an exception that carries its code.
  if (call->raw_hr == DISP_E_EXCEPTION) {
    call->raw_hr = exception.scode;
    call->raw_description = exception.bstrDescription != nullptr ? exception.bstrDescription : L"";
  }
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrHelpFile);
  IDispatch* proxy = nullptr;
  if (SUCCEEDED(CoGetInterfaceAndReleaseStream(call->marshalled, IID_IDispatch,
                                               reinterpret_cast<void**>(&proxy)))) {
    call->marshalled_hr = GetProperty(proxy, 1, &v);
    proxy->Release();
  }
  CLSID clsid;
  IDispatch* own = nullptr;
  if (SUCCEEDED(CLSIDFromProgID(call->prog_id, &clsid)) &&
      SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                 reinterpret_cast<void**>(&own)))) {
    call->own_hr = GetProperty(own, 1, &v);
    own->Release();
  }
  CoUninitialize();
  return 0;
}

// Waits for the thread while serving the calls marshalled to this apartment.
void WaitPumping(HANDLE thread) {
  DWORD index = 0;
  CoWaitForMultipleHandles(0, 60000, 1, &thread, &index);
}

void CheckControl(const wchar_t* prog_id) {
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(prog_id, &clsid);
  Check(SUCCEEDED(hr), "ProgID names a class", hr);
  if (FAILED(hr))
    return;
  IDispatch* object = nullptr;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                        reinterpret_cast<void**>(&object));
  Check(SUCCEEDED(hr), "created by CLSID", hr);
  if (FAILED(hr))
    return;

  // Internet Explorer's questions before scripting.
  IObjectSafety* safety = nullptr;
  hr = object->QueryInterface(IID_IObjectSafety, reinterpret_cast<void**>(&safety));
  Check(SUCCEEDED(hr), "IObjectSafety", hr);
  if (safety != nullptr) {
    DWORD supported = 0, enabled = 0;
    hr = safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled);
    const DWORD both = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
    Check(hr == S_OK && supported == both && enabled == both,
          "IDispatch: both safety options supported and enabled", hr);
    hr = safety->SetInterfaceSafetyOptions(IID_IDispatch, INTERFACESAFE_FOR_UNTRUSTED_CALLER,
                                           INTERFACESAFE_FOR_UNTRUSTED_CALLER);
    Check(hr == S_OK, "IDispatch: safe for untrusted callers", hr);
    hr = safety->SetInterfaceSafetyOptions(IID_IDispatch, INTERFACESAFE_FOR_UNTRUSTED_DATA,
                                           INTERFACESAFE_FOR_UNTRUSTED_DATA);
    Check(hr == S_OK, "IDispatch: safe for untrusted data", hr);
    hr = safety->SetInterfaceSafetyOptions(IID_IDispatch, INTERFACE_USES_SECURITY_MANAGER,
                                           INTERFACE_USES_SECURITY_MANAGER);
    Check(hr == E_FAIL, "an option outside the two is refused", hr);
    hr = safety->GetInterfaceSafetyOptions(IID_IPersist, &supported, &enabled);
    Check(hr == E_NOINTERFACE, "no safety for an interface the object lacks", hr);
    safety->Release();
  }

  ITypeInfo* type_info = nullptr;
  hr = object->GetTypeInfo(0, LOCALE_USER_DEFAULT, &type_info);
  Check(SUCCEEDED(hr), "type information", hr);
  IID iid = IID_NULL;
  if (type_info != nullptr) {
    TYPEATTR* attr = nullptr;
    if (SUCCEEDED(type_info->GetTypeAttr(&attr))) {
      iid = attr->guid;
      Check(attr->typekind == TKIND_DISPATCH && (attr->wTypeFlags & TYPEFLAG_FDUAL),
            "the interface is dual");
      type_info->ReleaseTypeAttr(attr);
    }
    type_info->Release();
  }
  ISupportErrorInfo* support = nullptr;
  hr = object->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support));
  Check(SUCCEEDED(hr), "ISupportErrorInfo", hr);
  if (support != nullptr) {
    Check(support->InterfaceSupportsErrorInfo(iid) == S_OK, "error information for its interface");
    Check(support->InterfaceSupportsErrorInfo(IID_IDispatch) == S_FALSE,
          "no error information for IDispatch");
    support->Release();
  }
  void* direct = nullptr;
  hr = object->QueryInterface(iid, &direct);
  Check(SUCCEEDED(hr) && direct == object, "its interface is the dispatch interface", hr);
  if (direct != nullptr)
    static_cast<IUnknown*>(direct)->Release();

  // Aggregation: the inner IUnknown only; its interfaces count references on the outer object.
  Outer outer;
  hr = CoCreateInstance(clsid, &outer, CLSCTX_INPROC_SERVER, IID_IDispatch, &direct);
  Check(hr == CLASS_E_NOAGGREGATION, "aggregation asks for IUnknown", hr);
  hr = CoCreateInstance(clsid, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                        reinterpret_cast<void**>(&outer.inner_));
  Check(SUCCEEDED(hr), "aggregated", hr);
  if (outer.inner_ != nullptr) {
    IDispatch* inner_dispatch = nullptr;
    outer.inner_->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&inner_dispatch));
    Check(inner_dispatch != nullptr && outer.refs_ == 2, "its interfaces count on the outer");
    if (inner_dispatch != nullptr) {
      IUnknown* back = nullptr;
      inner_dispatch->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&back));
      Check(back == &outer, "its IUnknown is the outer one");
      if (back != nullptr)
        back->Release();
      inner_dispatch->Release();
    }
    outer.inner_->Release();
    outer.inner_ = nullptr;
  }

  ThreadCall call;
  call.raw = object;
  call.prog_id = prog_id;
  hr = CoMarshalInterThreadInterfaceInStream(IID_IDispatch, object, &call.marshalled);
  Check(SUCCEEDED(hr), "marshalled to a second apartment", hr);
  HANDLE thread = CreateThread(nullptr, 0, SecondApartment, &call, 0, nullptr);
  WaitPumping(thread);
  CloseHandle(thread);
  Check(call.raw_hr == RPC_E_WRONG_THREAD && !call.raw_description.empty(),
        "an unmarshalled pointer is refused with error information", call.raw_hr);
  Check(call.marshalled_hr == S_OK, "the marshalled pointer works", call.marshalled_hr);
  Check(call.own_hr == S_OK, "an object of the second apartment works", call.own_hr);

  VARIANT v;
  hr = GetProperty(object, IdOf(object, L"LastError"), &v);
  Check(hr == S_OK && V_VT(&v) == VT_I4, "LastError by name", hr);

  // The module stays while an object lives and may go once none does.
  wchar_t server[MAX_PATH] = {};
  LONG size = sizeof server;
  wchar_t key[80] = L"CLSID\\";
  StringFromGUID2(clsid, key + 6, 40);
  wcscat(key, L"\\InprocServer32");
  RegQueryValueW(HKEY_CLASSES_ROOT, key, server, &size);
  HMODULE module = LoadLibraryW(server);
  auto can_unload = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, "DllCanUnloadNow")));
  Check(can_unload != nullptr && can_unload() == S_FALSE, "in use while an object lives");
  object->Release();
  CoFreeUnusedLibraries();
  Check(can_unload != nullptr && can_unload() == S_OK, "free to unload once released");
  if (module != nullptr)
    FreeLibrary(module);
}

std::string Utf8(const wchar_t* text) {
  if (text == nullptr)
    return "";
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  return out;
}

std::string GuidText(const GUID& guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return Utf8(text);
}

// Names, help strings, GUIDs, flags and every member with its DISPID, kind and parameters.
int DumpTypeLibrary(const wchar_t* file) {
  ITypeLib* library = nullptr;
  HRESULT hr = LoadTypeLibEx(file, REGKIND_NONE, &library);
  if (FAILED(hr)) {
    std::printf("FAIL load 0x%08lx\n", static_cast<unsigned long>(hr));
    return 1;
  }
  TLIBATTR* lib_attr = nullptr;
  library->GetLibAttr(&lib_attr);
  BSTR name = nullptr, doc = nullptr;
  library->GetDocumentation(-1, &name, &doc, nullptr, nullptr);
  std::printf("library %s %s %u.%u lcid %lu flags %u help \"%s\"\n", Utf8(name).c_str(),
              GuidText(lib_attr->guid).c_str(), lib_attr->wMajorVerNum, lib_attr->wMinorVerNum,
              lib_attr->lcid, lib_attr->wLibFlags, Utf8(doc).c_str());
  std::printf("syskind %d\n", lib_attr->syskind);
  SysFreeString(name);
  SysFreeString(doc);
  library->ReleaseTLibAttr(lib_attr);
  for (UINT t = 0; t < library->GetTypeInfoCount(); ++t) {
    ITypeInfo* info = nullptr;
    library->GetTypeInfo(t, &info);
    TYPEATTR* attr = nullptr;
    info->GetTypeAttr(&attr);
    info->GetDocumentation(MEMBERID_NIL, &name, &doc, nullptr, nullptr);
    std::printf("type %s %s kind %d flags 0x%x funcs %u help \"%s\"\n", Utf8(name).c_str(),
                GuidText(attr->guid).c_str(), attr->typekind, attr->wTypeFlags, attr->cFuncs,
                Utf8(doc).c_str());
    SysFreeString(name);
    SysFreeString(doc);
    for (UINT f = 0; f < attr->cFuncs; ++f) {
      FUNCDESC* func = nullptr;
      info->GetFuncDesc(f, &func);
      BSTR names[16] = {};
      UINT count = 0;
      info->GetNames(func->memid, names, 16, &count);
      info->GetDocumentation(func->memid, nullptr, &doc, nullptr, nullptr);
      std::printf("  member %ld %s invoke %d params %d help \"%s\" (", func->memid,
                  Utf8(names[0]).c_str(), func->invkind, func->cParams, Utf8(doc).c_str());
      for (SHORT p = 0; p < func->cParams; ++p) {
        const ELEMDESC& e = func->lprgelemdescParam[p];
        std::printf("%s%s vt %d flags 0x%x", p ? ", " : "",
                    p + 1 < static_cast<SHORT>(count) ? Utf8(names[p + 1]).c_str() : "?",
                    e.tdesc.vt == VT_PTR ? 1000 + e.tdesc.lptdesc->vt : e.tdesc.vt,
                    e.paramdesc.wParamFlags);
      }
      std::printf(")\n");
      for (UINT n = 0; n < count; ++n)
        SysFreeString(names[n]);
      SysFreeString(doc);
      info->ReleaseFuncDesc(func);
    }
    for (UINT i = 0; i < attr->cImplTypes; ++i) {
      HREFTYPE ref = 0;
      ITypeInfo* implemented = nullptr;
      if (SUCCEEDED(info->GetRefTypeOfImplType(i, &ref)) &&
          SUCCEEDED(info->GetRefTypeInfo(ref, &implemented))) {
        implemented->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
        INT flags = 0;
        info->GetImplTypeFlags(i, &flags);
        std::printf("  implements %s flags %d\n", Utf8(name).c_str(), flags);
        SysFreeString(name);
        implemented->Release();
      }
    }
    info->ReleaseTypeAttr(attr);
    info->Release();
  }
  library->Release();
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && std::wstring(argv[1]) == L"--typelib")
    return DumpTypeLibrary(argv[2]);
  if (argc != 2) {
    std::fprintf(stderr, "usage: control_host PROGID | control_host --typelib FILE\n");
    return 100;
  }
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  CheckControl(argv[1]);
  CoUninitialize();
  return g_failures;
}
