// The bank's CA certificates ("installRoot", and "removeRoot" for the uninstaller), and the
// browser settings the monitor touches once when it starts.
#pragma once

namespace koba::traymon {

// The eight built-in CA certificates, in order (bank_ca.h). Unless `skip_user_stores`: the
// first three to the current user's "ROOT" store, the fourth and fifth to its "CA" store.
// Every one then to the machine's "ROOT" (self-signed) or "CA" store. Nothing is reported. A
// certificate that a store did not show before is noted under the settings key of the store's
// owner (the current user's or the machine's), so that RemoveInstalledRoots can take it away.
void InstallRoots(bool skip_user_stores);

// Takes out of the current user's and the machine's stores exactly the certificates that
// InstallRoots noted there, and the notes with them. A certificate that was in a store before
// the installation stays.
void RemoveInstalledRoots();

// Internet Explorer after version 6: the bank domain's wildcard entry leaves the user's zone
// map; and automatic prompting for ActiveX controls in the trusted sites zone is enabled.
void TouchBrowserSettings();

// The domain whose wildcard zone-map entry is removed.
constexpr wchar_t kBankDomain[] = L"kobabank.com";

}  // namespace koba::traymon
