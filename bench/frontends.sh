# The sessions interface as its two front ends use it, sourced by common.sh: one call of the Python
# package (bench/python_call.py) against the same call from C, and the throughput inferlet-run reports
# for --sessions 1, 2 and 4. Each part runs where the build tree has it (the runner with
# INFERLET_BUILD_APPS, the package where a Python with numpy and nanobind configured it), else is left
# out with a line saying so.

# The Python call's modes (python_call.py), measured per benchmarked major.
BENCH_PYTHON_MODES=(run run_into device)
# inferlet-run's rows: NAME ENGINE (a sample, or one of bench_engines) API SESSIONS; each a JSON report
# runner.trt<major>.<NAME>.<run>.json. four_profiles for 4 sessions: a dynamic-shape engine serves one
# session per profile, and two_profiles has two. The runner drives one legacy handle only (--sessions
# needs --api sessions).
BENCH_RUNNER_ROWS=(
  "sessions-1 two_profiles sessions 1"
  "sessions-2 two_profiles sessions 2"
  "sessions-4 four_profiles sessions 4"
  "legacy-1 two_profiles legacy 1"
)

# bench_frontend_targets BUILD_DIR: the build targets of the front ends this build tree has configured.
bench_frontend_targets() {
  local build=$1
  grep -q '^INFERLET_BUILD_APPS:BOOL=ON' "$build/CMakeCache.txt" && echo inferlet-run
  # Configured, not built, at configure time: the package's build tree is set up.
  [[ -f $build/python/inferlet/_config.py ]] && echo inferlet_python
  return 0
}

# bench_python BUILD_DIR: the interpreter that imports the build tree's package (BENCH_PYTHON, the venv
# of install-deps.sh, python3: the first that can), or nothing.
bench_python() {
  local build=$1 python
  [[ -f $build/python/inferlet/_config.py ]] || return 0
  for python in ${BENCH_PYTHON:-} "$BENCH_ROOT/out/venv/bin/python3" python3; do
    if bench_with_package "$build" "$python" -c "import inferlet" 2>/dev/null; then
      echo "$python"
      return 0
    fi
  done
}

# bench_with_package BUILD_DIR COMMAND...: COMMAND with the build tree's package and libraries. The same
# string hashes in every run, and numpy's BLAS without the worker threads it starts on import, which
# spin (instructions that differ from run to run, CPU taken from the calls), so that callgrind's counts
# repeat and the times are the calls'.
bench_with_package() {
  local build=$1
  shift
  PYTHONPATH=$build/python INFERLET_LIBRARY_DIR=$build/lib PYTHONHASHSEED=0 PYTHONDONTWRITEBYTECODE=1 \
    OPENBLAS_NUM_THREADS=1 OMP_NUM_THREADS=1 "$@"
}

# bench_frontend_times BUILD_DIR WORK_DIR RUN MAJOR: for one timing run and major, the Python call's
# times (python.trt<major>.<run>.json) and every row of inferlet-run, BENCH_RUNNER_SECONDS (default 1)
# of timed calls each after 100 warm-up calls, batch 4 from host memory.
bench_frontend_times() {
  local build=$1 work=$2 k=$3 major=$4 python row name engine api n path args
  python=$(bench_python "$build")
  if [[ -n $python ]]; then
    bench_with_package "$build" "$python" "$BENCH_ROOT/bench/python_call.py" time \
      "$build/engines/smoke-trt$major.engine" "$major" "$work/python.trt$major.$k.json" >>"$work/bench.log" 2>&1
  fi
  [[ -x $build/bin/inferlet-run ]] || return 0
  for row in "${BENCH_RUNNER_ROWS[@]}"; do
    read -r name engine api n <<<"$row"
    path=$build/engines/$engine-trt$major.engine
    [[ -f $path ]] || path=$work/$engine-trt$major.engine
    args=(--engine "$path" --trt "$major" --api "$api" --batch 4 --warmup 100 --iterations 1
          --duration "${BENCH_RUNNER_SECONDS:-1}" --json --quiet)
    [[ $api == sessions ]] && args+=(--sessions "$n")
    "$build/bin/inferlet-run" "${args[@]}" >"$work/runner.trt$major.$name.$k.json" 2>>"$work/bench.log" ||
      { echo "inferlet-run failed for $name, TensorRT $major (see $work/bench.log)"; return 1; }
  done
}

# bench_frontends_note BUILD_DIR: a line for each front end this build tree lacks.
bench_frontends_note() {
  local build=$1
  [[ -n $(bench_python "$build") ]] ||
    echo "the Python package is not in $build (a Python with numpy and nanobind configures it): its figures are left out"
  [[ -x $build/bin/inferlet-run ]] || echo "inferlet-run is not in $build: its figures are left out"
  return 0
}

# bench_python_callgrind BUILD_DIR WORK_DIR: the Python call under callgrind, N and 2N calls per major
# and mode, raw files callgrind.trt<major>.python_<mode>.<n> (figures.py reads functions' inclusive
# counts from them) and their totals appended to WORK_DIR/callgrind.txt, as bench_callgrind writes it.
bench_python_callgrind() {
  local build=$1 work=$2 calls=500 python major mode n out
  python=$(bench_python "$build")
  [[ -n $python ]] || return 0
  for major in "${BENCH_MAJORS[@]}"; do
    for mode in "${BENCH_PYTHON_MODES[@]}"; do
      for n in $calls $((2 * calls)); do
        echo "  callgrind: the Python call, TensorRT $major, $mode, $n calls"
        out=$work/callgrind.trt$major.python_$mode.$n
        bench_with_package "$build" valgrind --tool=callgrind --callgrind-out-file="$out" "$python" \
          "$BENCH_ROOT/bench/python_call.py" count "$mode" "$n" "$build/engines/smoke-trt$major.engine" "$major" \
          >/dev/null 2>"$work/valgrind.trt$major.python_$mode.$n.log"
        echo "$major python_$mode $n $(sed -n 's/^summary: //p' "$out")" >>"$work/callgrind.txt"
      done
    done
  done
}
