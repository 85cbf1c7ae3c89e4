// The process-wide low-level mouse filter of the PIN dialogs: while a PIN dialog is active it
// swallows every left-button press in a remote session, and every injected one that does not
// come from pen or touch input.
#pragma once

#include <windows.h>

namespace VKey {

constexpr wchar_t kTerminalServerKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Terminal Server\\";

// Installs the filter unless it is in place; the session is looked at once, here.
void InstallMouseFilter();
void RemoveMouseFilter();

// The session is remote: the system says so, or GlassSessionId under the key (below
// HKEY_LOCAL_MACHINE) exists and names another session than the process's.
bool RemoteSession(const wchar_t* terminalServerKey = kTerminalServerKey);

// The PIN dialogs' own attention click gets through by carrying the value returned here, drawn
// afresh from the system generator for that one click and good for one press: no other process
// knows it in advance or can replay it.
ULONG_PTR ArmOwnClick();

// Whether the filter swallows a left-button press; ownClick is the armed value (0: none).
bool SwallowsLeftDown(bool remoteSession, bool injected, ULONG_PTR extraInfo, ULONG_PTR ownClick);

}  // namespace VKey
