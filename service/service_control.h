// The control operations on the Windows service "Vexlo Service _KOBA", each with a service
// control manager handle of its own. Each returns 0 or the platform's error code.
#pragma once

#include <windows.h>

#include <string>

namespace koba::service {

inline constexpr wchar_t kServiceName[] = L"Vexlo Service _KOBA";

DWORD InstallService();
DWORD StartTheService();
// Sends the stop control; does not wait for the stop to finish.
DWORD StopService();
DWORD UninstallService();

// The running program's full path, quoted, so that a folder with blanks cannot be taken for a
// shorter program name; empty when the path does not fit 260 characters.
std::wstring QuotedProgramPath();

}  // namespace koba::service
