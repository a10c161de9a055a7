#!/usr/bin/env python3
"""Turns the benchmark results of bench/run.sh or bench/gpu.sh into Markdown tables, and splices them
into bench/README.md between <!-- SECTION:begin --> and <!-- SECTION:end --> (the legacy interface's),
between <!-- sessions-SECTION:begin --> and <!-- sessions-SECTION:end --> (the sessions interface's,
sessions_figures.py) and between <!-- frontends-SECTION:begin --> and <!-- frontends-SECTION:end -->
(the Python package's call and inferlet-run, frontends_figures.py)."""
import argparse
import pathlib
import sys

sys.dont_write_bytecode = True  # its modules beside it are imported from the source tree: leave no cache there

from bench_results import INTERFACES, callgrind_per_call, fmt, load_average, memory_runs, span, time_runs, times_table  # noqa: E402
import frontends_figures  # noqa: E402
import sessions_figures  # noqa: E402


PER_CALL_ROWS = [
    ("floor: TensorRT + CUDA directly, least work", "floor", "floor"),
    ("floor with the library's TensorRT/CUDA calls", "floor/library_calls", "library_calls"),
    ("`kestrel_trt_process`, plain", "process/plain", "plain"),
    ("`kestrel_trt_process`, CUDA graph", "process/cuda_graph", "cuda_graph"),
]

def per_call_counts_table(counts, instructions):
    """What a call does, counted: instructions (callgrind), heap allocations, network runs, syncs; per
    path one row per interface, the ratio taken to the floor of the same interface."""
    out = [
        "| path | TensorRT interface | instructions per call | × floor (instructions) | heap allocations per call | network runs per call | stream syncs per call |",
        "|---|---|---:|---:|---:|---:|---:|",
    ]
    for label, name, mode in PER_CALL_ROWS:
        for major, interface in INTERFACES:
            run = counts.get(major, {}).get(name)
            if not run:
                continue
            instr, floor_instr = instructions.get((major, mode)), instructions.get((major, "floor"))
            out.append("| {} | {} | {} | {} | {} | {} | {} |".format(
                label, interface, fmt(instr, 0) if instr else "n/a",
                fmt(instr / floor_instr, 3) if instr and floor_instr else "n/a",
                fmt(run.get("heap_allocs_per_call"), 2), fmt(run.get("network_runs_per_call"), 0),
                fmt(run.get("syncs_per_call"), 0)))
    notes = []
    for major, interface in INTERFACES:
        plain, mirror = counts.get(major, {}).get("process/plain"), counts.get(major, {}).get("floor/library_calls")
        own = []
        if plain and mirror:
            allocations = round(plain["heap_allocs_per_call"] - mirror["heap_allocs_per_call"], 2) + 0.0  # no -0.00
            own.append(f"heap allocations **{allocations:.2f}**")
        if instructions.get((major, "plain")) and instructions.get((major, "library_calls")):
            own.append(f"instructions **{instructions[(major, 'plain')] - instructions[(major, 'library_calls')]:,.0f}**")
        if own:
            notes.append(f"What the library's own code costs per plain call, {interface} (plain path minus "
                         f"the floor that makes the same TensorRT/CUDA calls): " + ", ".join(own) + ".")
    return "\n".join(out) + ("\n\n" + "\n".join(f"- {n}" for n in notes) if notes else "")


def per_call_times_table(time_runs):
    return times_table(PER_CALL_ROWS, time_runs)


def construction_counts_table(memory):
    out = [
        "| weights | TensorRT interface | engine file, MiB | peak RSS growth, MiB | peak heap growth, MiB | byte-for-byte copies (memcpy/memmove ≥ weights) | peak RSS growth ÷ engine size |",
        "|---|---|---:|---:|---:|---:|---:|",
    ]
    for mib in (1, 16, 256):
        for major, interface in INTERFACES:
            run = memory.get(major, {}).get(f"construct/{mib}MiB")
            if not run:
                continue
            out.append("| {} MiB | {} | {} | {} | {} | {} | {} |".format(
                mib, interface, fmt(run["engine_MiB"], 2), fmt(run["peak_rss_growth_MiB"], 1),
                fmt(run["peak_heap_growth_MiB"], 1), fmt(run["engine_copies_memcpy"], 0),
                fmt(run["engine_copies_rss"], 2)))
    return "\n".join(out)


def construction_times_table(memory):
    out = [
        "| weights | TensorRT interface | `kestrel_trt_new`, ms (real) | CPU ms |",
        "|---|---|---:|---:|",
    ]
    for mib in (1, 16, 256):
        for major, interface in INTERFACES:
            run = memory.get(major, {}).get(f"construct/{mib}MiB")
            if run:
                out.append(f"| {mib} MiB | {interface} | {fmt(run['real_time'], 1)} | {fmt(run['cpu_time'], 1)} |")
    return "\n".join(out)


def memory_table(memory):
    out = [
        "| path | TensorRT interface | RSS after 1 000 calls, MiB | after 100 000, MiB | heap after 1 000, MiB | after 100 000, MiB | live graphs (1 000 / 100 000) | live graph execs | device allocations |",
        "|---|---|---:|---:|---:|---:|---:|---:|---:|",
    ]
    for label, name in (("CUDA graph", "memory/cuda_graph"), ("plain", "memory/plain")):
        for major, interface in INTERFACES:
            run = memory.get(major, {}).get(name)
            if not run:
                continue
            pair = lambda key: (f"{run[key + '_1k']:.0f} / {run[key + '_100k']:.0f}" if key + "_1k" in run else "n/a")
            out.append("| {} | {} | {} | {} | {} | {} | {} | {} | {} |".format(
                label, interface, fmt(run["rss_MiB_1k"], 2), fmt(run["rss_MiB_100k"], 2),
                fmt(run["heap_MiB_1k"], 2), fmt(run["heap_MiB_100k"], 2), pair("live_graphs"),
                pair("live_graph_execs"), pair("device_allocs")))
    return "\n".join(out)


def handles_table(memory):
    out = [
        "| engine | TensorRT interface | handles | device bytes per handle | of which TensorRT's (weights, activations) | of which the library's buffers |",
        "|---|---|---:|---:|---:|---:|",
    ]
    for engine, label in (("mlp", "`mlp` sample"), ("16MiB", "16 MiB of weights")):
        for major, interface in INTERFACES:
            for n in (1, 4):
                run = memory.get(major, {}).get(f"handles/{engine}/{n}")
                if not run:
                    continue
                out.append("| {} | {} | {} | {} | {} | {} |".format(
                    label, interface, n, fmt(run["device_bytes_per_handle"], 0),
                    fmt(run.get("tensorrt_bytes_per_handle"), 0), fmt(run.get("buffer_bytes_per_handle"), 0)))
    return "\n".join(out)


def header(args):
    return [
        f"Machine: {args.machine}.  ",
        f"Device: {args.device}.  ",
        f"Command: `{args.command}`"
        + (f", {args.elapsed} s in all" if args.elapsed is not None else "")
        + " (results and logs in the build tree under `bench/results/`).",
    ]


def render(args):
    """The legacy interface's figures, the sessions interface's and its front ends'."""
    results = pathlib.Path(args.results)
    runs = time_runs(results)
    counts = runs[0][1] if runs else {}
    memory = memory_runs(results)
    instructions = callgrind_per_call(results / "callgrind.txt")
    loads = "; ".join(f"run {k}: {load}" for k, _, load in runs)
    parts = header(args) + [
        "",
        "### Counts (they reproduce)",
        "",
        "Counted, not timed: callgrind's instructions, the heap hooks' allocations, the emulator's network "
        "runs, synchronizations, graphs and allocations, resident-set and heap peaks. The machine's load "
        "does not move them; a few instructions (CUDA-graph path) and the resident-set peak of the 1 MiB "
        "construction (page granularity) can differ slightly between runs.",
        "",
        "**Per call** — sample engine `smoke` (two [10, 340] float inputs, one [10, 338] output), batch 10, "
        "through the binding-index interface (`inferlet8`, `enqueueV2`) and the named-tensor one "
        "(`inferlet10`, `setTensorAddress` and `enqueueV3`); instructions from callgrind, "
        "(I(1000 calls) − I(500 calls)) / 500"
        + (" (not measured on this machine)" if not instructions else "") + ".",
        "",
        per_call_counts_table(counts, instructions),
        "",
        "**Construction against engine size** — one dense layer of k × k float weights, batch 1: memory "
        "and copies of the engine bytes per `kestrel_trt_new`.",
        "",
        construction_counts_table(memory),
        "",
        "**Device memory per handle** — n handles of one engine (`kestrel_trt_new` each), the device "
        "memory they hold divided by n: every handle deserializes its own copy of the engine and holds its "
        "own execution context besides the library's buffers, so the figure does not fall with n.",
        "",
        handles_table(memory),
        "",
        "**Memory over many calls on one handle** — smoke engine, batch 10.",
        "",
        memory_table(memory),
        "",
        "### Times (noisy)",
        "",
        f"Wall-clock and CPU time on a machine shared with other work, so each figure is the range "
        f"(lowest–highest) over {len(runs)} runs of the per-call benchmarks (each run times both interfaces, "
        f"one after the other), each a median of 3 repetitions; the ratio to the floor of the same interface "
        f"is taken within each run. Load average (1, 5, 15 min, `uptime`) at the "
        f"start of each run: {loads or 'not recorded'}.",
        "",
        per_call_times_table([r for _, r, _ in runs]),
        "",
        f"**Construction time**, one run (load average at its start: "
        f"{load_average(results / 'load.memory.txt')}):",
        "",
        construction_times_table(memory),
    ]
    sessions = sessions_figures.render(header(args), runs, memory, instructions, results)
    frontends = frontends_figures.render(header(args), runs, instructions, results)
    return "\n".join(parts) + "\n", sessions, frontends


def splice(content, section, text, readme):
    begin, end = f"<!-- {section}:begin -->", f"<!-- {section}:end -->"
    if begin not in content or end not in content:
        raise SystemExit(f"{readme}: markers {begin} / {end} not found")
    head, rest = content.split(begin, 1)
    _, tail = rest.split(end, 1)
    return head + begin + "\n" + text + end + tail


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--results", required=True)
    parser.add_argument("--machine", required=True)
    parser.add_argument("--device", required=True)
    parser.add_argument("--command", required=True)
    parser.add_argument("--elapsed", type=int, help="seconds the whole script took")
    parser.add_argument("--readme")
    parser.add_argument("--section", default="emulated",
                        help="SECTION: the legacy figures go to SECTION, the sessions' to sessions-SECTION, "
                             "the front ends' to frontends-SECTION")
    parser.add_argument("--markdown", help="write the figures to this file instead")
    args = parser.parse_args()
    legacy, sessions, frontends = render(args)
    if args.markdown:
        pathlib.Path(args.markdown).write_text(legacy + "\n## Sessions interface\n\n" + sessions
                                               + "\n## The Python package and inferlet-run\n\n" + frontends)
        return
    readme = pathlib.Path(args.readme)
    content = splice(readme.read_text(), args.section, legacy, readme)
    content = splice(content, f"sessions-{args.section}", sessions, readme)
    readme.write_text(splice(content, f"frontends-{args.section}", frontends, readme))


if __name__ == "__main__":
    main()
