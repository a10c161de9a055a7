#!/usr/bin/env bash
# The serving deployment's requests per second and latency (bench/serve_bench.py) on the emulated device,
# written into bench/README.md's serve-emulated section.
#   bash bench/serve.sh [BUILD_DIR]    (default: out/emulated, built if needed; Ray Serve installed into
#                                       out/venv if it is not there)
set -euo pipefail
BENCH_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$BENCH_ROOT/bench/common.sh"
source "$BENCH_ROOT/bench/frontends.sh"

build=$(realpath -m "${1:-$BENCH_ROOT/out/emulated}")
bench_build "$build" emulated
python=$BENCH_ROOT/out/venv/bin/python
"$python" -c "import ray.serve" 2>/dev/null || "$python" -m pip install -q "ray[serve]"
INFERLET_TEST_ENGINE_DIR=$build/engines bench_with_package "$build" "$python" \
  "$BENCH_ROOT/bench/serve_bench.py" --readme "$BENCH_ROOT/bench/README.md"
