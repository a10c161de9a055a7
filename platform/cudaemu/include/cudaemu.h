/* Control and inspection of the emulated CUDA device (libcudaemu.so).
 *
 * The library defines the CUDA runtime entry points declared by the toolkit's cuda_runtime_api.h
 * on top of host memory. This header adds what a test needs around them: configuration, fault
 * injection, counters and an ordered trace of the calls made. Every function here is thread safe. */
#ifndef CUDAEMU_H_
#define CUDAEMU_H_

#include <cuda_runtime_api.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Back to the state at process start: frees every allocation, stream, graph and event the emulator holds
 * (pending work is dropped, not run), clears the sticky fault, injections, counters, the trace and the
 * violation count, and re-applies the CUDAEMU_* environment settings (CUDAEMU_STRICT included). No
 * other thread may be inside a CUDA call. */
void cudaemu_reset(void);

/* Configuration. Changing the device count or capacity is meant for a quiescent emulator
 * (right after cudaemu_reset()). */
void cudaemu_set_device_count(int count);       /* 0: a driver but no GPU (cudaErrorNoDevice) */
void cudaemu_set_driver_present(int present);   /* 0: every call answers cudaErrorInsufficientDriver */
void cudaemu_set_memory_capacity(size_t bytes); /* per device: cudaMalloc, component memory, cudaMemGetInfo */

/* Worst-case ordering (also CUDAEMU_STRICT=1): whatever the real runtime may do later happens later.
 * cudaMemcpyAsync into pageable memory completes only at a synchronization and reads a pageable source
 * when it runs; cudaStreamDestroy returns before the stream's work ran; cudaFree/cudaFreeHost do not
 * synchronize, and freeing memory that queued work still names counts as a violation. */
void cudaemu_set_strict(int strict);
int cudaemu_strict(void);

/* The sticky fault of the process: cudaSuccess, or the first of the codes CUDA documents as leaving the
 * process unusable (cudaErrorIllegalAddress, cudaErrorLaunchFailure, ...) that a call answered, by
 * injection or because queued work hit it. Every later runtime call answers it until cudaemu_reset();
 * cudaGetErrorString and cudaGetErrorName keep working. */
cudaError_t cudaemu_sticky_error(void);

/* The nth call (1 = the next one) of `api` from now on answers `code` and does nothing else, even
 * when `code` is cudaSuccess. Several injections may be pending at once. Returns 0, or -1 when
 * `api` is null/empty or `nth` < 1. */
int cudaemu_fail_call(const char* api, int nth, cudaError_t code);

/* Every call of `api` since the last reset, injected and refused ones included. */
uint64_t cudaemu_call_count(const char* api);

/* Device memory taken by a component that carries a CUDA runtime of its own (as TensorRT does for its
 * weights and activation memory), so that it is not one of the application's cudaMalloc calls. It goes
 * through the steps of every runtime call (counted, traced and failed by injection under these names),
 * is device memory of the current device (limited by its capacity, bounds-checked, counted below) and
 * is freed only by cudaemu_component_free: cudaFree of it, or cudaemu_component_free of anything else,
 * is a bad free (cudaErrorInvalidValue, a violation). Capture and synchronization as cudaMalloc and
 * cudaFree. */
cudaError_t cudaemu_component_malloc(void** ptr, size_t size);
cudaError_t cudaemu_component_free(void* ptr);

size_t cudaemu_live_allocations(void);           /* device (component included) + pinned host */
size_t cudaemu_live_bytes(void);                 /* their bytes */
size_t cudaemu_live_device_allocations(void);    /* cudaMalloc and cudaemu_component_malloc */
size_t cudaemu_live_device_bytes(void);          /* their bytes (pinned memory excluded) */
size_t cudaemu_live_component_allocations(void); /* cudaemu_component_malloc only */
size_t cudaemu_live_component_bytes(void);       /* their bytes */
size_t cudaemu_live_pinned_allocations(void);    /* cudaMallocHost / cudaHostAlloc only */
size_t cudaemu_live_streams(void);               /* created and not destroyed; default streams excluded */
size_t cudaemu_live_graphs(void);
size_t cudaemu_live_graph_execs(void);
size_t cudaemu_live_events(void); /* created and not destroyed */

/* Copies and memsets refused or faulted for touching memory outside a known allocation, frees of
 * pointers the emulator did not hand out, and (strict mode) frees of memory that queued work still
 * names. */
uint64_t cudaemu_violations(void);
/* Text describing the latest violation (empty when none), copied into buf (always terminated when
 * size > 0). Returns the full length of the text. */
size_t cudaemu_last_violation(char* buf, size_t size);

uint64_t cudaemu_work_executed(void); /* copies, memsets and host functions run so far */
size_t cudaemu_pending_work(void);    /* queued stream items not yet run, destroyed streams' included */

/* Ordered trace of the CUDA calls made (every thread), with their main arguments as integers.
 * The meaning of args[] per API is listed in the component's README; unused slots are 0. */
typedef struct cudaemu_trace_entry {
  const char* api; /* e.g. "cudaMalloc"; static storage */
  uintptr_t args[5];
  cudaError_t result;
  unsigned thread; /* small per-thread number, 1 for the first thread that called */
} cudaemu_trace_entry;

size_t cudaemu_trace_size(void);
/* Returns 1 and fills *out when i < cudaemu_trace_size(), 0 otherwise. */
int cudaemu_trace_get(size_t i, cudaemu_trace_entry* out);
void cudaemu_trace_clear(void);
/* Entries not kept because the trace was full (it keeps the first 1,000,000 after a clear). */
uint64_t cudaemu_trace_dropped(void);

#ifdef __cplusplus
}
#endif

#endif /* CUDAEMU_H_ */
