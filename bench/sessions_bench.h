// The sessions interface's benchmarks (include/inferlet_sessions.h), registered beside the legacy
// interface's in inferlet_bench. Engines other than the samples come from engines_dir, where
// bench/run.sh compiles them (bench_engines in common.sh); a benchmark whose engine is missing is not
// registered.
//   session/<path>, session_floor/<path>      one call on the smoke engine, and its floor (session_runners.h)
//   sessions_memory/<engine>/<n>              device memory of n sessions of one engine against n handles
//   throughput/<sessions|handles>/<engine>/<n> calls per second from n threads
#ifndef INFERLET_BENCH_SESSIONS_BENCH_H_
#define INFERLET_BENCH_SESSIONS_BENCH_H_

#include <string>

namespace inferlet_bench {

void RegisterSessionBenchmarks(const std::string& engines_dir);  // per call and memory
void RegisterThroughputBenchmarks(const std::string& engines_dir);

// engines_dir/<name>-trt<major>.engine when it exists; empty otherwise.
std::string BenchEngine(const std::string& engines_dir, const std::string& name);

}  // namespace inferlet_bench

#endif  // INFERLET_BENCH_SESSIONS_BENCH_H_
