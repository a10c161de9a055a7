"""The front ends' tables of bench/README.md: one call of the Python package against the same call from C
(counts, where its instructions go, times), and the throughput inferlet-run reports for 1, 2 and 4
sessions against one legacy handle."""
import json
import re
import statistics

from bench_results import INTERFACES, callgrind_inclusive_per_call, fmt, span

# The C calls the Python ones are set against: (label, the benchmarks' name, the probe's mode).
C_CALL = ("`inferlet_session_run` from C", "session/run_host", "session_run_host")
C_DEVICE_CALL = ("`inferlet_session_enqueue` + `wait` from C", "session/device", "session_device")
C_CALLS = [(C_CALL, "host memory"), (C_DEVICE_CALL, "device memory")]
# (mode of python_call.py, the call, the C call it is set against).
PYTHON_CALLS = [
    ("run", "`session.run(inputs)` from Python, outputs made by the package", C_CALL),
    ("run_into", "`session.run(inputs, outputs)` from Python, into arrays given", C_CALL),
    ("device", "`session.run(inputs, outputs)` from Python, device arrays in and out", C_DEVICE_CALL),
]

# The functions whose inclusive counts split a Python call.
LIBRARY_RUN = "inferlet_session_run"
EXTENSION_RUN = "inferlet_python::Session::run"
EXTENSION_RESOLVE = "inferlet_python::Session::resolve_shapes"
LIBRARY_RESOLVE = "inferlet_session_resolve_shapes"
ARRAY_INTERFACE = "array_interface_get"  # numpy's ndarray.__array_interface__
NUMPY_EMPTY = "array_empty"  # numpy.empty
SPLIT_FUNCTIONS = [LIBRARY_RUN, EXTENSION_RUN, EXTENSION_RESOLVE, LIBRARY_RESOLVE, ARRAY_INTERFACE, NUMPY_EMPTY]

# inferlet-run's rows (frontends.sh's BENCH_RUNNER_ROWS): (name, engine, driven, sessions or handles).
RUNNER_ROWS = [
    ("sessions-1", "two_profiles", "1 session (`--api sessions --sessions 1`)", 1),
    ("legacy-1", "two_profiles", "1 `kestrel_trt_*` handle (`--api legacy`)", 1),
    ("sessions-2", "two_profiles", "2 sessions (`--sessions 2`), profiles 0, 1", 2),
    ("sessions-4", "four_profiles", "4 sessions (`--sessions 4`), profiles 0 to 3", 4),
]


def python_split(whole, inclusive):
    """One Python call's instructions by where they go, from the whole call's count and its functions'
    inclusive counts (per call); None where a function was not seen."""
    library, extension = inclusive.get(LIBRARY_RUN), inclusive.get(EXTENSION_RUN)
    if not whole or not library or not extension:
        return None
    resolve = inclusive.get(EXTENSION_RESOLVE, 0)
    return {
        "whole": whole,
        "library": library,
        "extension_run": extension - library,
        "resolve": resolve,
        "library_resolve": inclusive.get(LIBRARY_RESOLVE, 0),
        "python": whole - extension - resolve,
        "array_interface": inclusive.get(ARRAY_INTERFACE),
        "numpy_empty": inclusive.get(NUMPY_EMPTY),
        "package": whole - library,
    }


def python_counts_table(instructions):
    out = [
        "| call | TensorRT interface | instructions per call | × the C call |",
        "|---|---|---:|---:|",
    ]
    rows = [(f"{c[0]}, {memory}", c[2], c) for c, memory in C_CALLS]
    rows += [(label, f"python_{mode}", c) for mode, label, c in PYTHON_CALLS]
    for label, mode, c in rows:
        for major, interface in INTERFACES:
            instr, c_instr = instructions.get((major, mode)), instructions.get((major, c[2]))
            if instr:
                out.append(f"| {label} | {interface} | {fmt(instr, 0)} | "
                           f"{fmt(instr / c_instr, 3) if c_instr else 'n/a'} |")
    return "\n".join(out)


def split_table(splits):
    """splits: {(major, mode): python_split}."""
    out = [
        "| Python call | TensorRT interface | whole call | the library's `inferlet_session_run` | the extension's "
        "C++ around it (tensors from the tuples, the GIL, shapes back) | `resolve_shapes` in the extension, "
        "of which the library's `inferlet_session_resolve_shapes` | the package's Python code, numpy and the "
        "interpreter | of which `ndarray.__array_interface__` | of which `numpy.empty` | all but the library's "
        "call |",
        "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|",
    ]
    for mode, label, _ in PYTHON_CALLS:
        for major, interface in INTERFACES:
            s = splits.get((major, mode))
            if not s:
                continue
            resolve = f"{fmt(s['resolve'], 0)}, of which {fmt(s['library_resolve'], 0)}" if s["resolve"] else "0"
            out.append(f"| {label} | {interface} | {fmt(s['whole'], 0)} | {fmt(s['library'], 0)} | "
                       f"{fmt(s['extension_run'], 0)} | {resolve} | {fmt(s['python'], 0)} | "
                       f"{fmt(s['array_interface'], 0)} | {fmt(s['numpy_empty'], 0)} | "
                       f"{fmt(s['package'], 0)} ({s['package'] / s['whole']:.0%}) |")
    return "\n".join(out)


def python_time(data):
    """(real µs, CPU µs) of one run of python_call.py time for a mode: the medians of its repetitions."""
    if not data:
        return None, None
    return statistics.median(data["real_ns"]) / 1000, statistics.median(data["cpu_ns"]) / 1000


def python_times_table(runs):
    """runs: [(benchmarks {major: {name: run}}, python {major: {mode: data}})], one per timing run; the
    ratio to the C call is taken within each run."""
    out = [
        "| call | TensorRT interface | time per call, µs (real) | CPU µs | × the C call (time) |",
        "|---|---|---:|---:|---:|",
    ]
    for call, memory in C_CALLS:
        for major, interface in INTERFACES:
            c = [b.get(major, {}).get(call[1]) for b, _ in runs]
            if any(c):
                out.append(f"| {call[0]}, {memory} | {interface} | {span([r['real_time'] for r in c if r], 2)} | "
                           f"{span([r['cpu_time'] for r in c if r], 2)} | 1.00 |")
    for mode, label, call in PYTHON_CALLS:
        for major, interface in INTERFACES:
            real, cpu, ratio = [], [], []
            for benchmarks, python in runs:
                r, p = python_time(python.get(major, {}).get(mode))
                if r is None:
                    continue
                c = benchmarks.get(major, {}).get(call[1])
                real.append(r)
                cpu.append(p)
                ratio.append(r / c["real_time"] if c else None)
            if real:
                out.append(f"| {label} | {interface} | {span(real, 2)} | {span(cpu, 2)} | {span(ratio, 2)} |")
    return "\n".join(out)


def runner_counts_table(runner):
    """What each row set up, as the first run's report says: profiles, batch, device memory."""
    out = [
        "| engine | driven | TensorRT interface | profiles | batch | device memory, bytes: engine + each session "
        "(or the handle) |",
        "|---|---|---|---|---:|---:|",
    ]
    for name, engine, label, _ in RUNNER_ROWS:
        for major, interface in INTERFACES:
            report = runner.get(major, {}).get(name)
            if not report:
                continue
            run, memory = report.get("run", {}), report.get("device_memory", {})
            profiles = ", ".join(map(str, run.get("profiles", [run.get("profile", 0)])))
            if "sessions" in memory:
                bytes_ = " + ".join(fmt(b, 0) for b in [memory.get("engine")] + memory["sessions"])
            else:
                bytes_ = fmt(memory.get("total"), 0)
            out.append(f"| `{engine}` | {label} | {interface} | {profiles} | {run.get('batch', 'n/a')} | {bytes_} |")
    return "\n".join(out)


def runner_times_table(runs):
    """runs: [{major: {row: report}}], one per timing run. Per session: each session's figures, the
    range over the sessions and the runs; × one session: to --sessions 1 of the same run and major."""
    out = [
        "| engine | driven | TensorRT interface | threads | calls per second, all | per session (or handle) | "
        "× one session | median latency, µs | p99 latency, µs |",
        "|---|---|---|---:|---:|---:|---:|---:|---:|",
    ]
    for name, engine, label, n in RUNNER_ROWS:
        for major, interface in INTERFACES:
            total, each, scaling, median, p99 = [], [], [], [], []
            for reports in runs:
                report = reports.get(major, {}).get(name)
                if not report:
                    continue
                one = reports.get(major, {}).get("sessions-1")
                total.append(report["throughput"]["calls_per_s"])
                scaling.append(total[-1] / one["throughput"]["calls_per_s"] if one else None)
                parts = report.get("sessions") or [report]
                each += [s["throughput"]["calls_per_s"] for s in parts]
                median += [s["latency"]["median_us"] for s in parts]
                p99 += [s["latency"]["p99_us"] for s in parts]
            if total:
                out.append(f"| `{engine}` | {label} | {interface} | {n} | {span(total, 0)} | {span(each, 0)} | "
                           f"{span(scaling, 2)} | {span(median, 2)} | {span(p99, 2)} |")
    return "\n".join(out)


def read_runs(results, pattern):
    """{run: {major: {key: parsed JSON}}} of the files whose names fullmatch pattern, a regular expression
    with the groups major, key and run."""
    found = {}
    for path in results.glob("*.json"):
        match = re.fullmatch(pattern, path.name)
        if match:
            try:
                data = json.loads(path.read_text())
            except ValueError:
                continue  # a run cut short
            found.setdefault(int(match.group("run")), {}).setdefault(int(match.group("major")), {})[
                match.group("key")] = data
    return found


def render(header, time_runs, instructions, results):
    """The section's Markdown. time_runs: bench_results.time_runs(results)."""
    python = {k: {m: d[""] for m, d in v.items()}
              for k, v in read_runs(results, r"python\.trt(?P<major>\d+)(?P<key>)\.(?P<run>\d+)\.json").items()}
    runner = read_runs(results, r"runner\.trt(?P<major>\d+)\.(?P<key>[a-z]+-\d+)\.(?P<run>\d+)\.json")
    splits = {}
    for major, _ in INTERFACES:
        for mode, _, _ in PYTHON_CALLS:
            split = python_split(instructions.get((major, f"python_{mode}")),
                                 callgrind_inclusive_per_call(results, major, f"python_{mode}", SPLIT_FUNCTIONS))
            if split:
                splits[(major, mode)] = split
    loads = "; ".join(f"run {k}: {load}" for k, _, load in time_runs)
    by_run = {k: benchmarks for k, benchmarks, _ in time_runs}
    first_runner = runner[min(runner)] if runner else {}
    asked = [r.get("run", {}).get("min_duration_s") for rows in first_runner.values() for r in rows.values()]
    asked = max((a for a in asked if a is not None), default=None)
    runner_seconds = f"{asked:.1f} s" if asked is not None else "`BENCH_RUNNER_SECONDS`"
    parts = header + [
        "",
        "### Counts (they reproduce)",
        "",
        "**The Python call against the C call** — the sample engine `smoke` at batch 10, one session with "
        "default options, two [10, 340] float32 inputs and one [10, 338] output in host memory: "
        "`inferlet_session_run` from C (the sessions figures' `session_run_host`) and `inferlet.Session.run` "
        "with numpy arrays (`bench/python_call.py`), the interpreter run under callgrind like the probe; and "
        "the same in device memory: the C call's `session_device` against `Session.run` with `DeviceArray`s "
        "made once (`Session.to_device`, `Session.empty`) in and out, used in place; "
        "instructions (I(1000 calls) − I(500 calls)) / 500"
        + ("" if any(k[1].startswith("python_") for k in instructions) else " (not measured on this machine)")
        + ".",
        "",
        python_counts_table(instructions),
        "",
        "**Where the Python call's instructions go** — per call, callgrind's inclusive counts of the functions "
        "named, the same difference of two runs; the Python side is what the whole call leaves after the "
        "extension's two calls (`Session.run`, and `Session.resolve_shapes` for outputs the package makes): "
        "`bench/python_call.py`'s loop, `inferlet`'s checks of each array's dtype and layout, its addresses, "
        "the output arrays and the results, numpy, nanobind's dispatch and the interpreter.",
        "",
        split_table(splits) if splits else "Not measured on this machine.",
        "",
        f"**inferlet-run** — its own JSON report (`--json`), batch 4 from host memory on every session, "
        f"100 warm-up calls, then {runner_seconds} of timed calls from a common start. `two_profiles` "
        f"(sample) has two profiles and so serves 1 and 2 dynamic-shape sessions; the 4-session row runs on "
        f"`four_profiles` (`bench/networks/`, the same network with four profiles). inferlet-run drives one "
        f"legacy handle only (`--sessions` needs `--api sessions`), so the legacy row is that one handle.",
        "",
        runner_counts_table(first_runner) if first_runner else "Not measured on this machine.",
        "",
        "### Times (noisy)",
        "",
        f"Ranges (lowest–highest) over {len(time_runs)} runs, at the load averages of the sessions section "
        f"({loads or 'not recorded'}). The C call: Google Benchmark, a median of 3 repetitions per run; the "
        f"Python call: `time.perf_counter_ns` (real) and `time.thread_time_ns` (CPU) around loops of at "
        f"least 0.3 s, a median of 3 per run, right after the C benchmarks of the same run; the ratio is taken "
        f"within each run.",
        "",
        python_times_table([(by_run.get(k, {}), python.get(k, {})) for k in sorted(set(by_run) | set(python))]),
        "",
        "**inferlet-run's calls per second** (the threads share the CPUs of the machine line; per session: "
        "every session's own figure, the range over the sessions and the runs; × one session: to "
        "`--sessions 1` in the same run):",
        "",
        runner_times_table([runner[k] for k in sorted(runner)]) if runner else "Not measured on this machine.",
    ]
    return "\n".join(parts) + "\n"

