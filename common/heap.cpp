#include "common/heap.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <stdlib.h>
#endif

static HeapFailureHook failure_hook = nullptr;

void heap_set_failure_hook(HeapFailureHook hook) {
  failure_hook = hook;
}

static void* try_alloc(size_t n, bool zero_fill, int attempt) {
  if (failure_hook && failure_hook(n, attempt)) return nullptr;
#ifdef _WIN32
  return HeapAlloc(GetProcessHeap(), zero_fill ? HEAP_ZERO_MEMORY : 0, n ? n : 1);
#else
  return zero_fill ? calloc(1, n ? n : 1) : malloc(n ? n : 1);
#endif
}

void* heap_alloc(size_t n, bool zero_fill) {
  void* block = try_alloc(n, zero_fill, 0);
  if (!block) {
#ifdef _WIN32
    HeapCompact(GetProcessHeap(), 0);
#endif
    block = try_alloc(n, zero_fill, 1);
  }
  return block;
}

void heap_free(void* block) {
  if (!block) return;
#ifdef _WIN32
  HeapFree(GetProcessHeap(), 0, block);
#else
  free(block);
#endif
}
