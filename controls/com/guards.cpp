#include "guards.h"

#include <string>

#include "code_signature.h"
#include "settings.h"

namespace koba::com {

bool DebuggerPresent() {
  return codesign::DebuggerAttached();
}

bool VendorLibrariesTrusted() {
  const std::wstring token = settings::SystemLibraryPath(L"Q2Token_koba.dll");
  const size_t slash = token.find_last_of(L'\\');
  return slash != std::wstring::npos && codesign::VendorLibrariesSigned(token.substr(0, slash + 1));
}

}  // namespace koba::com
