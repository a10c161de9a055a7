#!/usr/bin/env bash
# First run on a fresh clone: installs what the build needs, configures and builds with the default
# preset, then runs the sample smoke engine through libinferlet8.so with inferlet-run -- on the GPU
# when the machine has one, on the emulated CUDA device otherwise. The report at the end shows the
# engine, the configuration derived from it, checksums of the outputs and the latency table; the next
# steps follow it. The build goes through the compiler cache when ccache is installed
# (scripts/compiler-cache.sh), so that scripts/install-python.sh gets the same objects back.
# Extra arguments go to inferlet-run, e.g. `bash scripts/demo.sh --cuda-graph --iterations 1000`.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

step() { printf '\n==> %s\n' "$*"; }

step "Build dependencies (scripts/install-deps.sh)"
bash scripts/install-deps.sh
source scripts/compiler-cache.sh

step "Configure: cmake --preset default"
cmake --preset default

step "Build the deliverables, inferlet-run and the sample engines" \
  "(a first build: 5 1/2 minutes of CPU time, about 3 minutes on 2 free cores; later ones only what changed)"
started=$SECONDS
cmake --build out/default -j"$(nproc)" --target inferlet-run sample_engines
echo "built in $((SECONDS - started)) s"

device=$(sed -n 's/^INFERLET_DEVICE_RESOLVED:INTERNAL=//p' out/default/CMakeCache.txt)
step "Run: inferlet-run on out/default/engines/smoke-trt8.engine (CUDA device: ${device:-unknown})"
cat <<'EOF'
The library's own lines come first, from `[inferlet][E] setDevice 0ok` to `closedestroy ok`: it
writes them on every run, at the levels and in the words hosts expect byte for byte (`[E]` included,
and `Variable length is enabled: << mEnableVariableLen`, `closedestory...`); they are normal, not
faults. docs/legacy-interface.md ("A whole host") says what each one is. inferlet-run's report
follows them, from `== inferlet-run ==`.

EOF
out/default/bin/inferlet-run --engine out/default/engines/smoke-trt8.engine \
  --lib out/default/lib/libinferlet8.so "$@"

step "Next steps"
cat <<'EOF'
Python:     bash scripts/install-python.sh        (pip install ./python into out/venv; docs/python.md)
            cd out/default/engines && ../../venv/bin/python -c 'import inferlet; print(inferlet.tensorrt_majors())'
The runner: out/default/bin/inferlet-run --help   (--api sessions, --compare, --shapes; docs/runner.md)
Install:    cmake --install out/default --prefix ~/inferlet   (this tree as it is; docs/building.md)
Your host:  docs/legacy-interface.md and docs/sessions.md (a whole host each, its flags and its output)
Every test: bash .ci/run                          (about 15 minutes on 2 cores; docs/testing.md)
EOF
