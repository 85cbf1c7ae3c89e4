// The bank's CA certificates ("installRoot"), and the browser settings the monitor touches
// once when it starts.
#pragma once

namespace koba::traymon {

// The eight CA certificates, in order, from the install folder's "certs\ca01.cer" ...
// "certs\ca08.cer" (DER). Unless `skip_user_stores`: the first three to the current user's
// "ROOT" store, the fourth and fifth to its "CA" store. Every one then to the machine's "ROOT"
// (self-signed) or "CA" store. A missing or broken file is passed over; nothing is reported.
void InstallRoots(bool skip_user_stores);

// Internet Explorer after version 6: the bank domain's wildcard entry leaves the user's zone
// map; and automatic prompting for ActiveX controls in the trusted sites zone is enabled.
void TouchBrowserSettings();

// The domain whose wildcard zone-map entry is removed.
constexpr wchar_t kBankDomain[] = L"kobabank.com";

}  // namespace koba::traymon
