#!/usr/bin/env python3
"""Turns the benchmark results of bench/run.sh or bench/gpu.sh into Markdown tables, and splices them
into bench/README.md between <!-- SECTION:begin --> and <!-- SECTION:end -->."""
import argparse
import json
import pathlib
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
        name = re.sub(r"/iterations:\d+$", "", name)
        table[name] = run
    return table


def callgrind_per_call(path):
    """{mode: instructions per call} from lines 'mode calls instructions'."""
    if not path.exists():
        return {}
    totals = {}
    for line in path.read_text().split("\n"):
        parts = line.split()
        if len(parts) == 3 and parts[2].isdigit():
            totals.setdefault(parts[0], []).append((int(parts[1]), int(parts[2])))
    result = {}
    for mode, points in totals.items():
        points.sort()
        if len(points) >= 2:
            (n1, i1), (n2, i2) = points[0], points[-1]
            result[mode] = (i2 - i1) / (n2 - n1)
    return result


def fmt(value, digits=1):
    if value is None:
        return "n/a"
    return f"{value:,.{digits}f}"


PER_CALL_ROWS = [
    ("floor: TensorRT + CUDA directly, least work", "floor", "floor"),
    ("floor with the library's TensorRT/CUDA calls", "floor/library_calls", "library_calls"),
    ("`kestrel_trt_process`, plain", "process/plain", "plain"),
    ("`kestrel_trt_process`, CUDA graph", "process/cuda_graph", "cuda_graph"),
]


def per_call_counts_table(runs, instructions):
    """What a call does, counted: instructions (callgrind), heap allocations, network runs, syncs."""
    floor_instr = instructions.get("floor")
    out = [
        "| path | instructions per call | × floor (instructions) | heap allocations per call | network runs per call | stream syncs per call |",
        "|---|---:|---:|---:|---:|---:|",
    ]
    for label, name, mode in PER_CALL_ROWS:
        run = runs.get(name)
        if not run:
            continue
        instr = instructions.get(mode)
        out.append("| {} | {} | {} | {} | {} | {} |".format(
            label, fmt(instr, 0) if instr else "n/a",
            fmt(instr / floor_instr, 3) if instr and floor_instr else "n/a",
            fmt(run.get("heap_allocs_per_call"), 2), fmt(run.get("network_runs_per_call"), 0),
            fmt(run.get("syncs_per_call"), 0)))
    plain, mirror = runs.get("process/plain"), runs.get("floor/library_calls")
    notes = []
    if plain and mirror:
        own = plain["heap_allocs_per_call"] - mirror["heap_allocs_per_call"]
        notes.append(f"Heap allocations the library itself makes per plain call (plain path minus the floor "
                     f"that makes the same TensorRT/CUDA calls): **{own:.2f}**.")
    if instructions.get("plain") and instructions.get("library_calls"):
        own = instructions["plain"] - instructions["library_calls"]
        notes.append(f"Instructions of the library's own code per plain call (same subtraction): **{own:,.0f}**.")
    return "\n".join(out) + ("\n\n" + "\n".join(f"- {n}" for n in notes) if notes else "")


def span(values, digits):
    """'a–b' over the runs (one value when they agree to the digits shown)."""
    values = [v for v in values if v is not None]
    if not values:
        return "n/a"
    low, high = fmt(min(values), digits), fmt(max(values), digits)
    return low if low == high else f"{low}–{high}"


def per_call_times_table(time_runs):
    """Wall-clock and CPU time per call, and the ratio to the floor of the same run, as ranges."""
    out = [
        "| path | time per call, µs (real) | CPU µs | × floor (time) |",
        "|---|---:|---:|---:|",
    ]
    for label, name, _ in PER_CALL_ROWS:
        real, cpu, ratio = [], [], []
        for runs in time_runs:
            run, floor = runs.get(name), runs.get("floor")
            if not run:
                continue
            real.append(run["real_time"])
            cpu.append(run["cpu_time"])
            ratio.append(run["real_time"] / floor["real_time"] if floor else None)
        if real:
            out.append(f"| {label} | {span(real, 2)} | {span(cpu, 2)} | {span(ratio, 2)} |")
    return "\n".join(out)


def construction_counts_table(runs):
    out = [
        "| weights | engine file, MiB | peak RSS growth, MiB | peak heap growth, MiB | byte-for-byte copies (memcpy/memmove ≥ weights) | peak RSS growth ÷ engine size |",
        "|---|---:|---:|---:|---:|---:|",
    ]
    for mib in (1, 16, 256):
        run = runs.get(f"construct/{mib}MiB")
        if not run:
            continue
        out.append("| {} MiB | {} | {} | {} | {} | {} |".format(
            mib, fmt(run["engine_MiB"], 2), fmt(run["peak_rss_growth_MiB"], 1),
            fmt(run["peak_heap_growth_MiB"], 1), fmt(run["engine_copies_memcpy"], 0),
            fmt(run["engine_copies_rss"], 2)))
    return "\n".join(out)


def construction_times_table(runs):
    out = [
        "| weights | `kestrel_trt_new`, ms (real) | CPU ms |",
        "|---|---:|---:|",
    ]
    for mib in (1, 16, 256):
        run = runs.get(f"construct/{mib}MiB")
        if run:
            out.append(f"| {mib} MiB | {fmt(run['real_time'], 1)} | {fmt(run['cpu_time'], 1)} |")
    return "\n".join(out)


def memory_table(runs):
    out = [
        "| path | RSS after 1 000 calls, MiB | after 100 000, MiB | heap after 1 000, MiB | after 100 000, MiB | live graphs (1 000 / 100 000) | live graph execs | device allocations |",
        "|---|---:|---:|---:|---:|---:|---:|---:|",
    ]
    for label, name in (("CUDA graph", "memory/cuda_graph"), ("plain", "memory/plain")):
        run = runs.get(name)
        if not run:
            continue
        pair = lambda key: (f"{run[key + '_1k']:.0f} / {run[key + '_100k']:.0f}" if key + "_1k" in run else "n/a")
        out.append("| {} | {} | {} | {} | {} | {} | {} | {} |".format(
            label, fmt(run["rss_MiB_1k"], 2), fmt(run["rss_MiB_100k"], 2), fmt(run["heap_MiB_1k"], 2),
            fmt(run["heap_MiB_100k"], 2), pair("live_graphs"), pair("live_graph_execs"),
            pair("device_allocs")))
    return "\n".join(out)


def load_average(path):
    """'1.44, 1.27, 2.44' from an uptime line."""
    if not path.exists():
        return "not recorded"
    match = re.search(r"load averages?:\s*(.*)$", path.read_text().strip())
    return match.group(1).strip() if match else "not recorded"


def time_runs(results):
    """[(run number, benchmarks, load average)] for per_call.<k>.json, in run order."""
    found = []
    for path in results.glob("per_call.*.json"):
        match = re.fullmatch(r"per_call\.(\d+)\.json", path.name)
        if match:
            k = int(match.group(1))
            found.append((k, load_benchmarks(path), load_average(results / f"load.{k}.txt")))
    return sorted(found, key=lambda run: run[0])


def render(args):
    results = pathlib.Path(args.results)
    runs = time_runs(results)
    counts = runs[0][1] if runs else {}
    memory = load_benchmarks(results / "memory.json")
    instructions = callgrind_per_call(results / "callgrind.txt")
    loads = "; ".join(f"run {k}: {load}" for k, _, load in runs)
    parts = [
        f"Machine: {args.machine}.  ",
        f"Device: {args.device}.  ",
        f"Command: `{args.command}`"
        + (f", {args.elapsed} s in all" if args.elapsed is not None else "")
        + " (results and logs in the build tree under `bench/results/`).",
        "",
        "### Counts (they reproduce)",
        "",
        "Counted, not timed: callgrind's instructions, the heap hooks' allocations, the emulator's network "
        "runs, synchronizations, graphs and allocations, resident-set and heap peaks. The machine's load "
        "does not move them; a few instructions (CUDA-graph path) and the resident-set peak of the 1 MiB "
        "construction (page granularity) can differ slightly between runs.",
        "",
        "**Per call** — sample engine `smoke` (two [10, 340] float inputs, one [10, 338] output), batch 10; "
        "instructions from callgrind, (I(1000 calls) − I(500 calls)) / 500"
        + (" (not measured on this machine)" if not instructions else "") + ".",
        "",
        per_call_counts_table(counts, instructions),
        "",
        "**Construction against engine size** — one dense layer of k × k float weights, batch 1: memory "
        "and copies of the engine bytes per `kestrel_trt_new`.",
        "",
        construction_counts_table(memory),
        "",
        "**Memory over many calls on one handle** — smoke engine, batch 10.",
        "",
        memory_table(memory),
        "",
        "### Times (noisy)",
        "",
        f"Wall-clock and CPU time on a machine shared with other work, so each figure is the range "
        f"(lowest–highest) over {len(runs)} runs of the per-call benchmarks, each a median of 3 repetitions; "
        f"the ratio to the floor is taken within each run. Load average (1, 5, 15 min, `uptime`) at the "
        f"start of each run: {loads or 'not recorded'}.",
        "",
        per_call_times_table([r for _, r, _ in runs]),
        "",
        f"**Construction time**, one run (load average at its start: "
        f"{load_average(results / 'load.memory.txt')}):",
        "",
        construction_times_table(memory),
    ]
    return "\n".join(parts) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--results", required=True)
    parser.add_argument("--machine", required=True)
    parser.add_argument("--device", required=True)
    parser.add_argument("--command", required=True)
    parser.add_argument("--elapsed", type=int, help="seconds the whole script took")
    parser.add_argument("--readme")
    parser.add_argument("--section", default="emulated")
    parser.add_argument("--markdown", help="write the figures to this file instead")
    args = parser.parse_args()
    text = render(args)
    if args.markdown:
        pathlib.Path(args.markdown).write_text(text)
        return
    readme = pathlib.Path(args.readme)
    content = readme.read_text()
    begin, end = f"<!-- {args.section}:begin -->", f"<!-- {args.section}:end -->"
    if begin not in content or end not in content:
        raise SystemExit(f"{readme}: markers {begin} / {end} not found")
    head, rest = content.split(begin, 1)
    _, tail = rest.split(end, 1)
    readme.write_text(head + begin + "\n" + text + end + tail)


if __name__ == "__main__":
    main()
