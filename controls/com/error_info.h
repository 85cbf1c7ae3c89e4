// COM error information as the controls report a failed call: the description, the class's
// ProgID as source and the control's interface, for the calling thread.
#pragma once

#include <windows.h>

#include <string>

namespace koba::com {

// Sets the thread's error information and returns `hr`, so a method can end with it.
HRESULT ReportError(HRESULT hr, const std::wstring& description, const wchar_t* source, REFIID iid);

}  // namespace koba::com
