#include "secret_memory.h"

#include <ntsecapi.h>

namespace VKey {

namespace {

// Null until first use; the dialogs' threads may race to make it, and one of them wins.
HANDLE g_heap = nullptr;

}  // namespace

HANDLE PrivateHeap() {
  HANDLE heap = static_cast<HANDLE>(InterlockedCompareExchangePointer(&g_heap, nullptr, nullptr));
  if (heap != nullptr) {
    return heap;
  }
  const HANDLE made = HeapCreate(0, 0, 0);
  if (made == nullptr) {
    return GetProcessHeap();
  }
  heap = static_cast<HANDLE>(InterlockedCompareExchangePointer(&g_heap, made, nullptr));
  if (heap != nullptr) {
    HeapDestroy(made);
    return heap;
  }
  return made;
}

void DestroyPrivateHeap() {
  const HANDLE heap = static_cast<HANDLE>(InterlockedExchangePointer(&g_heap, nullptr));
  if (heap == nullptr) {
    return;
  }
  PROCESS_HEAP_ENTRY entry{};
  while (HeapWalk(heap, &entry)) {
    if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) {
      SecureZeroMemory(entry.lpData, entry.cbData);
    }
  }
  HeapDestroy(heap);
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
