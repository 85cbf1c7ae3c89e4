// The keys a server writes under HKEY_CLASSES_ROOT, as one table filled from its identities,
// and the type library registration beside them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "server.h"

namespace koba::com {

// One registry value: `value` empty for the key's default value; a key without `has_data`
// holds no value of its own (it is only created).
struct RegistryEntry {
  std::wstring key;
  std::wstring value;
  bool has_data;
  std::wstring data;
};

// Every value the server writes, in the order they are written.
std::vector<RegistryEntry> RegistryEntries(const ServerIdentity& id, const std::wstring& module);
// The keys removed, with everything below them, at unregistration.
std::vector<std::wstring> OwnedKeys(const ServerIdentity& id);

HRESULT RegisterServer(const ServerIdentity& id);
HRESULT UnregisterServer(const ServerIdentity& id);

}  // namespace koba::com
