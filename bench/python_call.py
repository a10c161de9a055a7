#!/usr/bin/env python3
"""One session of the smoke engine at batch 10 called from Python, as bench/run.sh measures it against
inferlet_session_run called from C (the benchmarks' session/run_host, the probe's session_run_host):
the same engine, one session with default options, two [10, 340] float32 inputs and one [10, 338]
output in host memory.

    python_call.py count MODE CALLS ENGINE MAJOR     warm-up, then CALLS calls (run it under callgrind
                                                     with two counts: the difference is CALLS calls)
    python_call.py time ENGINE MAJOR OUT.json        per mode, REPETITIONS timed loops of at least
                                                     MIN_SECONDS each: wall-clock and thread CPU ns per call

Modes: run, session.run(inputs), whose outputs the package makes at the shapes the session resolves;
run_into, session.run(inputs, outputs) into an array made once; device, session.run(inputs, outputs) with
device arrays in and out (DeviceArrays made once, used in place). Run with the build's package on
PYTHONPATH and its lib/ as INFERLET_LIBRARY_DIR."""

import json
import pathlib
import sys
import time

import numpy as np

import inferlet

BATCH = 10
WARMUP_CALLS = 20
MODES = ("run", "run_into", "device")


def make_call(engine_path, major, mode):
    """The session (kept alive by the closure) and a function making one call of mode."""
    engine = inferlet.Engine(engine_path, trt=major)
    session = inferlet.Session(engine)
    rng = np.random.default_rng(1)
    inputs = {name: rng.uniform(-1, 1, (BATCH, 340)).astype(np.float32) for name in ("in0", "in1")}
    if mode == "run":
        return lambda: session.run(inputs)
    if mode == "run_into":
        outputs = {"out0": np.empty((BATCH, 338), np.float32)}
        return lambda: session.run(inputs, outputs)
    if mode == "device":
        on_device = {name: session.to_device(value) for name, value in inputs.items()}
        outputs = {"out0": session.empty((BATCH, 338), np.float32)}
        return lambda: session.run(on_device, outputs)
    raise SystemExit(f"unknown mode {mode}: {', '.join(MODES)}")


def count(mode, calls, engine_path, major):
    call = make_call(engine_path, major, mode)
    for _ in range(WARMUP_CALLS):
        call()
    for _ in range(calls):
        call()


def timed_loop(call, min_seconds):
    """(wall ns, thread CPU ns, calls) of a loop of calls lasting at least min_seconds; the loop grows
    tenfold until it does, as Google Benchmark sizes its iterations."""
    calls = 100
    while True:
        wall, cpu = time.perf_counter_ns(), time.thread_time_ns()
        for _ in range(calls):
            call()
        wall, cpu = time.perf_counter_ns() - wall, time.thread_time_ns() - cpu
        if wall >= min_seconds * 1e9 or calls >= 10**8:
            return wall, cpu, calls
        calls = min(calls * 10, max(calls + 1, int(calls * 1.4 * min_seconds * 1e9 / max(wall, 1))))


def time_modes(engine_path, major, out, repetitions=3, min_seconds=0.3):
    results = {}
    for mode in MODES:
        call = make_call(engine_path, major, mode)
        for _ in range(WARMUP_CALLS * 10):
            call()
        runs = [timed_loop(call, min_seconds) for _ in range(repetitions)]
        results[mode] = {
            "real_ns": [w / n for w, _, n in runs],
            "cpu_ns": [c / n for _, c, n in runs],
            "calls": [n for _, _, n in runs],
        }
    pathlib.Path(out).write_text(json.dumps(results, indent=1) + "\n")


def main(argv):
    if len(argv) == 6 and argv[1] == "count":
        count(argv[2], int(argv[3]), argv[4], int(argv[5]))
    elif len(argv) == 5 and argv[1] == "time":
        time_modes(argv[2], int(argv[3]), argv[4])
    else:
        raise SystemExit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
