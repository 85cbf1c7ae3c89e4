// What all token control objects of the process share: the module's TokenCore and its
// file-signing state, made on first use and kept until the module unloads, and the exclusive
// use of them for one call at a time.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>

#include "file_signing.h"
#include "token_core.h"

namespace koba::token_control {

core::TokenCore& Core();
// The chosen files and the last signed file of every object of the module.
core::FileSigningState& FileState();

// Held for the length of one method call. Objects of other apartments wait for the call in
// progress to end; a call that arrives on the same thread while one is still running (a page
// scripted from inside a modal dialog) is refused, so the core never runs two operations at
// once.
class CoreAccess {
 public:
  CoreAccess() = default;
  ~CoreAccess();
  CoreAccess(const CoreAccess&) = delete;
  CoreAccess& operator=(const CoreAccess&) = delete;

  bool Acquire();

 private:
  bool held_ = false;
};

}  // namespace koba::token_control
