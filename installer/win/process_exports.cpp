// The process exports: whether a process runs, and closing the processes that hold a DLL the
// installation has to replace.
#include <windows.h>

#include <string>

#include "nsis_plugin.h"
#include "process_list.h"
#include "system_info.h"
#include "tools_proc_dialog.h"

namespace nsis = koba::installer::nsis;
using koba::installer::CToolsProc;

KOBA_NSIS_EXPORT(FindProc) {
  nsis::Arg<> name;
  const bool too_long = name.Take() == nsis::Pop::kTooLong;
  const int found =
      too_long ? koba::installer::kProcBadName : koba::installer::FindProcess(name.text);
  nsis::SetResult(std::to_wstring(found));
}

// The user accepts (the owners are ended, "OK") or refuses ("CANCEL"); nobody to ask means
// nothing is ended either.
KOBA_NSIS_EXPORT(GetDllOwnerProcName) {
  nsis::Arg<> args[1 + CToolsProc::kTextCount];
  for (auto& arg : args) {
    if (arg.Take() == nsis::Pop::kTooLong) {
      nsis::SetResult(L"CANCEL");
      return;
    }
  }
  std::wstring texts[CToolsProc::kTextCount];
  for (int i = 0; i < CToolsProc::kTextCount; ++i)
    texts[i] = args[1 + i].text;

  koba::installer::EnableDebugPrivilege();
  const std::vector<koba::installer::OwnerProcess> owners =
      koba::installer::FindDllOwners(args[0].text);
  if (owners.empty()) {
    nsis::SetResult(L"OK");
    return;
  }
  CToolsProc dialog(texts, &owners);
  if (dialog.Show(GetActiveWindow()) != 1) {
    nsis::SetResult(L"CANCEL");
    return;
  }
  for (const koba::installer::OwnerProcess& owner : owners)
    koba::installer::EndOwner(owner);
  nsis::SetResult(L"OK");
}
