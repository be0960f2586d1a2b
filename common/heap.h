// Heap helpers. Every buffer of the setup program comes from here: when an
// allocation fails the process heap is compacted and the allocation tried once
// more before the failure is reported (a null pointer).
#pragma once
#include <stddef.h>

void* heap_alloc(size_t n, bool zero_fill = false);
void heap_free(void* block);

// Frees a block if present and marks the reference absent.
template <class T> inline void free_and_clear(T*& block) {
  if (block) heap_free((void*)block);
  block = nullptr;
}

// Test seam: when set, every allocation attempt first asks the hook, and an
// attempt for which it returns true fails as if the heap were exhausted.
typedef bool (*HeapFailureHook)(size_t n, int attempt);
void heap_set_failure_hook(HeapFailureHook hook);
