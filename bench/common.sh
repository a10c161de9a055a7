# Shared by bench/run.sh (emulated device) and bench/gpu.sh (real CUDA runtime); sourced, not run.
source "$BENCH_ROOT/bench/frontends.sh"

# The TensorRT majors benchmarked: 8 for the binding-index interface, 10 for the named-tensor one.
BENCH_MAJORS=(8 10)

# bench_suffix MAJOR: the benchmark binaries' suffix for that major ("" for 8, "10" for 10).
bench_suffix() {
  [[ $1 == 8 ]] || echo "$1"
}

# bench_build BUILD_DIR DEVICE: configures BUILD_DIR for DEVICE (emulated|cuda) unless it already is,
# and builds the benchmark binaries with what they need, showing the build's progress lines.
bench_build() {
  local build=$1 device=$2
  if [[ ! -f $build/CMakeCache.txt ]]; then
    echo "configuring $build (INFERLET_DEVICE=$device)"
    mkdir -p "$build"
    cmake -S "$BENCH_ROOT" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DINFERLET_DEVICE="$device" \
      -DINFERLET_BUILD_BENCH=ON -DINFERLET_BUILD_TESTS=OFF >"$build/bench-configure.log" 2>&1 ||
      { cat "$build/bench-configure.log"; return 1; }
  fi
  echo "building the benchmarks in $build (a fresh tree takes minutes; what is compiled shows below)"
  # Only the progress lines reach the terminal; the whole output is kept for a failure.
  local log=$build/bench-build.log
  local targets=(trtbuild sample_engines) major
  for major in "${BENCH_MAJORS[@]}"; do
    targets+=("inferlet_bench$(bench_suffix "$major")" "inferlet_call_probe$(bench_suffix "$major")")
  done
  mapfile -t -O "${#targets[@]}" targets < <(bench_frontend_targets "$build")
  if ! cmake --build "$build" -j"${BENCH_JOBS:-$(nproc)}" --target "${targets[@]}" 2>&1 | tee "$log" | sed -un '/^\[ *[0-9]*%\] \(Building\|Linking\) /s/^/  /p'; then
    echo "build failed; its output is in $log"
    return 1
  fi
}

# bench_engines BUILD_DIR WORK_DIR: compiles with the stand-in's trtbuild into WORK_DIR, for each
# benchmarked major, the engines the benchmarks do not find among the samples: engines whose one dense
# layer holds 1, 16 and 256 MiB of float weights (x [1, k] -> y [1, k], k * k * 4 bytes), the 16 MiB one
# also with static shapes, and the networks of bench/networks/ (mlp_static, four_profiles).
bench_engines() {
  local build=$1 work=$2 mib k json name
  mkdir -p "$work"
  for mib in 1 16 256; do
    k=$(python3 -c "import math; print(round(math.sqrt($mib * 1048576 / 4)))")
    bench_dense_json "weights_${mib}MiB" -1 "$k" | bench_write_if_changed "$work/weights-${mib}MiB.json"
    bench_compile "$build" "$work/weights-${mib}MiB.json" "$work" "weights-${mib}MiB" "the ${mib} MiB weights engine"
  done
  k=$(python3 -c "import math; print(round(math.sqrt(16 * 1048576 / 4)))")
  bench_dense_json "weights_16MiB_static" 1 "$k" | bench_write_if_changed "$work/weights-16MiB-static.json"
  bench_compile "$build" "$work/weights-16MiB-static.json" "$work" "weights-16MiB-static" \
    "the 16 MiB weights engine with static shapes"
  for json in "$BENCH_ROOT"/bench/networks/*.json; do
    name=$(basename "$json" .json)
    bench_compile "$build" "$json" "$work" "$name" "the $name engine"
  done
}

# bench_dense_json NAME BATCH K: the description of x [BATCH, K] -> dense K -> y [BATCH, K] with random
# weights; BATCH -1 leaves the batch to the profile (batch 1), 1 fixes it.
bench_dense_json() {
  local name=$1 batch=$2 k=$3
  cat <<JSON
{
  "name": "$name",
  "inputs": [{"name": "x", "dtype": "float", "dims": [$batch, $k]}],
  "outputs": [{"name": "y", "dtype": "float", "dims": [$batch, $k]}],
  "layers": [{"op": "dense", "inputs": ["x"], "output": "y", "units": $k,
              "weights": {"fill": "random", "seed": 1}}],
  "profiles": [{"x": {"min": [1, $k], "opt": [1, $k], "max": [1, $k]}}]
}
JSON
}

# bench_write_if_changed FILE: standard input into FILE, unless FILE holds it already (so that its time
# still tells whether the engine compiled from it is up to date).
bench_write_if_changed() {
  local file=$1 text
  text=$(cat)
  [[ -f $file && $(<"$file") == "$text" ]] || printf '%s\n' "$text" >"$file"
}

# bench_compile BUILD_DIR JSON WORK_DIR NAME WHAT: WORK_DIR/NAME-trt<major>.engine for each benchmarked
# major, unless it is newer than both trtbuild and JSON.
bench_compile() {
  local build=$1 json=$2 work=$3 name=$4 what=$5 major engine
  for major in "${BENCH_MAJORS[@]}"; do
    engine=$work/$name-trt$major.engine
    if [[ ! -f $engine || $engine -ot $build/platform/tensorrt/trtbuild || $engine -ot $json ]]; then
      echo "compiling $what for TensorRT $major"
      "$build/platform/tensorrt/trtbuild" --trt "$major" "$json" -o "$engine"
    fi
  done
}

# bench_run BUILD_DIR WORK_DIR: the Google Benchmark runs, JSON results in WORK_DIR. Times per call
# (both interfaces) and the sessions' throughput from several threads are measured BENCH_RUNS times (at
# least 3), each after recording the load average (uptime), so that the figures can give the range over
# the runs with the load they ran under; within a run every benchmarked major runs once, one after the
# other, each followed by its front ends' times (frontends.sh). Memory and construction once per major.
# The library's own lines and the console tables go to WORK_DIR/bench.log.
bench_run() {
  local build=$1 work=$2 runs=${BENCH_RUNS:-3} k major
  ((runs >= 3)) || runs=3
  rm -f "$work"/per_call.*.json "$work"/memory.*json "$work"/load.*.txt "$work"/python.*.json "$work"/runner.*.json
  : >"$work/bench.log"
  bench_frontends_note "$build"
  for ((k = 1; k <= runs; k++)); do
    uptime >"$work/load.$k.txt"
    echo "timing the calls, run $k of $runs ($(sed 's/.*load average/load average/' "$work/load.$k.txt"))"
    for major in "${BENCH_MAJORS[@]}"; do
      "$build/bench/inferlet_bench$(bench_suffix "$major")" --engines-dir="$work" \
        --benchmark_filter='^(process|floor|session/|session_floor/|throughput/)' \
        --benchmark_repetitions=3 --benchmark_min_time=0.3 --benchmark_report_aggregates_only=true \
        --benchmark_out="$work/per_call.trt$major.$k.json" --benchmark_out_format=json >>"$work/bench.log" 2>&1
      bench_frontend_times "$build" "$work" "$k" "$major"
    done
  done
  uptime >"$work/load.memory.txt"
  for major in "${BENCH_MAJORS[@]}"; do
    echo "measuring construction, memory over 100 000 calls and sessions' device memory, TensorRT $major"
    "$build/bench/inferlet_bench$(bench_suffix "$major")" --engines-dir="$work" \
      --benchmark_filter='^(construct|memory|handles|sessions_memory)' --benchmark_out="$work/memory.trt$major.json" \
      --benchmark_out_format=json >>"$work/bench.log" 2>&1
  done
}

# The call probe's modes: the legacy interface's paths and floors, then each session path and its floor.
BENCH_PROBE_MODES=(floor library_calls plain cuda_graph)
for path in run_host pinned device graph_host graph_device; do
  BENCH_PROBE_MODES+=("session_$path" "session_floor_$path")
done
unset path

# bench_callgrind BUILD_DIR WORK_DIR: instructions per steady-state call, from two runs of N and 2N
# calls under callgrind (set-up costs cancel out), per major and path, into WORK_DIR/callgrind.txt as
# lines "MAJOR PATH CALLS INSTRUCTIONS".
bench_callgrind() {
  local build=$1 work=$2 calls=500 step=0 major mode n
  local steps=$((${#BENCH_MAJORS[@]} * ${#BENCH_PROBE_MODES[@]} * 2))
  : >"$work/callgrind.txt"
  for major in "${BENCH_MAJORS[@]}"; do
    for mode in "${BENCH_PROBE_MODES[@]}"; do
      for n in $calls $((2 * calls)); do
        step=$((step + 1))
        echo "  callgrind $step of $steps: TensorRT $major, $mode, $n calls"
        valgrind --tool=callgrind --callgrind-out-file="$work/callgrind.trt$major.$mode.$n" \
          "$build/bench/inferlet_call_probe$(bench_suffix "$major")" "$mode" "$n" >/dev/null \
          2>"$work/valgrind.trt$major.$mode.$n.log"
        echo "$major $mode $n $(sed -n 's/^summary: //p' "$work/callgrind.trt$major.$mode.$n")" >>"$work/callgrind.txt"
      done
    done
  done
}

# bench_machine: one line naming the machine.
bench_machine() {
  local cpu
  cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
  printf '%s, %s CPUs (nproc), %s GiB memory, Linux %s' \
    "${cpu:-unknown CPU}" "$(nproc)" "$(awk '/MemTotal/ {printf "%.0f", $2 / 1048576}' /proc/meminfo)" \
    "$(uname -r)"
}
