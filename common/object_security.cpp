#include "object_security.h"

#include <sddl.h>
#include <versionhelpers.h>

namespace koba::win {

SharedObjectSecurity::SharedObjectSecurity() {
  InitializeSecurityDescriptor(&sd_, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&sd_, TRUE, nullptr, FALSE);
  PSECURITY_DESCRIPTOR converted = nullptr;
  if (ConvertStringSecurityDescriptorToSecurityDescriptorW(kSharedObjectDacl, SDDL_REVISION_1,
                                                           &converted, nullptr)) {
    dacl_sd_.reset(converted);
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (GetSecurityDescriptorDacl(converted, &present, &dacl, &defaulted) && present)
      SetSecurityDescriptorDacl(&sd_, TRUE, dacl, FALSE);
  }
  if (IsWindowsVistaOrGreater()) {
    converted = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(kLowLabelSacl, SDDL_REVISION_1,
                                                             &converted, nullptr)) {
      label_sd_.reset(converted);
      BOOL present = FALSE;
      BOOL defaulted = FALSE;
      PACL sacl = nullptr;
      if (GetSecurityDescriptorSacl(converted, &present, &sacl, &defaulted) && present)
        SetSecurityDescriptorSacl(&sd_, TRUE, sacl, FALSE);
    }
  }
  sa_ = {sizeof sa_, &sd_, FALSE};
}

}  // namespace koba::win
