// The token control's interface as this build's type library declares it.
#pragma once

#include <windows.h>

#include "token_idl.h"

namespace koba::token_control {

#ifdef KOBA_IDENTITY_64
using TokenInterface = ::IGMToken_KOBA_64;
#else
using TokenInterface = ::IGMToken_KOBA;
#endif

}  // namespace koba::token_control
