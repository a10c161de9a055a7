#!/usr/bin/env bash
# Runs the benchmarks on the emulated CUDA device and writes their figures into bench/README.md.
#   bash bench/run.sh [BUILD_DIR]      (default: out/emulated, the emulated preset's build)
# Prints a line per step (and the build's progress); the figures land in bench/README.md.
set -euo pipefail
BENCH_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$BENCH_ROOT/bench/common.sh"

build=$(realpath -m "${1:-$BENCH_ROOT/out/emulated}")
work=$build/bench/results
load=$(bench_machine)

started=$SECONDS
bench_build "$build" emulated
bench_engines "$build" "$work"
echo "running the benchmarks (log: $work/bench.log)"
bench_run "$build" "$work"

echo "counting instructions with callgrind"
bench_callgrind "$build" "$work"
bench_python_callgrind "$build" "$work"

python3 "$BENCH_ROOT/bench/figures.py" --results "$work" --machine "$load" \
  --command "bash bench/run.sh${1:+ $1}" --device "emulated CUDA device (platform/cudaemu), stand-in TensorRT 8 and 10" \
  --readme "$BENCH_ROOT/bench/README.md" --section emulated --elapsed $((SECONDS - started))
echo "figures written to bench/README.md ($((SECONDS - started)) s)"
