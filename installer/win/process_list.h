// Running processes as the plug-in sees them: by their first module's base name, by the DLLs
// they hold, and ending one.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace koba::installer {

// FindProc's result codes.
constexpr int kProcFound = 1;
constexpr int kProcNotFound = 0;
constexpr int kProcNoPsapi = 605;
constexpr int kProcNoVersion = 606;
constexpr int kProcOtherPlatform = 607;
constexpr int kProcBadName = 632;

// Whether a process whose executable (first module) has this base name runs, ASCII and other
// case ignored.
int FindProcess(const std::wstring& name);

struct OwnerProcess {
  DWORD id;
  std::wstring file;  // full image path
};

// The processes that have loaded a module of this base name (ASCII case ignored), each once.
std::vector<OwnerProcess> FindDllOwners(const std::wstring& dll_name);

// Ends the process of that id, provided it still runs the same image; true when it ended.
bool EndOwner(const OwnerProcess& owner);

// Ends the first running process whose executable has this base name; true when it ended.
bool EndFirstProcessNamed(const std::wstring& name);

}  // namespace koba::installer
