// Where Firefox keeps what the installer changes: the user's profiles (profiles.ini and each
// profile's prefs.js) and the installations named in the machine's registry.
#pragma once

#include <string>
#include <vector>

namespace koba::installer::firefox {

// The user's application data folder (CSIDL_APPDATA); empty when unknown.
std::wstring AppDataFolder();

// "<application data>\Mozilla\Firefox\profiles.ini".
std::wstring ProfilesIni();

struct Profile {
  std::wstring folder;         // absolute
  std::wstring default_value;  // "Default", empty when absent
};

// The profiles "Profile0", "Profile1", ... up to the first section without "Path".
std::vector<Profile> Profiles();

// The install directory of every version subkey of "Mozilla Firefox", then of "Aurora".
std::vector<std::wstring> InstallDirectories();

// The current installation's install directory; empty when any step fails.
std::wstring CurrentInstallDirectory();

// Whether the default profile's prefs.js holds CR LF followed by `marker`; true when there is
// no default profile.
bool DefaultProfileHasMarker(const std::string& marker);

}  // namespace koba::installer::firefox
