/* Interposed allocation and copy functions. They forward to glibc's own entry points, which other
 * code cannot reach by name and so never comes back here. */
#define _GNU_SOURCE
#include "heap_hooks.h"

#include <errno.h>
#include <malloc.h>
#include <stdatomic.h>
#include <string.h>

extern void* __libc_malloc(size_t size);
extern void* __libc_calloc(size_t count, size_t size);
extern void* __libc_realloc(void* ptr, size_t size);
extern void* __libc_memalign(size_t alignment, size_t size);
extern void __libc_free(void* ptr);
extern void* __memcpy_chk(void* dst, const void* src, size_t n, size_t dst_len);
extern void* __memmove_chk(void* dst, const void* src, size_t n, size_t dst_len);

/* Called through volatile pointers so that the compiler cannot turn them back into memcpy/memmove. */
static void* (*volatile real_memcpy)(void*, const void*, size_t, size_t) = __memcpy_chk;
static void* (*volatile real_memmove)(void*, const void*, size_t, size_t) = __memmove_chk;

static atomic_int counting;
static atomic_uint_fast64_t allocations;
static atomic_size_t live_bytes;
static atomic_size_t peak_bytes;
static atomic_size_t copy_threshold;
static atomic_uint_fast64_t large_copies;

static void note_alloc(void* ptr) {
  if (!ptr) return;
  if (atomic_load_explicit(&counting, memory_order_relaxed))
    atomic_fetch_add_explicit(&allocations, 1, memory_order_relaxed);
  const size_t live = atomic_fetch_add_explicit(&live_bytes, malloc_usable_size(ptr), memory_order_relaxed) +
                      malloc_usable_size(ptr);
  size_t peak = atomic_load_explicit(&peak_bytes, memory_order_relaxed);
  while (live > peak && !atomic_compare_exchange_weak(&peak_bytes, &peak, live)) {
  }
}

static void note_free(void* ptr) {
  if (ptr) atomic_fetch_sub_explicit(&live_bytes, malloc_usable_size(ptr), memory_order_relaxed);
}

static void note_copy(size_t n) {
  const size_t threshold = atomic_load_explicit(&copy_threshold, memory_order_relaxed);
  if (threshold != 0 && n >= threshold) atomic_fetch_add_explicit(&large_copies, 1, memory_order_relaxed);
}

void* malloc(size_t size) {
  void* p = __libc_malloc(size);
  note_alloc(p);
  return p;
}

void* calloc(size_t count, size_t size) {
  void* p = __libc_calloc(count, size);
  note_alloc(p);
  return p;
}

void* realloc(void* ptr, size_t size) {
  const size_t old = ptr ? malloc_usable_size(ptr) : 0;
  void* p = __libc_realloc(ptr, size);
  if (p || size == 0) atomic_fetch_sub_explicit(&live_bytes, old, memory_order_relaxed);
  note_alloc(p);
  return p;
}

void free(void* ptr) {
  note_free(ptr);
  __libc_free(ptr);
}

void* memalign(size_t alignment, size_t size) {
  void* p = __libc_memalign(alignment, size);
  note_alloc(p);
  return p;
}

void* aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }

int posix_memalign(void** out, size_t alignment, size_t size) {
  if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return EINVAL;
  void* p = memalign(alignment, size);
  if (!p && size != 0) return ENOMEM;
  *out = p;
  return 0;
}

void* memcpy(void* dst, const void* src, size_t n) {
  note_copy(n);
  return real_memcpy(dst, src, n, n);
}

void* memmove(void* dst, const void* src, size_t n) {
  note_copy(n);
  return real_memmove(dst, src, n, n);
}

void heap_hooks_count_allocations(int on) { atomic_store(&counting, on); }
uint64_t heap_hooks_allocations(void) { return atomic_load(&allocations); }
void heap_hooks_clear_allocations(void) { atomic_store(&allocations, 0); }
size_t heap_hooks_live_bytes(void) { return atomic_load(&live_bytes); }
size_t heap_hooks_peak_bytes(void) { return atomic_load(&peak_bytes); }
void heap_hooks_reset_peak(void) { atomic_store(&peak_bytes, atomic_load(&live_bytes)); }

void heap_hooks_count_copies_from(size_t threshold) {
  atomic_store(&large_copies, 0);
  atomic_store(&copy_threshold, threshold);
}

uint64_t heap_hooks_large_copies(void) { return atomic_load(&large_copies); }
