#include "pad_module.h"

#include <commctrl.h>
#include <delayimp.h>

#include <atomic>
#include <cstring>
#include <string>

#include "settings.h"

// This image's base: the delay-import descriptors' addresses are relative to it.
extern "C" IMAGE_DOS_HEADER __ImageBase;

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

// The delay-import descriptors of the libraries loaded by this load's calls. The delay-load
// helper keeps one reference to each library in its descriptor's module slot. More slots than
// the build delay-imports libraries.
std::atomic<PCImgDelayDescr> g_loadedImports[16];

void RememberLoaded(PCImgDelayDescr descriptor) {
  for (auto& slot : g_loadedImports) {
    PCImgDelayDescr seen = nullptr;
    if (slot.compare_exchange_strong(seen, descriptor) || seen == descriptor) {
      return;
    }
  }
}

HMODULE LoadDelayImported(const char* dll) {
  const std::wstring name(dll, dll + std::strlen(dll));
  if (_wcsicmp(name.c_str(), L"comctl32.dll") == 0) {
    // comctl32 registers its window classes as it loads, under the loader lock. The process's
    // first window-system call sets the window system up once for every thread, loading
    // libraries of its own (under Wine the display driver and uxtheme): were another thread in
    // the middle of that set-up, say the host's signature check, it would wait for the loader
    // lock and this thread for the set-up. The set-up is finished here, outside the lock.
    GetDesktopWindow();
    // The first load decides which common controls every later call binds. It is by name: the
    // activation context redirects a name, never a path, to the version its manifest names.
    const HANDLE context = LibraryContext();
    ULONG_PTR cookie = 0;
    if (context != INVALID_HANDLE_VALUE && ActivateActCtx(context, &cookie)) {
      const HMODULE module = LoadLibraryW(name.c_str());
      DeactivateActCtx(0, cookie);
      return module;
    }
  }
  const std::wstring path = koba::settings::SystemLibraryPath(name.c_str());
  return path.empty() ? nullptr : LoadLibraryW(path.c_str());
}

// The delay-load helper's notice before it loads a library itself: the library loaded here
// takes its place (on failure the helper tries the name in the usual search order).
FARPROC WINAPI DelayLoadNotice(unsigned notice, PDelayLoadInfo info) {
  if (notice != dliNotePreLoadLibrary) {
    return nullptr;
  }
  RememberLoaded(info->pidd);
  return reinterpret_cast<FARPROC>(LoadDelayImported(info->szDll));
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

void ReleaseDelayLoadedLibraries() {
  for (auto& slot : g_loadedImports) {
    const PCImgDelayDescr descriptor = slot.exchange(nullptr);
    if (descriptor == nullptr) {
      continue;
    }
    auto* const module =
        reinterpret_cast<HMODULE*>(reinterpret_cast<BYTE*>(&__ImageBase) + descriptor->rvaHmod);
    if (*module != nullptr) {
      FreeLibrary(*module);
      *module = nullptr;
    }
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

// Read by the delay-load helper of the C runtime (declared extern "C" by delayimp.h).
PfnDliHook __pfnDliNotifyHook2 = &VKey::DelayLoadNotice;
