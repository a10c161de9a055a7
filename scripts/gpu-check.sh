#!/usr/bin/env bash
# The library on the real CUDA runtime, for a machine with an NVIDIA GPU (and no TensorRT: the stand-in
# TensorRT runs on real streams, copies and graphs). In one go:
#   1. builds the `cuda` preset with its tests and benchmarks (all cores);
#   2. runs every library test that needs no emulator-only control, those of both interfaces (the
#      sessions interface's carry the label sessions beside inferlet, and are counted apart too):
#      ctest -L 'inferlet|cuda_backend' -LE 'emulator|driverless' (`ctest --print-labels` lists the labels);
#   3. compiles and runs the CUDA semantics probes (gpu_semantics.cpp) when their source is found;
#   4. runs bench/gpu.sh on the same build tree (the figures of both interfaces);
# and writes one summary (passed/failed per suite, the probe answers, the bench figures) to standard
# output and to <build>/gpu-check/gpu-check-summary.md, next to the logs. When $OUT is set (the result
# folder of a lent machine) the summary, the probe answers, the figures, the test report and a tarball
# of the logs and raw benchmark results are copied there too: five files.
#
#   bash scripts/gpu-check.sh
#
# Under 8 minutes on 16 cores with one H100 or H200, most of it the build, before the sessions
# interface's benchmarks, which add about 3 minutes (timed on the emulated device; the benchmarks' time
# is mostly Google Benchmark's fixed minimum per case, so a GPU should take about as long).
#
# Exit status:
#    0  everything built, and every suite, the probes and the benchmarks passed
#    1  something ran and failed: the summary names it
#    2  the build (or the configuration) failed: the summary points at the log
#   77  no usable GPU here: nvidia-smi is missing or fails, or cudaGetDeviceCount fails (35: no
#       driver). One line says which; nothing is built or run. 77 is the customary "skipped" status
#       (automake, ctest's SKIP_RETURN_CODE), so a caller can tell "not checked here" from "failed".
#
# Environment:
#   GPU_CHECK_BUILD   build tree (default out/bench-cuda, the one bench/gpu.sh builds on)
#   GPU_CHECK_PROBES  the probes' source (default: the first of shared/cuda-probes/gpu_semantics.cpp,
#                     ../shared/cuda-probes/gpu_semantics.cpp, .gpu-deps/cuda-probes/gpu_semantics.cpp)
#   GPU_CHECK_DEPS    a prefix holding build dependencies the machine lacks (default .gpu-deps when it
#                     exists; scripts/gpu-check-deps.sh fills it on a machine that has them)
#   GPU_CHECK_BENCH=0 leaves the benchmarks out
#   CUDA_HOME         the CUDA toolkit (default /usr/local/cuda)
set -uo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
CUDA_HOME=${CUDA_HOME:-/usr/local/cuda}
started=$SECONDS

no_gpu() {
  echo "gpu-check: no usable GPU here ($1); nothing was built or run" >&2
  exit 77
}

# --- a GPU and its driver, before anything is built -------------------------------------------------
command -v nvidia-smi >/dev/null 2>&1 || no_gpu "nvidia-smi not found: no NVIDIA driver"
gpu=$(nvidia-smi --query-gpu=name,driver_version,memory.total --format=csv,noheader 2>/dev/null | head -1)
smi_status=$?
[[ $smi_status -eq 0 && -n $gpu ]] || no_gpu "nvidia-smi failed: no working NVIDIA driver"

probe_dir=$(mktemp -d)
trap 'rm -rf "$probe_dir"' EXIT
cat >"$probe_dir/device_count.cpp" <<'CPP'
#include <cuda_runtime_api.h>
#include <cstdio>
int main() {
  int count = 0;
  const cudaError_t status = cudaGetDeviceCount(&count);
  std::printf("%d %d %s\n", static_cast<int>(status), count, cudaGetErrorName(status));
  return status == cudaSuccess && count > 0 ? 0 : 1;
}
CPP
if ! g++ -std=c++17 -I"$CUDA_HOME/include" "$probe_dir/device_count.cpp" -o "$probe_dir/device_count" \
     "$CUDA_HOME/lib64/libcudart_static.a" -ldl -lpthread -lrt 2>"$probe_dir/compile.log"; then
  echo "gpu-check: cannot compile against the CUDA toolkit in $CUDA_HOME:" >&2
  cat "$probe_dir/compile.log" >&2
  exit 2
fi
read -r count_status device_count count_error < <("$probe_dir/device_count")
if [[ ${count_status:-1} -ne 0 || ${device_count:-0} -lt 1 ]]; then
  no_gpu "cudaGetDeviceCount returned ${count_status:-?} (${count_error:-no answer}), ${device_count:-0} devices"
fi

# --- where everything goes --------------------------------------------------------------------------
build=${GPU_CHECK_BUILD:-$ROOT/out/bench-cuda}
[[ $build = /* ]] || build=$ROOT/$build
results=$build/gpu-check
rm -rf "$results"
mkdir -p "$results"
summary=$results/gpu-check-summary.md
jobs=$(nproc)
: >"$summary"
say() { printf '%s\n' "$*" | tee -a "$summary"; }
failed=0
# Copies what a lent machine should hand back into $OUT, whatever the way out (the EXIT trap calls it).
# shellcheck disable=SC2317
hand_back() {
  [[ -n ${OUT:-} ]] || return 0
  mkdir -p "$OUT"
  local f
  for f in gpu-check-summary.md probes.txt gpu-figures.md ctest-junit.xml; do
    [[ -f $results/$f ]] && cp "$results/$f" "$OUT/"
  done
  # The logs and the benchmarks' raw results in one file: a lent machine hands back few files.
  (
    cd "$results" || exit
    kept=(./*.log)
    [[ -d bench ]] && kept+=(bench)
    tar czf "$OUT/gpu-check-logs.tar.gz" "${kept[@]}" 2>/dev/null
  )
}
trap 'hand_back; rm -rf "$probe_dir"' EXIT

say "# GPU check"
say ""
say "- GPU: $gpu; cudaGetDeviceCount: $device_count device(s)"
say "- CUDA toolkit: $("$CUDA_HOME/bin/nvcc" --version 2>/dev/null | sed -n 's/^Cuda compilation tools, //p')"
say "- machine: $(nproc) CPUs, $(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo), Linux $(uname -r)"
say "- commit: $(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo unknown)$(git -C "$ROOT" diff --quiet HEAD 2>/dev/null || echo ' (with local changes)')"
say "- build tree: $build"

# --- 1. build -----------------------------------------------------------------------------------------
deps=${GPU_CHECK_DEPS:-$ROOT/.gpu-deps}
configure=(cmake -S "$ROOT" -B "$build" --preset cuda -DINFERLET_BUILD_TESTS=ON)
[[ -d $deps ]] && configure+=("-DCMAKE_PREFIX_PATH=$deps")
bench_wanted=${GPU_CHECK_BENCH:-1}
phase_start=$SECONDS
if [[ $bench_wanted != 0 ]] && "${configure[@]}" -DINFERLET_BUILD_BENCH=ON >"$results/configure.log" 2>&1; then
  bench_built=1
elif "${configure[@]}" -DINFERLET_BUILD_BENCH=OFF >>"$results/configure.log" 2>&1; then
  bench_built=0  # e.g. no Google Benchmark here
else
  say ""
  say "## Build: configuration FAILED (see configure.log)"
  tail -n 20 "$results/configure.log"
  exit 2
fi
if ! cmake --build "$build" -j"$jobs" >"$results/build.log" 2>&1; then
  say ""
  say "## Build: FAILED after $((SECONDS - phase_start)) s (see build.log)"
  grep -m 20 -E 'error|Error' "$results/build.log" | tee -a "$summary"
  exit 2
fi
say ""
if [[ $bench_built = 1 ]]; then bench_note=built
elif [[ $bench_wanted = 0 ]]; then bench_note="left out"
else bench_note="not configured: see configure.log"; fi
say "## Build: done in $((SECONDS - phase_start)) s (benchmarks $bench_note)"

# --- 2. the library's tests on the real runtime ---------------------------------------------------------
# Both interfaces: the sessions interface's tests carry the label inferlet beside their own, sessions, so
# the selection holds them; which they are is listed first, to be told apart in the summary.
phase_start=$SECONDS
(cd "$build" && ctest -N -L sessions -LE 'emulator|driverless') 2>/dev/null |
  sed -n 's/^ *Test *#[0-9]*: *//p' >"$results/sessions-tests.txt"
(cd "$build" && ctest -L 'inferlet|cuda_backend' -LE 'emulator|driverless' -j"$jobs" --timeout 120 --output-on-failure \
  --output-junit "$results/ctest-junit.xml") >"$results/ctest.log" 2>&1
ctest_status=$?
say ""
say "## Library tests on the real CUDA runtime (ctest -L 'inferlet|cuda_backend' -LE 'emulator|driverless'): $((SECONDS - phase_start)) s"
say ""
if [[ -f $results/ctest-junit.xml ]]; then
  python3 - "$results/ctest-junit.xml" "$results/sessions-tests.txt" <<'PY' | tee -a "$summary"
import collections, sys, xml.etree.ElementTree as ET
suites = collections.OrderedDict()
failures = []
sessions_listed = {line.strip() for line in open(sys.argv[2]) if line.strip()}
sessions = collections.Counter()
for case in ET.parse(sys.argv[1]).getroot().iter("testcase"):
    name = case.get("name").split("  #")[0]  # without the parameter comment of a value-parameterized case
    parts = name.split(".")
    # inferlet.trt8.Suite.Case -> inferlet.trt8.Suite; cuda_backend.trt8.check -> cuda_backend
    suite = ".".join(parts[:3]) if parts[0] == "inferlet" else parts[0]
    status = case.get("status") or ("fail" if case.find("failure") is not None else "run")
    counts = suites.setdefault(suite, collections.Counter())
    if status in ("fail", "failed") or case.find("failure") is not None:
        outcome = "failed"
        failures.append(name)
    elif status in ("notrun", "disabled", "skipped") or case.find("skipped") is not None:
        outcome = "skipped"
    else:
        outcome = "passed"
    counts[outcome] += 1
    if case.get("name", "").strip() in sessions_listed:
        sessions[outcome] += 1
print("| suite | passed | failed | skipped |")
print("|---|---|---|---|")
for suite, c in suites.items():
    print(f"| {suite} | {c['passed']} | {c['failed']} | {c['skipped']} |")
total = sum(suites.values(), collections.Counter())
print(f"| all | {total['passed']} | {total['failed']} | {total['skipped']} |")
print()
ran = sum(sessions.values())
print(f"Sessions interface (label sessions): {len(sessions_listed)} tests in the selection, {ran} ran: "
      f"{sessions['passed']} passed, {sessions['failed']} failed, {sessions['skipped']} skipped"
      + ("" if ran == len(sessions_listed) else " (FEWER RAN THAN WERE LISTED)"))
if failures:
    print()
    print("Failed: " + ", ".join(failures) + " (output in ctest.log)")
PY
else
  say "no test report was written (see ctest.log)"
fi
[[ $ctest_status -eq 0 ]] || failed=1

# --- 3. the CUDA semantics probes ---------------------------------------------------------------------
probes=${GPU_CHECK_PROBES:-}
if [[ -z $probes ]]; then
  for candidate in "$ROOT/shared/cuda-probes/gpu_semantics.cpp" "$ROOT/../shared/cuda-probes/gpu_semantics.cpp" \
                   "$deps/cuda-probes/gpu_semantics.cpp"; do
    if [[ -f $candidate ]]; then probes=$candidate; break; fi
  done
fi
say ""
if [[ -n $probes && -f $probes ]]; then
  # As the source says: the host compiler against the static runtime; nvcc where g++ refuses it.
  probe_bin=$results/gpu_semantics
  if g++ -O1 -std=c++17 -I"$CUDA_HOME/include" "$probes" -o "$probe_bin" "$CUDA_HOME/lib64/libcudart_static.a" \
       -ldl -lpthread -lrt >"$results/probes-build.log" 2>&1 ||
     "$CUDA_HOME/bin/nvcc" -O1 -std=c++17 -x cu "$probes" -o "$probe_bin" >>"$results/probes-build.log" 2>&1; then
    timeout 120 "$probe_bin" >"$results/probes.txt" 2>&1
    probe_status=$?
    say "## CUDA semantics probes ($(basename "$probes")): exit status $probe_status"
    say ""
    say '```'
    tee -a "$summary" <"$results/probes.txt"
    say '```'
    [[ $probe_status -eq 0 ]] || failed=1
  else
    say "## CUDA semantics probes: FAILED to compile (see probes-build.log)"
    failed=1
  fi
  rm -f "$probe_bin"
else
  say "## CUDA semantics probes: source not found (set GPU_CHECK_PROBES)"
fi

# --- 4. the benchmarks ------------------------------------------------------------------------------------
say ""
if [[ $bench_wanted != 0 && $bench_built = 1 ]]; then
  phase_start=$SECONDS
  bench_out=$(mktemp -d)
  # bench/gpu.sh builds on this tree (its own default), so only the benchmark binaries are new.
  if (cd "$ROOT" && OUT=$bench_out BENCH_JOBS=$jobs timeout 480 bash bench/gpu.sh) >"$results/bench.log" 2>&1; then
    say "## Benchmarks (bash bench/gpu.sh): $((SECONDS - phase_start)) s"
    say ""
    if [[ -f $bench_out/gpu-figures.md ]]; then tee -a "$summary" <"$bench_out/gpu-figures.md"; fi
    [[ -f $bench_out/gpu-figures.md ]] && cp "$bench_out/gpu-figures.md" "$results/"
    mkdir -p "$results/bench" && cp "$bench_out"/* "$results/bench/" 2>/dev/null
  else
    say "## Benchmarks (bash bench/gpu.sh): FAILED after $((SECONDS - phase_start)) s (see bench.log)"
    tail -n 10 "$results/bench.log" | tee -a "$summary"
    failed=1
  fi
  rm -rf "$bench_out"
elif [[ $bench_wanted = 0 ]]; then
  say "## Benchmarks: left out (GPU_CHECK_BENCH=0)"
else
  say "## Benchmarks: not built (see configure.log)"
  failed=1
fi

say ""
say "## Result: $([[ $failed -eq 0 ]] && echo 'all passed' || echo 'FAILURES above') in $((SECONDS - started)) s"
say "(logs and this summary: $results)"
exit "$failed"
