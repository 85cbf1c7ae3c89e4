// The page helper's interface and object class as this build's type library names them.
#pragma once

#include <windows.h>

#include "helper_idl.h"

namespace koba::pagehelper {

#ifdef KOBA_IDENTITY_64
using HelperInterface = ::ITokenUsb64;
#define KOBA_PAGE_HELPER_CLASS CTokenUsb64
#else
using HelperInterface = ::IToken;
#define KOBA_PAGE_HELPER_CLASS CToken
#endif

}  // namespace koba::pagehelper
