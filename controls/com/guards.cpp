#include "guards.h"

#include "code_signature.h"

namespace koba::com {

bool DebuggerPresent() {
  return codesign::DebuggerAttached();
}

bool VendorLibrariesTrusted() {
  return codesign::InstalledVendorLibrariesTrusted();
}

}  // namespace koba::com
