// The setup program's own allocation operators and pure-virtual handler: with
// them, libstdc++'s exception machinery and demangler stay out of the stub.
#include <stddef.h>

#include "common/heap.h"

void* operator new(size_t n) {
  return heap_alloc(n);
}
void* operator new[](size_t n) {
  return heap_alloc(n);
}
void operator delete(void* p) noexcept {
  heap_free(p);
}
void operator delete[](void* p) noexcept {
  heap_free(p);
}
void operator delete(void* p, size_t) noexcept {
  heap_free(p);
}
void operator delete[](void* p, size_t) noexcept {
  heap_free(p);
}

extern "C" void __cxa_pure_virtual() {
  for (;;) {
  }
}
