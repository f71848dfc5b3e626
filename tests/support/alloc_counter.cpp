// The allocation counter: wrapped C allocation functions and replaced operator new.
#include "alloc_counter.h"

#include <cstdlib>
#include <new>

std::atomic<long> g_nAllocations{0};

extern "C" {
void* __real_malloc(size_t n);
void* __real_calloc(size_t n, size_t size);
void* __real_realloc(void* p, size_t n);

void* __wrap_malloc(size_t n) {
  g_nAllocations++;
  return __real_malloc(n);
}
void* __wrap_calloc(size_t n, size_t size) {
  g_nAllocations++;
  return __real_calloc(n, size);
}
void* __wrap_realloc(void* p, size_t n) {
  g_nAllocations++;
  return __real_realloc(p, n);
}
}

void* operator new(size_t n) {
  g_nAllocations++;
  void* p = __real_malloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
  return p;
}
void* operator new[](size_t n) { return operator new(n); }
void operator delete(void* p) noexcept { free(p); }
void operator delete[](void* p) noexcept { free(p); }
void operator delete(void* p, size_t) noexcept { free(p); }
void operator delete[](void* p, size_t) noexcept { free(p); }
// The standard library's temporary buffers (stable_sort) use the nothrow forms and free with
// plain delete, so they must come from the same allocator as the forms above.
void* operator new(size_t n, const std::nothrow_t&) noexcept {
  g_nAllocations++;
  return __real_malloc(n ? n : 1);
}
void* operator new[](size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void operator delete(void* p, const std::nothrow_t&) noexcept { free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { free(p); }
