#!/usr/bin/env bash
# The same benchmarks against the real CUDA runtime (INFERLET_DEVICE=cuda), for a machine with an
# NVIDIA GPU. Builds in out/bench-cuda, runs, and writes the figures into bench/README.md (sections
# "gpu", "sessions-gpu" and "frontends-gpu") and, when $OUT is set (the device machine's result
# folder), into $OUT/gpu-figures.md too, with the raw results in $OUT/bench-results.tar.gz (a lent
# machine hands back few files). The Python call's figures need the package in the build tree, there
# when the tree was configured with the tests and a Python with numpy and nanobind
# (scripts/gpu-check.sh configures it with the tests); inferlet-run's are there by default.
#   bash bench/gpu.sh
# About five minutes on a fresh 16-core machine: most of it is the build.
set -euo pipefail
BENCH_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$BENCH_ROOT/bench/common.sh"

gpu=$(nvidia-smi --query-gpu=name,driver_version --format=csv,noheader | head -1)
build=$BENCH_ROOT/out/bench-cuda
work=$build/bench/results
load=$(bench_machine)

started=$SECONDS
bench_build "$build" cuda
bench_engines "$build" "$work"
bench_run "$build" "$work"

python3 "$BENCH_ROOT/bench/figures.py" --results "$work" --machine "$load; GPU: $gpu" \
  --command "bash bench/gpu.sh" --device "real CUDA runtime on $gpu, stand-in TensorRT 8 and 10" \
  --readme "$BENCH_ROOT/bench/README.md" --section gpu --elapsed $((SECONDS - started))
if [[ -n ${OUT:-} ]]; then
  python3 "$BENCH_ROOT/bench/figures.py" --results "$work" --machine "$load; GPU: $gpu" \
    --command "bash bench/gpu.sh" --device "real CUDA runtime on $gpu, stand-in TensorRT 8 and 10" \
    --markdown "$OUT/gpu-figures.md"
  (cd "$work" && shopt -s nullglob && tar czf "$OUT/bench-results.tar.gz" per_call.*.json load.*.txt memory.*.json \
    python.*.json runner.*.json)
fi
sed -n -e '/<!-- gpu:begin -->/,/<!-- gpu:end -->/p' -e '/<!-- sessions-gpu:begin -->/,/<!-- sessions-gpu:end -->/p' \
  -e '/<!-- frontends-gpu:begin -->/,/<!-- frontends-gpu:end -->/p' "$BENCH_ROOT/bench/README.md"
