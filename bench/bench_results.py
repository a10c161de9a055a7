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
