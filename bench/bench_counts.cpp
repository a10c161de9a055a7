#include "bench_counts.h"

#include <cuda_runtime_api.h>

#include "heap_hooks.h"

#if INFERLET_BENCH_EMULATED
#include <cudaemu.h>
#endif
#if INFERLET_BENCH_STANDIN
#include <trt_standin.h>
#endif

namespace inferlet_bench {
namespace {

constexpr int kCountedCalls = 1000;

}  // namespace

void ClearEmulatorTrace() {
#if INFERLET_BENCH_EMULATED
  cudaemu_trace_clear();
#endif
}

void CountPerCall(benchmark::State& state, const std::function<void()>& call) {
  ClearEmulatorTrace();
#if INFERLET_BENCH_STANDIN
  const long runs0 = trt_standin_count("network_runs");
#endif
#if INFERLET_BENCH_EMULATED
  const uint64_t syncs0 = cudaemu_call_count("cudaStreamSynchronize");
  const uint64_t launches0 = cudaemu_call_count("cudaGraphLaunch");
#endif
  heap_hooks_clear_allocations();
  heap_hooks_count_allocations(1);
  for (int i = 0; i < kCountedCalls; ++i) call();
  heap_hooks_count_allocations(0);
  state.counters["heap_allocs_per_call"] = static_cast<double>(heap_hooks_allocations()) / kCountedCalls;
#if INFERLET_BENCH_STANDIN
  state.counters["network_runs_per_call"] =
      static_cast<double>(trt_standin_count("network_runs") - runs0) / kCountedCalls;
#endif
#if INFERLET_BENCH_EMULATED
  state.counters["syncs_per_call"] =
      static_cast<double>(cudaemu_call_count("cudaStreamSynchronize") - syncs0) / kCountedCalls;
  state.counters["graph_launches_per_call"] =
      static_cast<double>(cudaemu_call_count("cudaGraphLaunch") - launches0) / kCountedCalls;
#endif
}

double DeviceBytesInUse() {
#if INFERLET_BENCH_EMULATED
  return static_cast<double>(cudaemu_live_device_bytes());
#else
  size_t free = 0, total = 0;
  return cudaMemGetInfo(&free, &total) == cudaSuccess ? static_cast<double>(total - free) : -1;
#endif
}

double TensorRTDeviceBytes() {
#if INFERLET_BENCH_EMULATED
  return static_cast<double>(cudaemu_live_component_bytes());
#else
  return -1;
#endif
}

}  // namespace inferlet_bench
