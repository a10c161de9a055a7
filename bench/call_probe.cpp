// call_probe plain|cuda_graph|floor|library_calls CALLS: sets up the smoke engine, then makes CALLS calls.
// Run under `valgrind --tool=callgrind` with two call counts; the difference of the instruction totals
// divided by the difference of the counts is the cost of one steady-state call, free of set-up and machine
// noise.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench_support.h"

int main(int argc, char** argv) {
  using namespace inferlet_bench;
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s plain|cuda_graph|floor|library_calls CALLS\n", argv[0]);
    return 2;
  }
  const std::string mode = argv[1];
  const long calls = std::strtol(argv[2], nullptr, 10);
  const std::string engine = ReadFile(EnginePath("smoke"));
  if (mode == "floor" || mode == "library_calls") {
    FloorRunner runner(engine, kSmokeBatch, mode == "library_calls");
    for (long i = 0; i < calls; ++i) runner.Call();
  } else if (mode == "plain" || mode == "cuda_graph") {
    LibraryRunner runner(engine, SmokeConfig(), mode == "cuda_graph", kSmokeBatch);
    for (long i = 0; i < calls; ++i) runner.Call();
  } else {
    std::fprintf(stderr, "unknown mode %s\n", argv[1]);
    return 2;
  }
  return 0;
}
