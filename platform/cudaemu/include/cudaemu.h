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

/* Back to the state at process start: frees every allocation, stream and graph the emulator holds
 * (pending work is dropped, not run), clears injections, counters, the trace and the violation count,
 * and re-applies the CUDAEMU_* environment settings. No other thread may be inside a CUDA call. */
void cudaemu_reset(void);

/* Configuration. Changing the device count or capacity is meant for a quiescent emulator
 * (right after cudaemu_reset()). */
void cudaemu_set_device_count(int count);       /* 0: a driver but no GPU (cudaErrorNoDevice) */
void cudaemu_set_driver_present(int present);   /* 0: every call answers cudaErrorInsufficientDriver */
void cudaemu_set_memory_capacity(size_t bytes); /* per device, for cudaMalloc */

/* The nth call (1 = the next one) of `api` from now on answers `code` and does nothing else, even
 * when `code` is cudaSuccess. Several injections may be pending at once. Returns 0, or -1 when
 * `api` is null/empty or `nth` < 1. */
int cudaemu_fail_call(const char* api, int nth, cudaError_t code);

/* Every call of `api` since the last reset, injected and refused ones included. */
uint64_t cudaemu_call_count(const char* api);

size_t cudaemu_live_allocations(void);        /* device + pinned host allocations */
size_t cudaemu_live_bytes(void);              /* their bytes */
size_t cudaemu_live_device_allocations(void); /* cudaMalloc only */
size_t cudaemu_live_pinned_allocations(void); /* cudaMallocHost / cudaHostAlloc only */
size_t cudaemu_live_streams(void);            /* created and not destroyed; default streams excluded */
size_t cudaemu_live_graphs(void);
size_t cudaemu_live_graph_execs(void);

/* Copies and memsets refused or faulted for touching memory outside a known allocation, plus
 * frees of pointers the emulator did not hand out. */
uint64_t cudaemu_violations(void);
/* Text describing the latest violation (empty when none), copied into buf (always terminated when
 * size > 0). Returns the full length of the text. */
size_t cudaemu_last_violation(char* buf, size_t size);

uint64_t cudaemu_work_executed(void); /* copies, memsets and host functions run so far */
size_t cudaemu_pending_work(void);    /* queued stream items not yet run */

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
