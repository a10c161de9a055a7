// Costs of the library on one machine (Google Benchmark): per call against the floor, heap
// allocations per call, construction against engine size, and memory over many graph-path calls.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bench_counts.h"
#include "bench_support.h"
#include "heap_hooks.h"
#include "sessions_bench.h"

#if INFERLET_BENCH_EMULATED
#include <cudaemu.h>
#endif

namespace inferlet_bench {
namespace {

constexpr double kMiB = 1024.0 * 1024.0;

void BM_Process(benchmark::State& state, bool cuda_graph) {
  const std::string engine = ReadFile(EnginePath("smoke"));
  LibraryRunner runner(engine, SmokeConfig(), cuda_graph, kSmokeBatch);
  for (int i = 0; i < 10; ++i) runner.Call();
  for (auto _ : state) runner.Call();
  CountPerCall(state, [&] { runner.Call(); });
  state.SetItemsProcessed(state.iterations() * kSmokeBatch);
}

void BM_Floor(benchmark::State& state, bool same_calls_as_library) {
  const std::string engine = ReadFile(EnginePath("smoke"));
  FloorRunner runner(engine, kSmokeBatch, same_calls_as_library);
  for (int i = 0; i < 10; ++i) runner.Call();
  for (auto _ : state) runner.Call();
  CountPerCall(state, [&] { runner.Call(); });
  state.SetItemsProcessed(state.iterations() * kSmokeBatch);
}

// kestrel_trt_new on an engine of about `mib` MiB of dense weights. Peak memory is measured per
// construction (resident set from VmHWM, and the C heap through the hooks); an engine copy is one
// memcpy/memmove moving at least the weights' bytes.
void BM_Construct(benchmark::State& state, const std::string& path, int mib) {
  const std::string engine = ReadFile(path);
  const int k = static_cast<int>(std::lround(std::sqrt(mib * kMiB / 4)));
  const size_t weight_bytes = static_cast<size_t>(k) * k * 4;
  const ModelConfig config = SquareDenseConfig(k);
  double peak_rss = 0, peak_heap = 0, copies = 0;
  bool rss_ok = true;
  for (auto _ : state) {
    state.PauseTiming();
    ModelConfig c = config;
    rss_ok = ResetPeakResident() && rss_ok;
    const size_t rss0 = ResidentBytes();
    heap_hooks_reset_peak();
    const size_t heap0 = heap_hooks_live_bytes();
    heap_hooks_count_copies_from(weight_bytes);
    state.ResumeTiming();

    trt_engine_core* handle = nullptr;
    const int rc = kestrel_trt_new(engine.data(), static_cast<int>(engine.size()), 0, false, c.in_shapes,
                                   c.in_item_sizes, c.out_shapes, c.out_item_sizes, &handle);

    state.PauseTiming();
    if (rc != 0) {
      state.SkipWithError("kestrel_trt_new failed");
      break;
    }
    peak_rss = std::max(peak_rss, static_cast<double>(PeakResidentBytes()) - static_cast<double>(rss0));
    peak_heap =
        std::max(peak_heap, static_cast<double>(heap_hooks_peak_bytes()) - static_cast<double>(heap0));
    copies = std::max(copies, static_cast<double>(heap_hooks_large_copies()));
    heap_hooks_count_copies_from(0);
    kestrel_trt_delete(handle);
    state.ResumeTiming();
  }
  state.counters["engine_MiB"] = static_cast<double>(engine.size()) / kMiB;
  state.counters["peak_rss_growth_MiB"] = rss_ok ? peak_rss / kMiB : -1;
  state.counters["peak_heap_growth_MiB"] = peak_heap / kMiB;
  state.counters["engine_copies_memcpy"] = copies;
  state.counters["engine_copies_rss"] = rss_ok ? peak_rss / static_cast<double>(engine.size()) : -1;
}

struct MemorySnapshot {
  double rss_mib, heap_mib;
  double live_graphs = 0, live_graph_execs = 0, device_allocations = 0, device_mib = 0;
};

MemorySnapshot Snapshot() {
  MemorySnapshot s{static_cast<double>(ResidentBytes()) / kMiB,
                   static_cast<double>(heap_hooks_live_bytes()) / kMiB};
#if INFERLET_BENCH_EMULATED
  s.live_graphs = static_cast<double>(cudaemu_live_graphs());
  s.live_graph_execs = static_cast<double>(cudaemu_live_graph_execs());
  s.device_allocations = static_cast<double>(cudaemu_live_device_allocations());
  s.device_mib = static_cast<double>(cudaemu_live_bytes()) / kMiB;
#endif
  return s;
}

// Memory after 1 000 and after 100 000 calls on one handle.
void BM_CallMemory(benchmark::State& state, bool cuda_graph) {
  const std::string engine = ReadFile(EnginePath("smoke"));
  for (auto _ : state) {
    LibraryRunner runner(engine, SmokeConfig(), cuda_graph, kSmokeBatch);
    auto calls = [&](int from, int to) {
      for (int i = from; i < to; ++i) {
        if (i % 1000 == 0) ClearEmulatorTrace();
        runner.Call();
      }
    };
    calls(0, 1000);
    const MemorySnapshot a = Snapshot();
    calls(1000, 100000);
    const MemorySnapshot b = Snapshot();
    state.counters["rss_MiB_1k"] = a.rss_mib;
    state.counters["rss_MiB_100k"] = b.rss_mib;
    state.counters["heap_MiB_1k"] = a.heap_mib;
    state.counters["heap_MiB_100k"] = b.heap_mib;
#if INFERLET_BENCH_EMULATED
    state.counters["live_graphs_1k"] = a.live_graphs;
    state.counters["live_graphs_100k"] = b.live_graphs;
    state.counters["live_graph_execs_1k"] = a.live_graph_execs;
    state.counters["live_graph_execs_100k"] = b.live_graph_execs;
    state.counters["device_allocs_1k"] = a.device_allocations;
    state.counters["device_allocs_100k"] = b.device_allocations;
#endif
  }
}

// Device memory of n handles of one engine, per handle: every handle deserializes its own engine and
// holds its own execution context besides the library's buffers.
void BM_HandleMemory(benchmark::State& state, const std::string& path, const ModelConfig& config, int n) {
  const std::string engine = ReadFile(path);
  for (auto _ : state) {
    const double before = DeviceBytesInUse();
    const double tensorrt_before = TensorRTDeviceBytes();
    std::vector<inferlet_test::Handle> handles;
    for (int i = 0; i < n; ++i) {
      handles.push_back(inferlet_test::NewHandle(engine, config, false));
      if (!handles.back()) {
        state.SkipWithError("kestrel_trt_new failed");
        return;
      }
    }
    state.counters["device_bytes_per_handle"] = (DeviceBytesInUse() - before) / n;
    if (tensorrt_before >=
        0) {  // TensorRT's own device memory (weights, activations) against the library's buffers
      const double tensorrt = TensorRTDeviceBytes() - tensorrt_before;
      state.counters["tensorrt_bytes_per_handle"] = tensorrt / n;
      state.counters["buffer_bytes_per_handle"] = (DeviceBytesInUse() - before - tensorrt) / n;
    }
    state.counters["handles"] = n;
  }
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

}  // namespace

// Besides Google Benchmark's flags: --engines-dir=DIR, where bench/run.sh put the engines it compiles:
// each weights-<N>MiB-trt<major>.engine found adds a construction benchmark, and the sessions
// benchmarks find theirs there too (sessions_bench.h).
int Main(int argc, char** argv) {
  // A fixed threshold stops glibc from raising it after large frees and keeping freed blocks
  // resident, so every large block is mapped when allocated and unmapped when freed: the resident-set
  // peak of a construction then shows what it really touched.
  mallopt(M_MMAP_THRESHOLD, 256 * 1024);
  std::string engines_dir;
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::strncmp(argv[i], "--engines-dir=", 14) == 0)
      engines_dir = argv[i] + 14;
    else
      args.push_back(argv[i]);
  }
  benchmark::RegisterBenchmark("process/plain", BM_Process, false)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("process/cuda_graph", BM_Process, true)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("floor", BM_Floor, false)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("floor/library_calls", BM_Floor, true)->Unit(benchmark::kMicrosecond);
  for (int mib : {1, 16, 256}) {
    const std::string path = engines_dir + "/weights-" + std::to_string(mib) + "MiB-trt" +
                             std::to_string(NV_TENSORRT_MAJOR) + ".engine";
    if (engines_dir.empty() || !Exists(path)) continue;
    benchmark::RegisterBenchmark(("construct/" + std::to_string(mib) + "MiB").c_str(), BM_Construct, path,
                                 mib)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(mib >= 256  ? 3
                     : mib >= 16 ? 10
                                 : 30);
  }
  for (int n : {1, 4}) {
    benchmark::RegisterBenchmark(("handles/mlp/" + std::to_string(n)).c_str(), BM_HandleMemory,
                                 EnginePath("mlp"), inferlet_test::MlpConfig(), n)
        ->Iterations(1);
    const std::string weights =
        engines_dir + "/weights-16MiB-trt" + std::to_string(NV_TENSORRT_MAJOR) + ".engine";
    if (!engines_dir.empty() && Exists(weights)) {
      const int k = static_cast<int>(std::lround(std::sqrt(16 * kMiB / 4)));
      benchmark::RegisterBenchmark(("handles/16MiB/" + std::to_string(n)).c_str(), BM_HandleMemory, weights,
                                   SquareDenseConfig(k), n)
          ->Iterations(1);
    }
  }
  benchmark::RegisterBenchmark("memory/cuda_graph", BM_CallMemory, true)
      ->Iterations(1)
      ->Unit(benchmark::kSecond);
  benchmark::RegisterBenchmark("memory/plain", BM_CallMemory, false)->Iterations(1)->Unit(benchmark::kSecond);
  RegisterSessionBenchmarks(engines_dir);

  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

}  // namespace inferlet_bench

int main(int argc, char** argv) { return inferlet_bench::Main(argc, argv); }
