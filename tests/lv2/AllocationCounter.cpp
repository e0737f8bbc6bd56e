#include "AllocationCounter.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <new>

// glibc's own allocator, under the names it exports for interposers.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void __libc_free(void* pointer);
void* __libc_memalign(size_t alignment, size_t size);
}

namespace {

// Plain thread-locals of the executable: reading them allocates nothing.
thread_local bool t_counting = false;
thread_local int64_t t_calls = 0;

inline void Count() {
  if (t_counting) ++t_calls;
}

void* NewOrThrow(size_t size) {
  Count();
  void* pointer = __libc_malloc(size == 0 ? 1 : size);
  if (pointer == nullptr) throw std::bad_alloc();
  return pointer;
}

void* AlignedNewOrThrow(size_t size, std::align_val_t alignment) {
  Count();
  void* pointer = __libc_memalign(static_cast<size_t>(alignment), size == 0 ? 1 : size);
  if (pointer == nullptr) throw std::bad_alloc();
  return pointer;
}

void Delete(void* pointer) {
  Count();
  __libc_free(pointer);
}

}  // namespace

namespace allocation_counter {

void Start() {
  t_calls = 0;
  t_counting = true;
}

int64_t Stop() {
  t_counting = false;
  return t_calls;
}

}  // namespace allocation_counter

extern "C" {

void* malloc(size_t size) {
  Count();
  return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) {
  Count();
  return __libc_calloc(count, size);
}

void* realloc(void* pointer, size_t size) {
  Count();
  return __libc_realloc(pointer, size);
}

void free(void* pointer) {
  Count();
  __libc_free(pointer);
}

void* memalign(size_t alignment, size_t size) {
  Count();
  return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) {
  Count();
  return __libc_memalign(alignment, size);
}

int posix_memalign(void** result, size_t alignment, size_t size) {
  Count();
  if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return EINVAL;
  void* pointer = __libc_memalign(alignment, size);
  if (pointer == nullptr) return ENOMEM;
  *result = pointer;
  return 0;
}

}  // extern "C"

void* operator new(size_t size) { return NewOrThrow(size); }
void* operator new[](size_t size) { return NewOrThrow(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  Count();
  return __libc_malloc(size == 0 ? 1 : size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  Count();
  return __libc_malloc(size == 0 ? 1 : size);
}
void* operator new(size_t size, std::align_val_t alignment) {
  return AlignedNewOrThrow(size, alignment);
}
void* operator new[](size_t size, std::align_val_t alignment) {
  return AlignedNewOrThrow(size, alignment);
}
void operator delete(void* pointer) noexcept { Delete(pointer); }
void operator delete[](void* pointer) noexcept { Delete(pointer); }
void operator delete(void* pointer, size_t) noexcept { Delete(pointer); }
void operator delete[](void* pointer, size_t) noexcept { Delete(pointer); }
void operator delete(void* pointer, const std::nothrow_t&) noexcept { Delete(pointer); }
void operator delete[](void* pointer, const std::nothrow_t&) noexcept { Delete(pointer); }
void operator delete(void* pointer, std::align_val_t) noexcept { Delete(pointer); }
void operator delete[](void* pointer, std::align_val_t) noexcept { Delete(pointer); }
void operator delete(void* pointer, size_t, std::align_val_t) noexcept { Delete(pointer); }
void operator delete[](void* pointer, size_t, std::align_val_t) noexcept { Delete(pointer); }
