"""What bench/run.sh and bench/gpu.sh leave in the results folder, read back for the figures: Google
Benchmark's JSON per run, callgrind's totals, the load averages; and the number formats of the tables."""
import json
import re


def load_benchmarks(path):
    if not path.exists():
        return {}
    runs = json.loads(path.read_text())["benchmarks"]
    table = {}
    for run in runs:
        name = run.get("run_name", run["name"])
        if run.get("run_type") == "aggregate":
            if run.get("aggregate_name") != "median":
                continue
            name = run["run_name"]
        # As registered: without the suffixes Google Benchmark adds for fixed iterations and timing modes.
        name = re.sub(r"(/(iterations|repeats|threads):\d+|/manual_time|/real_time)+$", "", name)
        table[name] = run
    return table


def callgrind_per_call(path):
    """{(major, mode): instructions per call} from lines 'major mode calls instructions'."""
    if not path.exists():
        return {}
    totals = {}
    for line in path.read_text().split("\n"):
        parts = line.split()
        if len(parts) == 4 and parts[0].isdigit() and parts[3].isdigit():
            totals.setdefault((int(parts[0]), parts[1]), []).append((int(parts[2]), int(parts[3])))
    result = {}
    for key, points in totals.items():
        points.sort()
        if len(points) >= 2:
            (n1, i1), (n2, i2) = points[0], points[-1]
            result[key] = (i2 - i1) / (n2 - n1)
    return result


def fmt(value, digits=1):
    if value is None:
        return "n/a"
    return f"{value:,.{digits}f}"


# The TensorRT majors benchmarked, each standing for its generation's interface.
INTERFACES = [(8, "binding-index (8)"), (10, "named-tensor (10)")]


def span(values, digits):
    """'a–b' over the runs (one value when they agree to the digits shown)."""
    values = [v for v in values if v is not None]
    if not values:
        return "n/a"
    low, high = fmt(min(values), digits), fmt(max(values), digits)
    return low if low == high else f"{low}–{high}"


def load_average(path):
    """'1.44, 1.27, 2.44' from an uptime line."""
    if not path.exists():
        return "not recorded"
    match = re.search(r"load averages?:\s*(.*)$", path.read_text().strip())
    return match.group(1).strip() if match else "not recorded"


def time_runs(results):
    """[(run number, {major: benchmarks}, load average)] from per_call.trt<major>.<k>.json, in run order."""
    found = {}
    for path in results.glob("per_call.trt*.json"):
        match = re.fullmatch(r"per_call\.trt(\d+)\.(\d+)\.json", path.name)
        if match:
            major, k = int(match.group(1)), int(match.group(2))
            found.setdefault(k, {})[major] = load_benchmarks(path)
    return [(k, found[k], load_average(results / f"load.{k}.txt")) for k in sorted(found)]


def memory_runs(results):
    """{major: benchmarks} from memory.trt<major>.json."""
    return {major: load_benchmarks(results / f"memory.trt{major}.json") for major, _ in INTERFACES}


def callgrind_inclusive(path, functions):
    """{function: instructions} from a callgrind output file: for each of functions, named without its
    parameters ("inferlet_session_run", "inferlet_python::Session::run"), what it ran itself in every
    block of it plus the inclusive cost of every call it made (a call of itself left out, so that
    nothing counts twice). Names may be compressed, "fn=(id) name" once and "fn=(id)" after."""
    names, totals = {}, dict.fromkeys(functions, 0)

    def named(value):
        match = re.fullmatch(r"\((\d+)\)(?: (.*))?", value)
        if not match:
            return value
        if match.group(2) is not None:
            names[match.group(1)] = match.group(2)
        return names.get(match.group(1), "")

    def function(name):
        return next((f for f in functions if name == f or name.startswith(f + "(")), None)

    current = callee = None
    after_calls = False
    for line in path.read_text().split("\n"):
        if line.startswith("fn="):
            current = function(named(line[3:]))
        elif line.startswith("cfn="):
            callee = function(named(line[4:]))
        elif line.startswith("calls="):
            after_calls = True
        elif line[:1].isdigit() or line[:1] in ("+", "-", "*"):
            if current is not None and not (after_calls and callee == current):
                parts = line.split()
                totals[current] += int(parts[1]) if len(parts) > 1 else 0
            after_calls = False
    return totals


def callgrind_points(path):
    """{(major, mode): [(calls, file suffix)]} of callgrind.txt, as callgrind_per_call reads it."""
    points = {}
    if path.exists():
        for line in path.read_text().split("\n"):
            parts = line.split()
            if len(parts) == 4 and parts[0].isdigit() and parts[2].isdigit():
                points.setdefault((int(parts[0]), parts[1]), []).append(int(parts[2]))
    return {key: sorted(calls) for key, calls in points.items()}


def callgrind_inclusive_per_call(results, major, mode, functions):
    """{function: instructions per call} from the raw files callgrind.trt<major>.<mode>.<calls> of the
    fewest and the most calls bench/run.sh made: their difference over the difference of the calls."""
    calls = callgrind_points(results / "callgrind.txt").get((major, mode), [])
    if len(calls) < 2:
        return {}
    files = [results / f"callgrind.trt{major}.{mode}.{n}" for n in (calls[0], calls[-1])]
    if not all(f.exists() for f in files):
        return {}
    low, high = (callgrind_inclusive(f, functions) for f in files)
    return {f: (high[f] - low[f]) / (calls[-1] - calls[0]) for f in functions}


def times_table(rows, time_runs):
    """Wall-clock and CPU time per call of each (label, benchmark name, _) row, and the ratio to the
    floor of the same run and interface, as ranges over the runs."""
    out = [
        "| path | TensorRT interface | time per call, µs (real) | CPU µs | × floor (time) |",
        "|---|---|---:|---:|---:|",
    ]
    for label, name, _ in rows:
        for major, interface in INTERFACES:
            real, cpu, ratio = [], [], []
            for runs in time_runs:
                run, floor = runs.get(major, {}).get(name), runs.get(major, {}).get("floor")
                if not run:
                    continue
                real.append(run["real_time"])
                cpu.append(run["cpu_time"])
                ratio.append(run["real_time"] / floor["real_time"] if floor else None)
            if real:
                out.append(f"| {label} | {interface} | {span(real, 2)} | {span(cpu, 2)} | {span(ratio, 2)} |")
    return "\n".join(out)
