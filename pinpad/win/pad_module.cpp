#include "pad_module.h"

#include <commctrl.h>

namespace VKey {
namespace {

HMODULE g_module = nullptr;
// Made on first use and kept while the library is loaded: dialogs of any thread activate it.
HANDLE g_context = INVALID_HANDLE_VALUE;

HANDLE MakeContext() {
  ACTCTXW request{};
  request.cbSize = sizeof request;
  request.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
  request.hModule = g_module;
  request.lpResourceName = ISOLATIONAWARE_MANIFEST_RESOURCE_ID;
  return CreateActCtxW(&request);
}

// The waiting window's thread and the caller's may both ask first; one context is kept.
HANDLE LibraryContext() {
  HANDLE context = static_cast<HANDLE>(
      InterlockedCompareExchangePointer(&g_context, INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE));
  if (context != INVALID_HANDLE_VALUE) {
    return context;
  }
  const HANDLE made = MakeContext();
  if (made == INVALID_HANDLE_VALUE) {
    return made;
  }
  context = static_cast<HANDLE>(
      InterlockedCompareExchangePointer(&g_context, made, INVALID_HANDLE_VALUE));
  if (context != INVALID_HANDLE_VALUE) {
    ReleaseActCtx(made);
    return context;
  }
  return made;
}

}  // namespace

HMODULE PadModule() {
  return g_module;
}

void SetPadModule(HMODULE module) {
  g_module = module;
}

void ReleaseLibraryContext() {
  const HANDLE context =
      static_cast<HANDLE>(InterlockedExchangePointer(&g_context, INVALID_HANDLE_VALUE));
  if (context != INVALID_HANDLE_VALUE) {
    ReleaseActCtx(context);
  }
}

ActivationScope::ActivationScope() {
  const HANDLE context = LibraryContext();
  if (context != INVALID_HANDLE_VALUE && ActivateActCtx(context, &cookie_)) {
    active_ = true;
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
  }
}

ActivationScope::~ActivationScope() {
  if (active_) {
    DeactivateActCtx(0, cookie_);
  }
}

}  // namespace VKey
