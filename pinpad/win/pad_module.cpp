#include "pad_module.h"

#include <commctrl.h>

namespace VKey {
namespace {

HMODULE g_module = nullptr;

// The context is made once, on first use, and kept for the life of the process: dialogs of any
// thread activate it.
HANDLE LibraryContext() {
  static const HANDLE context = [] {
    ACTCTXW request{};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.hModule = g_module;
    request.lpResourceName = ISOLATIONAWARE_MANIFEST_RESOURCE_ID;
    return CreateActCtxW(&request);
  }();
  return context;
}

}  // namespace

HMODULE PadModule() {
  return g_module;
}

void SetPadModule(HMODULE module) {
  g_module = module;
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
