// Facts about the running system that several exports share: WOW64, the 64-bit registry
// view, the Windows version record, the debug privilege and ANSI conversions.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace koba::installer {

// IsWow64Process, looked up at run time (the shared services' test); false where it is missing.
bool IsWow64();

// Whether the 64-bit registry view exists for this process: under WOW64, or in a 64-bit build.
bool Has64BitView();

// GetVersionExW with the extended record; false when it fails.
bool GetOsVersion(OSVERSIONINFOEXW* info);

// Enables SeDebugPrivilege in the process token and leaves it enabled.
void EnableDebugPrivilege();

// The text in the ANSI code page; empty when it cannot be represented.
std::string ToAnsi(std::wstring_view text);

}  // namespace koba::installer
