// Security of the named objects that other sessions and integrity levels must open (the log
// mutex, the device service's pipes and mutex): a NULL DACL replaced by one that denies network
// logons, network configuration operators and the network service and allows everyone; from
// Windows Vista on also the low mandatory label with no-write-up. A step that fails leaves the
// descriptor as it was.
#pragma once

#include "win_handle.h"

namespace koba::win {

inline constexpr wchar_t kSharedObjectDacl[] =
    L"D:(D;OICI;GA;;;NU)(D;OICI;GA;;;NO)(D;OICI;GA;;;NS)"
    L"(A;OICI;GAGRGWGXFAFRFRFXRPWPCCDCLCSWLODTCR;;;WD)";
inline constexpr wchar_t kLowLabelSacl[] = L"S:(ML;;NW;;;LW)";

class SharedObjectSecurity {
 public:
  SharedObjectSecurity();
  SharedObjectSecurity(const SharedObjectSecurity&) = delete;
  SharedObjectSecurity& operator=(const SharedObjectSecurity&) = delete;
  SECURITY_ATTRIBUTES* attributes() { return &sa_; }

 private:
  SECURITY_DESCRIPTOR sd_{};
  UniqueLocal<void> dacl_sd_;
  UniqueLocal<void> label_sd_;
  SECURITY_ATTRIBUTES sa_{};
};

}  // namespace koba::win
