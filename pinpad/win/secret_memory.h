// Memory for PIN material: the library's private heap, an allocator that wipes every block
// before it goes back to that heap, and the byte buffer a PIN is taken out into.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

namespace VKey {

// The library's private heap, made on first use and kept while the library is loaded.
HANDLE PrivateHeap();
// Wipes whatever is still allocated on the private heap and destroys it; the library calls it
// when it is unloaded, so that no load leaves a heap (or PIN material) behind.
void DestroyPrivateHeap();

// Four bytes from the system's random number generator.
uint32_t RandomWord();

template <typename T>
struct WipingAllocator {
  using value_type = T;
  WipingAllocator() = default;
  template <typename U>
  WipingAllocator(const WipingAllocator<U>&) {}

  T* allocate(size_t n) {
    void* block = HeapAlloc(PrivateHeap(), 0, n * sizeof(T));
    if (block == nullptr) {
      throw std::bad_alloc();
    }
    return static_cast<T*>(block);
  }
  void deallocate(T* block, size_t n) {
    SecureZeroMemory(block, n * sizeof(T));
    HeapFree(PrivateHeap(), 0, block);
  }
  template <typename U>
  bool operator==(const WipingAllocator<U>&) const {
    return true;
  }
  template <typename U>
  bool operator!=(const WipingAllocator<U>&) const {
    return false;
  }
};

// A PIN as narrow bytes; never kept inline, so the wiping allocator sees every byte.
using SecretBytes = std::vector<char, WipingAllocator<char>>;

// Wipes the bytes of a vector's elements from index `from` to its capacity's end.
template <typename T>
void WipeTail(std::vector<T, WipingAllocator<T>>* v, size_t from) {
  if (v->capacity() > from) {
    SecureZeroMemory(v->data() + from, (v->capacity() - from) * sizeof(T));
  }
}

}  // namespace VKey
