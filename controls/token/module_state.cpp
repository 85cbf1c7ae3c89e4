#include "module_state.h"

namespace koba::token_control {
namespace {

std::mutex g_core_mutex;
std::atomic<DWORD> g_core_owner{0};

}  // namespace

core::TokenCore& Core() {
  static core::TokenCore core;
  return core;
}

core::FileSigningState& FileState() {
  static core::FileSigningState state;
  return state;
}

bool CoreAccess::Acquire() {
  if (g_core_owner.load() == GetCurrentThreadId())
    return false;
  g_core_mutex.lock();
  g_core_owner.store(GetCurrentThreadId());
  held_ = true;
  return true;
}

CoreAccess::~CoreAccess() {
  if (held_) {
    g_core_owner.store(0);
    g_core_mutex.unlock();
  }
}

}  // namespace koba::token_control
