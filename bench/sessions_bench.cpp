// Per call: a session call on each path against its floor. Memory: n sessions of one engine against n
// kestrel_trt handles of it.
#include "sessions_bench.h"

#include <benchmark/benchmark.h>
#include <inferlet_sessions.h>
#include <sys/stat.h>

#include <memory>
#include <vector>

#include "bench_counts.h"
#include "bench_support.h"
#include "session_handles.h"
#include "session_runners.h"

namespace inferlet_bench {
namespace {

template <typename Runner>
void BM_SessionCall(benchmark::State& state, const SessionPath* path) {
  const std::string engine = ReadFile(EnginePath("smoke"));
  Runner runner(engine, *path);
  for (int i = 0; i < 10; ++i) runner.Call();
  for (auto _ : state) runner.Call();
  CountPerCall(state, [&] { runner.Call(); });
  state.SetItemsProcessed(state.iterations() * kSmokeBatch);
}

// A failure of the sessions interface as Google Benchmark's error; true when there was one.
bool Failed(benchmark::State& state, inferlet_status* status, const char* what) {
  if (!status) return false;
  state.SkipWithError((std::string(what) + ": " + inferlet_status_message(status)).c_str());
  inferlet_status_release(status);
  return true;
}

// One engine with n sessions on its one profile (a static-shape engine takes any number) against n
// handles, each of which deserializes the engine again. The handles go before the engine is loaded,
// so each figure is the device memory its own objects hold.
void BM_SessionsMemory(benchmark::State& state, const std::string& path, const ModelConfig& config, int n) {
  const std::string bytes = ReadFile(path);
  for (auto _ : state) {
    double before = DeviceBytesInUse();
    {
      std::vector<inferlet_test::Handle> handles;
      for (int i = 0; i < n; ++i) {
        handles.push_back(inferlet_test::NewHandle(bytes, config, false));
        if (!handles.back()) {
          state.SkipWithError("kestrel_trt_new failed");
          return;
        }
      }
      state.counters["handles_device_bytes"] = DeviceBytesInUse() - before;
    }

    before = DeviceBytesInUse();
    const double tensorrt_before = TensorRTDeviceBytes();
    inferlet_engine* loaded = nullptr;
    if (Failed(state, inferlet_engine_load(bytes.data(), bytes.size(), 0, &loaded), "inferlet_engine_load"))
      return;
    inferlet_test::EngineHandle engine(loaded);
    const double engine_only = DeviceBytesInUse() - before;
    std::vector<inferlet_test::SessionHandle> sessions;
    size_t reported = 0, context_bytes = 0;
    if (Failed(state, inferlet_engine_device_memory(engine.get(), &reported, &context_bytes),
               "inferlet_engine_device_memory"))
      return;
    for (int i = 0; i < n; ++i) {
      inferlet_session* made = nullptr;
      if (Failed(state, inferlet_session_create(engine.get(), nullptr, &made), "inferlet_session_create"))
        return;
      sessions.emplace_back(made);
      size_t held = 0;
      if (Failed(state, inferlet_session_device_memory(made, &held), "inferlet_session_device_memory"))
        return;
      reported += held;
    }
    const double total = DeviceBytesInUse() - before;
    state.counters["sessions_device_bytes"] = total;
    state.counters["engine_device_bytes"] = engine_only;
    state.counters["device_bytes_per_session"] = (total - engine_only) / n;
    state.counters["reported_device_bytes"] = static_cast<double>(reported);
    if (tensorrt_before >= 0)
      state.counters["sessions_tensorrt_bytes"] = TensorRTDeviceBytes() - tensorrt_before;
    state.counters["sessions"] = n;
  }
}

}  // namespace

std::string BenchEngine(const std::string& engines_dir, const std::string& name) {
  if (engines_dir.empty()) return "";
  const std::string path = engines_dir + "/" + name + "-trt" + std::to_string(NV_TENSORRT_MAJOR) + ".engine";
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? path : "";
}

void RegisterSessionBenchmarks(const std::string& engines_dir) {
  for (size_t p = 0; p < kSessionPathCount; ++p) {
    const SessionPath* path = &kSessionPaths[p];
    benchmark::RegisterBenchmark((std::string("session/") + path->name).c_str(),
                                 BM_SessionCall<SessionRunner>, path)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark((std::string("session_floor/") + path->name).c_str(),
                                 BM_SessionCall<SessionFloor>, path)
        ->Unit(benchmark::kMicrosecond);
  }
  // The engines of the handles table, built with static shapes so that one profile serves them all.
  const int k = 2048;  // 16 MiB of float weights: k * k * 4 bytes
  const struct {
    const char* label;
    const char* engine;
    ModelConfig config;
  } engines[] = {{"mlp", "mlp_static", inferlet_test::MlpConfig()},
                 {"16MiB", "weights-16MiB-static", SquareDenseConfig(k)}};
  for (const auto& engine : engines) {
    const std::string path = BenchEngine(engines_dir, engine.engine);
    if (path.empty()) continue;
    for (int n : {1, 2, 4}) {
      benchmark::RegisterBenchmark(
          ("sessions_memory/" + std::string(engine.label) + "/" + std::to_string(n)).c_str(),
          BM_SessionsMemory, path, engine.config, n)
          ->Iterations(1);
    }
  }
  RegisterThroughputBenchmarks(engines_dir);
}

}  // namespace inferlet_bench
