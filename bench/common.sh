# Shared by bench/run.sh (emulated device) and bench/gpu.sh (real CUDA runtime); sourced, not run.

# bench_build BUILD_DIR DEVICE: configures BUILD_DIR for DEVICE (emulated|cuda) unless it already is,
# and builds the benchmark binaries with what they need.
bench_build() {
  local build=$1 device=$2
  if [[ ! -f $build/CMakeCache.txt ]]; then
    cmake -S "$BENCH_ROOT" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DINFERLET_DEVICE="$device" \
      -DINFERLET_BUILD_BENCH=ON -DINFERLET_BUILD_TESTS=OFF >/dev/null
  fi
  cmake --build "$build" -j"${BENCH_JOBS:-$(nproc)}" --target inferlet_bench inferlet_call_probe trtbuild \
    sample_engines >/dev/null
}

# bench_engines BUILD_DIR WORK_DIR: engines whose one dense layer holds 1, 16 and 256 MiB of float
# weights (x [1, k] -> y [1, k], k * k * 4 bytes), compiled by the stand-in's trtbuild into WORK_DIR.
bench_engines() {
  local build=$1 work=$2 mib k json engine
  mkdir -p "$work"
  for mib in 1 16 256; do
    k=$(python3 -c "import math; print(round(math.sqrt($mib * 1048576 / 4)))")
    json=$work/weights-${mib}MiB.json
    engine=$work/weights-${mib}MiB-trt8.engine
    cat >"$json" <<JSON
{
  "name": "weights_${mib}MiB",
  "inputs": [{"name": "x", "dtype": "float", "dims": [-1, $k]}],
  "outputs": [{"name": "y", "dtype": "float", "dims": [-1, $k]}],
  "layers": [{"op": "dense", "inputs": ["x"], "output": "y", "units": $k,
              "weights": {"fill": "random", "seed": 1}}],
  "profiles": [{"x": {"min": [1, $k], "opt": [1, $k], "max": [1, $k]}}]
}
JSON
    if [[ ! -f $engine || $engine -ot $build/platform/tensorrt/trtbuild ]]; then
      "$build/platform/tensorrt/trtbuild" --trt 8 "$json" -o "$engine"
    fi
  done
}

# bench_run BUILD_DIR WORK_DIR: the Google Benchmark runs, JSON results in WORK_DIR. The library's
# own lines (construction, deletion) and the console table go to WORK_DIR/bench.log.
bench_run() {
  local build=$1 work=$2
  "$build/bench/inferlet_bench" --benchmark_filter='^(process|floor)' --benchmark_repetitions=5 \
    --benchmark_min_time=0.5 --benchmark_report_aggregates_only=true \
    --benchmark_out="$work/per_call.json" --benchmark_out_format=json >"$work/bench.log" 2>&1
  "$build/bench/inferlet_bench" --weights-dir="$work" --benchmark_filter='^(construct|memory)' \
    --benchmark_out="$work/memory.json" --benchmark_out_format=json >>"$work/bench.log" 2>&1
}

# bench_machine: one line naming the machine.
bench_machine() {
  local cpu
  cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
  printf '%s, %s CPUs (nproc), %s GiB memory, Linux %s, load average %s at the start' \
    "${cpu:-unknown CPU}" "$(nproc)" "$(awk '/MemTotal/ {printf "%.0f", $2 / 1048576}' /proc/meminfo)" \
    "$(uname -r)" "$(cut -d' ' -f1-3 /proc/loadavg)"
}
