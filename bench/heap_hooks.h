/* Counts what the process asks of the C heap and how many large copies it makes, for the
 * benchmarks. Linking heap_hooks.c into an executable replaces malloc and its relatives, memcpy and
 * memmove for every library of the process (the executable must export them: ENABLE_EXPORTS). */
#ifndef INFERLET_BENCH_HEAP_HOOKS_H_
#define INFERLET_BENCH_HEAP_HOOKS_H_

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Allocation calls (malloc, calloc, realloc, aligned forms; operator new goes through malloc) made
 * while counting is on. */
void heap_hooks_count_allocations(int on);
uint64_t heap_hooks_allocations(void);
void heap_hooks_clear_allocations(void);

/* Bytes of live heap blocks (usable sizes), and their peak since heap_hooks_reset_peak. Always kept. */
size_t heap_hooks_live_bytes(void);
size_t heap_hooks_peak_bytes(void);
void heap_hooks_reset_peak(void);

/* memcpy/memmove calls of at least threshold bytes since the threshold was set (0: not counting). */
void heap_hooks_count_copies_from(size_t threshold);
uint64_t heap_hooks_large_copies(void);

#ifdef __cplusplus
}
#endif

#endif /* INFERLET_BENCH_HEAP_HOOKS_H_ */
