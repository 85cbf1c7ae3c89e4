#include "error_info.h"

#include <ole2.h>
#include <oleauto.h>

namespace koba::com {

HRESULT ReportError(HRESULT hr, const std::wstring& description, const wchar_t* source,
                    REFIID iid) {
  ICreateErrorInfo* create = nullptr;
  if (FAILED(CreateErrorInfo(&create)))
    return hr;
  create->SetGUID(iid);
  create->SetSource(const_cast<wchar_t*>(source));
  create->SetDescription(const_cast<wchar_t*>(description.c_str()));
  IErrorInfo* info = nullptr;
  if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
    SetErrorInfo(0, info);
    info->Release();
  }
  create->Release();
  return hr;
}

}  // namespace koba::com
