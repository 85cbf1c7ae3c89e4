#include "secret_memory.h"

#include <ntsecapi.h>

namespace VKey {

HANDLE PrivateHeap() {
  static const HANDLE heap = [] {
    const HANDLE made = HeapCreate(0, 0, 0);
    return made != nullptr ? made : GetProcessHeap();
  }();
  return heap;
}

uint32_t RandomWord() {
  uint32_t word = 0;
  if (!RtlGenRandom(&word, sizeof word)) {
    // Without the system generator the encoding still works; only its masking weakens.
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    word = static_cast<uint32_t>(counter.QuadPart) ^ GetCurrentProcessId();
  }
  return word;
}

}  // namespace VKey
