// Calls per second of n sessions of one engine, each driven by a thread of its own, against n
// kestrel_trt handles driven the same way. A dynamic-shape engine serves one session per profile: the
// sample two_profiles takes 1 or 2 sessions, four_profiles (bench/networks/, the same network with four
// profiles) 4. Every call is batch 4 from host memory on profile p of session p (each handle on its
// profile 0). The stand-in runs in strict mode meanwhile, so that contexts of one engine queued on one
// profile at once would be counted (concurrent_profile_uses).
#include <benchmark/benchmark.h>
#include <inferlet_sessions.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "sessions_bench.h"

#if INFERLET_BENCH_STANDIN
#include <trt_standin.h>
#endif

namespace inferlet_bench {
namespace {

constexpr int kBatch = 4;
constexpr size_t kFloats = static_cast<size_t>(kBatch) * 4 * 8;  // [4, 4, 8]
constexpr double kSeconds = 0.5;

// Runs calls[i] on thread i, all starting together, until kSeconds have passed; the calls made, and
// the seconds from the start until the last thread finished its last call.
struct ThreadsRun {
  long calls = 0;
  double seconds = 0;
};
ThreadsRun RunThreads(const std::vector<std::function<void()>>& calls) {
  std::atomic<int> ready{0};
  std::atomic<bool> go{false}, stop{false};
  std::atomic<long> made{0};
  std::vector<std::thread> threads;
  for (const std::function<void()>& call : calls) {
    threads.emplace_back([&, call] {
      ready.fetch_add(1);
      while (!go.load()) std::this_thread::yield();
      long n = 0;
      for (; !stop.load(std::memory_order_relaxed); ++n) call();
      made.fetch_add(n);
    });
  }
  while (ready.load() < static_cast<int>(calls.size())) std::this_thread::yield();
  const auto start = std::chrono::steady_clock::now();
  go.store(true);
  std::this_thread::sleep_for(std::chrono::duration<double>(kSeconds));
  stop.store(true);
  for (std::thread& thread : threads) thread.join();
  return {made.load(), std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()};
}

// One session's call: in0, in1, out0 [4, 4, 8] in host memory.
class SessionWorker {
 public:
  SessionWorker(inferlet_engine* engine, int profile)
      : in0_(kFloats, 1.5f), in1_(kFloats, -0.5f), out0_(kFloats) {
    inferlet_session_options options;
    inferlet_session_options_init(&options);
    options.profile = profile;
    Check(inferlet_session_create(engine, &options, &session_), "inferlet_session_create");
    tensors_[0] = Tensor("in0", in0_.data());
    tensors_[1] = Tensor("in1", in1_.data());
    tensors_[2] = Tensor("out0", out0_.data());
  }
  ~SessionWorker() { inferlet_session_release(session_); }
  SessionWorker(const SessionWorker&) = delete;
  SessionWorker& operator=(const SessionWorker&) = delete;

  void Call() { Check(inferlet_session_run(session_, tensors_, 2, tensors_ + 2, 1), "inferlet_session_run"); }

 private:
  static void Check(inferlet_status* status, const char* what) {
    if (!status) return;
    const std::string message = inferlet_status_message(status);
    inferlet_status_release(status);
    Die(std::string(what) + ": " + message);
  }
  static inferlet_tensor Tensor(const char* name, float* data) {
    inferlet_tensor tensor{};
    tensor.name = name;
    tensor.memory = INFERLET_MEMORY_HOST;
    tensor.data = data;
    tensor.bytes = kFloats * sizeof(float);
    tensor.shape.rank = 3;
    tensor.shape.dims[0] = kBatch;
    tensor.shape.dims[1] = 4;
    tensor.shape.dims[2] = 8;
    return tensor;
  }

  inferlet_session* session_ = nullptr;
  std::vector<float> in0_, in1_, out0_;
  inferlet_tensor tensors_[3];
};

struct StandinCounts {
  long network_runs = 0, concurrent_profile_uses = 0;
};
StandinCounts Counts() {
#if INFERLET_BENCH_STANDIN
  return {trt_standin_count("network_runs"), trt_standin_count("concurrent_profile_uses")};
#else
  return {};
#endif
}

// Strict mode for the lifetime of the object, where the stand-in is TensorRT.
class StrictStandin {
 public:
  StrictStandin() {
#if INFERLET_BENCH_STANDIN
    previous_ = trt_standin_strict();
    trt_standin_set_strict(1);
#endif
  }
  ~StrictStandin() {
#if INFERLET_BENCH_STANDIN
    trt_standin_set_strict(previous_);
#endif
  }
  StrictStandin(const StrictStandin&) = delete;
  StrictStandin& operator=(const StrictStandin&) = delete;

 private:
  int previous_ = 0;
};

void Report(benchmark::State& state, const ThreadsRun& run, const StandinCounts& before, int n) {
  const StandinCounts after = Counts();
  state.SetIterationTime(run.seconds);
  state.counters["threads"] = n;
  state.counters["calls"] = static_cast<double>(run.calls);
  state.counters["calls_per_second"] = static_cast<double>(run.calls) / run.seconds;
  state.counters["calls_per_second_per_thread"] = static_cast<double>(run.calls) / run.seconds / n;
#if INFERLET_BENCH_STANDIN
  state.counters["network_runs_per_call"] =
      static_cast<double>(after.network_runs - before.network_runs) / static_cast<double>(run.calls);
  state.counters["concurrent_profile_uses"] =
      static_cast<double>(after.concurrent_profile_uses - before.concurrent_profile_uses);
#else
  (void)after;
  (void)before;
#endif
}

void BM_SessionsThroughput(benchmark::State& state, const std::string& path, int n) {
  const std::string bytes = ReadFile(path);
  StrictStandin strict;
  inferlet_engine* engine = nullptr;
  if (inferlet_status* status = inferlet_engine_load(bytes.data(), bytes.size(), 0, &engine)) {
    state.SkipWithError(inferlet_status_message(status));
    inferlet_status_release(status);
    return;
  }
  {
    std::vector<std::unique_ptr<SessionWorker>> workers;
    std::vector<std::function<void()>> calls;
    for (int p = 0; p < n; ++p) {
      workers.push_back(std::make_unique<SessionWorker>(engine, p));
      SessionWorker* worker = workers.back().get();
      for (int i = 0; i < 10; ++i) worker->Call();
      calls.push_back([worker] { worker->Call(); });
    }
    for (auto _ : state) {
      const StandinCounts before = Counts();
      Report(state, RunThreads(calls), before, n);
    }
  }
  inferlet_engine_release(engine);
}

void BM_HandlesThroughput(benchmark::State& state, const std::string& path, const ModelConfig& config,
                          int n) {
  const std::string bytes = ReadFile(path);
  StrictStandin strict;
  struct Worker {
    Worker(const std::string& bytes, const ModelConfig& config)
        : handle(inferlet_test::NewHandle(bytes, config, false)), inputs(config, 0, kBatch, 1) {}
    inferlet_test::Handle handle;
    inferlet_test::CallInputs inputs;
    void* outputs[1] = {nullptr};
    int output_lens[1] = {0};
  };
  std::vector<std::unique_ptr<Worker>> workers;
  std::vector<std::function<void()>> calls;
  for (int i = 0; i < n; ++i) {
    workers.push_back(std::make_unique<Worker>(bytes, config));
    Worker* worker = workers.back().get();
    if (!worker->handle) {
      state.SkipWithError("kestrel_trt_new failed");
      return;
    }
    calls.push_back([worker] {
      if (kestrel_trt_process(worker->handle.get(), 0, worker->inputs.pointers(), worker->inputs.count(),
                              kBatch, worker->outputs, worker->output_lens) != 0)
        Die("kestrel_trt_process failed");
    });
    for (int k = 0; k < 10; ++k) calls.back()();
  }
  for (auto _ : state) {
    const StandinCounts before = Counts();
    Report(state, RunThreads(calls), before, n);
  }
}

// The two_profiles network's configuration with its profiles' largest shapes, for profiles profiles
// of batch up to 16 (the first of two_profiles takes 4).
ModelConfig ProfilesConfig(int profiles) {
  if (profiles == 2) return inferlet_test::TwoProfilesConfig();
  ModelConfig config;
  for (int p = 0; p < profiles; ++p) {
    config.in_shapes.push_back({{16, 4, 8}, {16, 4, 8}});
    config.in_item_sizes.push_back({4, 4});
    config.out_shapes.push_back({{16, 4, 8}});
    config.out_item_sizes.push_back({4});
  }
  return config;
}

}  // namespace

void RegisterThroughputBenchmarks(const std::string& engines_dir) {
  const struct {
    const char* engine;
    std::string path;
    int profiles;
    std::vector<int> sessions;
  } rows[] = {{"two_profiles", EnginePath("two_profiles"), 2, {1, 2}},
              {"four_profiles", BenchEngine(engines_dir, "four_profiles"), 4, {4}}};
  for (const auto& row : rows) {
    if (row.path.empty()) continue;
    for (int n : row.sessions) {
      const std::string suffix = std::string(row.engine) + "/" + std::to_string(n);
      benchmark::RegisterBenchmark(("throughput/sessions/" + suffix).c_str(), BM_SessionsThroughput, row.path,
                                   n)
          ->Iterations(1)
          ->Repetitions(1)  // the timing runs repeat it; a repetition is already 0.5 s of calls
          ->UseManualTime()
          ->Unit(benchmark::kMillisecond);
      benchmark::RegisterBenchmark(("throughput/handles/" + suffix).c_str(), BM_HandlesThroughput, row.path,
                                   ProfilesConfig(row.profiles), n)
          ->Iterations(1)
          ->Repetitions(1)
          ->UseManualTime()
          ->Unit(benchmark::kMillisecond);
    }
  }
}

}  // namespace inferlet_bench
