// Counts the heap allocations of the whole process, the loaded module's
// included: the program exports these, so the dynamic linker binds every
// library's malloc to them. They hand on to the C library's own.
#include "alloc_count.h"

#include <atomic>
#include <cstddef>

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void __libc_free(void* block);
}

namespace {

std::atomic<long> allocations{0};

}  // namespace

extern "C" {

void* malloc(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_calloc(count, size);
}

void* realloc(void* block, std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_realloc(block, size);
}

void free(void* block) { __libc_free(block); }

}  // extern "C"

long AllocationCount() { return allocations.load(std::memory_order_relaxed); }
