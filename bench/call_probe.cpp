// call_probe MODE CALLS: sets up the smoke engine, then makes CALLS calls. Modes: plain, cuda_graph
// (kestrel_trt_process), floor, library_calls (its floors), session_<path> and session_floor_<path> for
// each path of session_runners.h (a session call and its floor).
// Run under `valgrind --tool=callgrind` with two call counts; the difference of the instruction totals
// divided by the difference of the counts is the cost of one steady-state call, free of set-up and machine
// noise.
//
// call_probe check-floors (emulated device): for every session path, whether one steady-state call of
// the floor makes the CUDA calls of a session call, in the same order, and the same TensorRT calls, as
// the emulator's trace and the stand-in's counters show them. Prints one line per path and exits 1 if
// any differs.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_support.h"
#include "session_runners.h"

#if INFERLET_BENCH_EMULATED && INFERLET_BENCH_STANDIN
#include <cudaemu.h>
#include <trt_standin.h>
#endif

namespace {

using inferlet_bench::EnginePath;
using inferlet_bench::FindSessionPath;
using inferlet_bench::FloorRunner;
using inferlet_bench::kSessionPathCount;
using inferlet_bench::kSessionPaths;
using inferlet_bench::kSmokeBatch;
using inferlet_bench::LibraryRunner;
using inferlet_bench::ReadFile;
using inferlet_bench::SessionFloor;
using inferlet_bench::SessionPath;
using inferlet_bench::SessionRunner;
using inferlet_bench::SmokeConfig;

template <typename Runner>
void Repeat(Runner& runner, long calls) {
  for (long i = 0; i < calls; ++i) runner.Call();
}

#if INFERLET_BENCH_EMULATED && INFERLET_BENCH_STANDIN
// What one call asks of the platform: every CUDA call in order, and TensorRT's calls by name.
struct PlatformCalls {
  std::vector<std::string> cuda;
  std::vector<long> tensorrt;
};

const char* const kTensorRTCalls[] = {  // network runs first
    "network_runs",
    "enqueueV2",
    "enqueueV3",
    "setBindingDimensions",
    "getBindingDimensions",
    "setInputShape",
    "getTensorShape",
    "setTensorAddress",
    "inferShapes",
    "allInputDimensionsSpecified",
    "setOptimizationProfile",
    "setOptimizationProfileAsync"};

template <typename Runner>
PlatformCalls OneCall(Runner& runner) {
  Repeat(runner, 3);  // past the first calls (a capture, a first enqueue)
  std::vector<long> before;
  for (const char* name : kTensorRTCalls) before.push_back(trt_standin_count(name));
  cudaemu_trace_clear();
  runner.Call();
  PlatformCalls calls;
  for (size_t i = 0; i < cudaemu_trace_size(); ++i) {
    cudaemu_trace_entry entry;
    if (cudaemu_trace_get(i, &entry) == 1) calls.cuda.push_back(entry.api);
  }
  for (size_t i = 0; i < before.size(); ++i)
    calls.tensorrt.push_back(trt_standin_count(kTensorRTCalls[i]) - before[i]);
  return calls;
}

std::string Joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : " ") + name;
  return text;
}

int CheckFloors(const std::string& engine) {
  int differing = 0;
  for (size_t p = 0; p < kSessionPathCount; ++p) {
    const SessionPath& path = kSessionPaths[p];
    PlatformCalls session, floor;
    {
      SessionRunner runner(engine, path);
      session = OneCall(runner);
    }
    {
      SessionFloor runner(engine, path);
      floor = OneCall(runner);
    }
    long tensorrt = 0;
    for (size_t i = 1; i < session.tensorrt.size(); ++i) tensorrt += session.tensorrt[i];
    if (session.cuda == floor.cuda && session.tensorrt == floor.tensorrt) {
      std::printf(
          "%s: the floor makes the session's calls (%zu CUDA calls, %ld TensorRT calls, %ld network run)\n",
          path.name, session.cuda.size(), tensorrt, session.tensorrt[0]);
      continue;
    }
    ++differing;
    std::printf("%s: the floor's calls differ\n  session: %s\n  floor:   %s\n", path.name,
                Joined(session.cuda).c_str(), Joined(floor.cuda).c_str());
    for (size_t i = 0; i < session.tensorrt.size(); ++i)
      if (session.tensorrt[i] != floor.tensorrt[i])
        std::printf("  %s: session %ld, floor %ld\n", kTensorRTCalls[i], session.tensorrt[i],
                    floor.tensorrt[i]);
  }
  return differing == 0 ? 0 : 1;
}
#endif

int Usage(const char* program) {
  std::fprintf(stderr,
               "usage: %s plain|cuda_graph|floor|library_calls|session_<path>|session_floor_<path> CALLS\n",
               program);
  std::fprintf(stderr, "       %s check-floors\n", program);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string engine = ReadFile(EnginePath("smoke"));
  if (argc == 2 && std::strcmp(argv[1], "check-floors") == 0) {
#if INFERLET_BENCH_EMULATED && INFERLET_BENCH_STANDIN
    return CheckFloors(engine);
#else
    std::fprintf(stderr, "check-floors needs the emulated device and the stand-in TensorRT\n");
    return 2;
#endif
  }
  if (argc != 3) return Usage(argv[0]);
  const std::string mode = argv[1];
  const long calls = std::strtol(argv[2], nullptr, 10);
  const std::string floor_prefix = "session_floor_", session_prefix = "session_";
  if (mode == "floor" || mode == "library_calls") {
    FloorRunner runner(engine, kSmokeBatch, mode == "library_calls");
    Repeat(runner, calls);
  } else if (mode == "plain" || mode == "cuda_graph") {
    LibraryRunner runner(engine, SmokeConfig(), mode == "cuda_graph", kSmokeBatch);
    Repeat(runner, calls);
  } else if (mode.compare(0, floor_prefix.size(), floor_prefix) == 0 &&
             FindSessionPath(mode.substr(floor_prefix.size()))) {
    SessionFloor runner(engine, *FindSessionPath(mode.substr(floor_prefix.size())));
    Repeat(runner, calls);
  } else if (mode.compare(0, session_prefix.size(), session_prefix) == 0 &&
             FindSessionPath(mode.substr(session_prefix.size()))) {
    SessionRunner runner(engine, *FindSessionPath(mode.substr(session_prefix.size())));
    Repeat(runner, calls);
  } else {
    std::fprintf(stderr, "unknown mode %s\n", argv[1]);
    return Usage(argv[0]);
  }
  return 0;
}
