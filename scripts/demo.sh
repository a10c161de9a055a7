#!/usr/bin/env bash
# First run on a fresh clone: installs what the build needs, configures and builds with the default
# preset, then runs the sample smoke engine through libinferlet8.so with inferlet-run -- on the GPU
# when the machine has one, on the emulated CUDA device otherwise. The report at the end shows the
# engine, the configuration derived from it, checksums of the outputs and the latency table.
# Extra arguments go to inferlet-run, e.g. `bash scripts/demo.sh --cuda-graph --iterations 1000`.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

step() { printf '\n==> %s\n' "$*"; }

step "Build dependencies (scripts/install-deps.sh)"
bash scripts/install-deps.sh

step "Configure: cmake --preset default"
cmake --preset default

step "Build the deliverables, inferlet-run and the sample engines"
cmake --build out/default -j"$(nproc)" --target inferlet-run sample_engines

device=$(sed -n 's/^INFERLET_DEVICE_RESOLVED:INTERNAL=//p' out/default/CMakeCache.txt)
step "Run: inferlet-run on out/default/engines/smoke-trt8.engine (CUDA device: ${device:-unknown})"
out/default/bin/inferlet-run --engine out/default/engines/smoke-trt8.engine \
  --lib out/default/lib/libinferlet8.so "$@"
