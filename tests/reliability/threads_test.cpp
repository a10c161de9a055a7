// Eight threads, each with its own handle on one of the sample engines, calling at once: each thread's
// results must be those of the same calls made on one thread, and every log line must be whole.
#include <cuda_runtime_api.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <trt_standin.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace inferlet_test {
namespace {

constexpr int kThreads = 8;
constexpr int kCallsPerThread = 500;
constexpr int kRefusedEvery = 16;  // every 16th call is refused on purpose, to make threads log at once

const char* const kEngines[] = {"smoke", "two_profiles", "mixed_rank", "mlp"};

// Thread t runs engine t % 4, with CUDA graphs for t >= 4, so every engine runs both ways.
struct Worker {
  SampleModel model;
  bool use_cuda_graph = false;
};

std::vector<Worker> MakeWorkers() {
  std::vector<Worker> workers;
  for (int t = 0; t < kThreads; ++t) workers.push_back({LoadSample(kEngines[t % 4]), t >= 4});
  return workers;
}

struct CallPlan {
  int profile;
  int batch_size;
  uint32_t seed;
  int input_num_delta;
  std::string refusal;  // the line the library must log, empty for a call that must succeed
};

CallPlan PlanCall(const ModelConfig& config, int thread, int i) {
  CallPlan plan;
  plan.profile = i % ProfileCount(config);
  const int max_batch = MaxBatch(config, plan.profile);
  plan.batch_size = 1 + (i * 7 + thread) % max_batch;
  plan.seed = static_cast<uint32_t>(thread * 100003 + i);
  plan.input_num_delta = 0;
  if (i % kRefusedEvery == kRefusedEvery - 1) {
    const int n_in = static_cast<int>(config.in_shapes[static_cast<size_t>(plan.profile)].size());
    if ((i / kRefusedEvery) % 2 == 0) {
      plan.batch_size = max_batch + 1 + thread;
      plan.refusal = "[inferlet][E] input batch_size " + std::to_string(plan.batch_size) +
                     " must lte graph config input batch_size " + std::to_string(max_batch);
    } else {
      plan.input_num_delta = 1;
      plan.refusal = "[inferlet][E] input num " + std::to_string(n_in + 1) +
                     " not eq graph config input num " + std::to_string(n_in);
    }
  }
  return plan;
}

struct CallRecord {
  int code;
  uint64_t fingerprint;
  bool operator==(const CallRecord& other) const {
    return code == other.code && fingerprint == other.fingerprint;
  }
};

void PrintTo(const CallRecord& record, std::ostream* out) {
  *out << "{code " << record.code << ", outputs " << record.fingerprint << "}";
}

std::vector<CallRecord> RunCalls(trt_engine_core* handle, const ModelConfig& config, int thread) {
  std::vector<CallRecord> records;
  records.reserve(kCallsPerThread);
  for (int i = 0; i < kCallsPerThread; ++i) {
    const CallPlan plan = PlanCall(config, thread, i);
    const CallResult result =
        Call(handle, config, plan.profile, plan.batch_size, plan.seed, plan.input_num_delta);
    records.push_back({result.code, Fingerprint(result)});
  }
  return records;
}

std::vector<std::string> ExpectedRefusals() {
  const std::vector<Worker> workers = MakeWorkers();
  std::vector<std::string> lines;
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kCallsPerThread; ++i) {
      CallPlan plan = PlanCall(workers[static_cast<size_t>(t)].model.config, t, i);
      if (!plan.refusal.empty()) lines.push_back(plan.refusal);
    }
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

size_t CountOccurrences(const std::string& text, const std::string& needle) {
  size_t count = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
  return count;
}

class ThreadsTest : public FreshPlatformTest {};

TEST_F(ThreadsTest, ConcurrentCallsMatchOneThreadAndLogWholeLines) {
  const std::vector<Worker> workers = MakeWorkers();

  // The same calls, one thread after the other.
  std::vector<std::vector<CallRecord>> expected(kThreads);
  {
    StdoutCapture quiet;
    for (int t = 0; t < kThreads; ++t) {
      const Worker& worker = workers[static_cast<size_t>(t)];
      Handle handle = NewHandle(worker.model, worker.use_cuda_graph);
      ASSERT_TRUE(handle) << worker.model.name;
      expected[static_cast<size_t>(t)] = RunCalls(handle.get(), worker.model.config, t);
    }
  }
  for (int t = 0; t < kThreads; ++t) {
    const std::vector<CallRecord>& records = expected[static_cast<size_t>(t)];
    const auto successes =
        std::count_if(records.begin(), records.end(), [](const CallRecord& r) { return r.code == 0; });
    ASSERT_EQ(successes, kCallsPerThread - kCallsPerThread / kRefusedEvery) << "thread " << t;
  }

  std::vector<Handle> handles;
  {
    StdoutCapture quiet;
    for (const Worker& worker : workers) handles.push_back(NewHandle(worker.model, worker.use_cuda_graph));
  }
  for (const Handle& handle : handles) ASSERT_TRUE(handle);

  std::vector<std::vector<CallRecord>> actual(kThreads);
  StdoutCapture capture;
  {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        const size_t slot = static_cast<size_t>(t);
        actual[slot] = RunCalls(handles[slot].get(), workers[slot].model.config, t);
      });
    }
    for (std::thread& thread : threads) thread.join();
  }
  std::vector<std::string> lines = SplitLines(capture.Stop());

  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(actual[static_cast<size_t>(t)], expected[static_cast<size_t>(t)])
        << "thread " << t << " on " << workers[static_cast<size_t>(t)].model.name;
  }
  // Whole lines only: each refusal appears once, exactly as written, and nothing else is printed.
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines, ExpectedRefusals());

  {
    StdoutCapture quiet;
    handles.clear();
  }
  ExpectDeviceClean();
}

// Construction zero-fills with cudaMemset on the legacy stream, which CUDA refuses while any blocking
// stream of the device is capturing: a handle built while another thread captures a graph would end
// the process (see the next case). Handles created and deleted concurrently therefore run without
// graphs here; the calls case above mixes graphs with handles built beforehand.
TEST_F(ThreadsTest, ConcurrentCreateCallDeleteReleasesEverything) {
  constexpr int kCyclesPerThread = 20;
  const std::vector<Worker> workers = MakeWorkers();
  const long engines_before = trt_standin_count("live_engines");
  const long contexts_before = trt_standin_count("live_contexts");

  std::vector<int> failures(kThreads, 0);
  StdoutCapture capture;
  {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        const Worker& worker = workers[static_cast<size_t>(t)];
        for (int cycle = 0; cycle < kCyclesPerThread; ++cycle) {
          Handle handle = NewHandle(worker.model, false);
          if (!handle ||
              Call(handle.get(), worker.model.config, 0, MaxBatch(worker.model.config, 0), cycle).code != 0) {
            ++failures[static_cast<size_t>(t)];
          }
        }
      });
    }
    for (std::thread& thread : threads) thread.join();
  }
  const std::string log = capture.Stop();

  EXPECT_THAT(failures, testing::Each(0));
  // The engine description is printed piecewise with printf, so only the logger's messages are
  // counted here, not lines.
  const size_t cycles = static_cast<size_t>(kThreads * kCyclesPerThread);
  EXPECT_EQ(CountOccurrences(log, "[inferlet][I] closedestroy ok\n"), cycles);
  // Device selection is the one error-severity message of a good construction.
  EXPECT_EQ(CountOccurrences(log, "[inferlet][E] setDevice 0ok\n"), cycles);
  EXPECT_EQ(CountOccurrences(log, "[inferlet][E] "), cycles);
  EXPECT_EQ(trt_standin_count("live_engines"), engines_before);
  EXPECT_EQ(trt_standin_count("live_contexts"), contexts_before);
  ExpectDeviceClean();
}

TEST_F(ThreadsTest, ConstructionWhileAStreamCapturesEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const SampleModel model = LoadSample("mlp");
  EXPECT_EXIT(
      {
        std::fflush(stdout);
        dup2(STDERR_FILENO, STDOUT_FILENO);
        cudaStream_t capturing = nullptr;
        if (cudaStreamCreate(&capturing) != cudaSuccess ||
            cudaStreamBeginCapture(capturing, cudaStreamCaptureModeRelaxed) != cudaSuccess) {
          std::exit(100);
        }
        NewHandle(model, true);
        std::exit(0);
      },
      testing::ExitedWithCode(cudaErrorStreamCaptureImplicit & 0xFF),
      testing::AllOf(testing::HasSubstr(std::string("GPUassert: ") +
                                        cudaGetErrorString(cudaErrorStreamCaptureImplicit) + " "),
                     testing::ContainsRegex("engine_infer\\.cpp [0-9]+")));
}

}  // namespace
}  // namespace inferlet_test
