// What the benchmark binaries count beside time: heap allocations, network runs, synchronizations and
// graph launches per call (outside the timed loop), and the device memory in use. Linked with the heap
// hooks (heap_hooks.c) only.
#ifndef INFERLET_BENCH_BENCH_COUNTS_H_
#define INFERLET_BENCH_BENCH_COUNTS_H_

#include <benchmark/benchmark.h>

#include <functional>

namespace inferlet_bench {

// The emulated device records every CUDA call in a trace that grows up to a million entries. Emptying
// it keeps its storage, so that steady-state figures show the library and not the trace's growth.
void ClearEmulatorTrace();

// Per-call counters of state over 1 000 calls in steady state: heap_allocs_per_call,
// network_runs_per_call (stand-in TensorRT), syncs_per_call and graph_launches_per_call (emulated
// device).
void CountPerCall(benchmark::State& state, const std::function<void()>& call);

// Device memory in use on the current device: the emulator's count, or what the driver says is gone.
double DeviceBytesInUse();
// The part of it TensorRT holds (weights, activations); -1 where only the driver's figure is known.
double TensorRTDeviceBytes();

}  // namespace inferlet_bench

#endif  // INFERLET_BENCH_BENCH_COUNTS_H_
