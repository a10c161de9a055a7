"""The sessions interface's tables of bench/README.md: per call against the floors (counts, then times),
device memory of n sessions against n handles, and calls per second from several threads."""
from bench_results import INTERFACES, fmt, load_average, span, times_table

# (path as the benchmarks and the probe name it, what the call is); see bench/session_runners.h.
PATHS = [
    ("run_host", "`inferlet_session_run`, host memory"),
    ("pinned", "`inferlet_session_enqueue` + `wait`, pinned memory"),
    ("device", "`inferlet_session_enqueue` + `wait`, device memory"),
    ("graph_host", "`inferlet_session_run`, host memory, graph replayed"),
    ("graph_device", "`inferlet_session_enqueue` + `wait`, device memory, graph replayed"),
]

# Per-call rows: (label, benchmark name, callgrind mode).
PER_CALL_ROWS = [("floor: TensorRT + CUDA directly, least work (host memory)", "floor", "floor")]
for _path, _call in PATHS:
    PER_CALL_ROWS.append((f"floor with the session's TensorRT/CUDA calls: {_call}", f"session_floor/{_path}",
                          f"session_floor_{_path}"))
    PER_CALL_ROWS.append((_call, f"session/{_path}", f"session_{_path}"))
PER_CALL_ROWS += [("`kestrel_trt_process`, plain", "process/plain", "plain"),
                  ("`kestrel_trt_process`, CUDA graph", "process/cuda_graph", "cuda_graph")]

OWN_INSTRUCTIONS_GOAL = 2000


def per_call_counts_table(counts, instructions):
    out = [
        "| path | TensorRT interface | instructions per call | × floor (instructions) | heap allocations per call | network runs per call | stream syncs per call | graph launches per call |",
        "|---|---|---:|---:|---:|---:|---:|---:|",
    ]
    for label, name, mode in PER_CALL_ROWS:
        for major, interface in INTERFACES:
            run = counts.get(major, {}).get(name)
            if not run:
                continue
            instr, floor_instr = instructions.get((major, mode)), instructions.get((major, "floor"))
            out.append("| {} | {} | {} | {} | {} | {} | {} | {} |".format(
                label, interface, fmt(instr, 0) if instr else "n/a",
                fmt(instr / floor_instr, 3) if instr and floor_instr else "n/a",
                fmt(run.get("heap_allocs_per_call"), 2), fmt(run.get("network_runs_per_call"), 0),
                fmt(run.get("syncs_per_call"), 0), fmt(run.get("graph_launches_per_call"), 0)))
    return "\n".join(out)


def own_code_notes(counts, instructions):
    """Per interface and path: the session path minus the floor that makes its calls, against the goals."""
    notes = []
    for major, interface in INTERFACES:
        parts, worst, allocating = [], None, False
        for path, _ in PATHS:
            session, floor = counts.get(major, {}).get(f"session/{path}"), counts.get(major, {}).get(
                f"session_floor/{path}")
            figures = []
            if instructions.get((major, f"session_{path}")) and instructions.get((major, f"session_floor_{path}")):
                own = instructions[(major, f"session_{path}")] - instructions[(major, f"session_floor_{path}")]
                worst = own if worst is None else max(worst, own)
                figures.append(f"**{own:,.0f}** instructions")
            if session and floor:
                allocations = round(session["heap_allocs_per_call"] - floor["heap_allocs_per_call"], 2) + 0.0
                allocating = allocating or allocations > 0
                figures.append(f"**{allocations:.2f}** heap allocations")
            if figures:
                parts.append(f"{path} " + ", ".join(figures))
        if not parts:
            continue
        verdict = []
        if worst is not None:
            verdict.append(f"at most {worst:,.0f} instructions, "
                           + ("under" if worst < OWN_INSTRUCTIONS_GOAL else "NOT under") + " the 2,000 of the goal")
        verdict.append("no heap allocation per call" if not allocating else "heap allocations per call: goal MISSED")
        notes.append(f"The sessions library's own code per call, {interface} (session path minus the floor that "
                     f"makes its TensorRT/CUDA calls): " + "; ".join(parts) + ". That is " + ", ".join(verdict) + ".")
    return notes


def graph_notes(instructions):
    """A replayed graph against a plain call of the same memory kind, and the legacy graph path."""
    notes = []
    for major, interface in INTERFACES:
        ratios = []
        for graph, plain, what in (("graph_host", "run_host", "host memory"), ("graph_device", "device", "device memory")):
            g, p = instructions.get((major, f"session_{graph}")), instructions.get((major, f"session_{plain}"))
            if g and p:
                ratios.append(f"{what} **{g / p:.3f}×** its plain call ({'no more' if g <= p else 'MORE'} than it)")
        floor, legacy = instructions.get((major, "floor")), instructions.get((major, "cuda_graph"))
        if floor and legacy:
            ratios.append(f"`kestrel_trt_process` with a CUDA graph {legacy / floor:.3f}× the floor")
        if ratios:
            notes.append(f"A replayed graph, {interface}, in instructions: " + "; ".join(ratios) + ".")
    return notes


def per_call_times_table(runs):
    return times_table(PER_CALL_ROWS, runs)


MEMORY_ENGINES = [("mlp", "`mlp` network, static shapes (`bench/networks/mlp_static.json`)"),
                  ("16MiB", "16 MiB of weights, static shapes")]


def memory_table(memory):
    out = [
        "| engine | TensorRT interface | n | n handles, device bytes | one engine + n sessions, device bytes | of which the engine (once) | per session | sessions ÷ handles | as `inferlet_engine_device_memory` + `inferlet_session_device_memory` say |",
        "|---|---|---:|---:|---:|---:|---:|---:|---:|",
    ]
    for engine, label in MEMORY_ENGINES:
        for major, interface in INTERFACES:
            for n in (1, 2, 4):
                run = memory.get(major, {}).get(f"sessions_memory/{engine}/{n}")
                if not run:
                    continue
                handles, sessions = run["handles_device_bytes"], run["sessions_device_bytes"]
                out.append("| {} | {} | {} | {} | {} | {} | {} | {} | {} |".format(
                    label, interface, n, fmt(handles, 0), fmt(sessions, 0), fmt(run["engine_device_bytes"], 0),
                    fmt(run["device_bytes_per_session"], 0), fmt(sessions / handles, 3) if handles > 0 else "n/a",
                    fmt(run.get("reported_device_bytes"), 0)))
    return "\n".join(out)


THROUGHPUT_ROWS = [("two_profiles", 1), ("two_profiles", 2), ("four_profiles", 4)]
DRIVEN = [("sessions", "session{} of one engine"), ("handles", "`kestrel_trt_*` handle{}")]


def driven(label, n):
    return f"{n} " + label.format("" if n == 1 else "s")


def throughput_counts_table(counts):
    out = [
        "| engine | driven | TensorRT interface | threads | network runs per call | concurrent_profile_uses (strict mode) |",
        "|---|---|---|---:|---:|---:|",
    ]
    for engine, n in THROUGHPUT_ROWS:
        for kind, label in DRIVEN:
            for major, interface in INTERFACES:
                run = counts.get(major, {}).get(f"throughput/{kind}/{engine}/{n}")
                if run:
                    out.append(f"| `{engine}` | {driven(label, n)} | {interface} | {n} | "
                               f"{fmt(run.get('network_runs_per_call'), 2)} | {fmt(run.get('concurrent_profile_uses'), 0)} |")
    return "\n".join(out)


def throughput_times_table(runs):
    """Calls per second over the runs; the scaling is to one thread of the same kind in the same run."""
    out = [
        "| engine | driven | TensorRT interface | threads | calls per second, all threads | per thread | × one thread |",
        "|---|---|---|---:|---:|---:|---:|",
    ]
    for engine, n in THROUGHPUT_ROWS:
        for kind, label in DRIVEN:
            for major, interface in INTERFACES:
                total, per_thread, scaling = [], [], []
                for benchmarks in runs:
                    run = benchmarks.get(major, {}).get(f"throughput/{kind}/{engine}/{n}")
                    one = benchmarks.get(major, {}).get(f"throughput/{kind}/two_profiles/1")
                    if not run:
                        continue
                    total.append(run["calls_per_second"])
                    per_thread.append(run["calls_per_second_per_thread"])
                    scaling.append(run["calls_per_second"] / one["calls_per_second"] if one else None)
                if total:
                    out.append(f"| `{engine}` | {driven(label, n)} | {interface} | {n} | {span(total, 0)} | "
                               f"{span(per_thread, 0)} | {span(scaling, 2)} |")
    return "\n".join(out)


def render(header, runs, memory, instructions, results):
    counts = runs[0][1] if runs else {}
    loads = "; ".join(f"run {k}: {load}" for k, _, load in runs)
    notes = own_code_notes(counts, instructions) + graph_notes(instructions)
    parts = header + [
        "",
        "### Counts (they reproduce)",
        "",
        "**Per call** — sample engine `smoke` (two [10, 340] float inputs, one [10, 338] output), batch 10, one "
        "session on its one profile, its own stream; each path against its floor, the same engine driven "
        "directly through TensorRT and CUDA with exactly the session's calls (and, for host memory, its "
        "copies through pinned staging); the legacy rows for comparison. Instructions from callgrind, "
        "(I(1000 calls) − I(500 calls)) / 500" + ("" if instructions else " (not measured on this machine)")
        + "; × floor is to the least-work floor of the same interface.",
        "",
        per_call_counts_table(counts, instructions),
        "",
    ] + [f"- {n}" for n in notes] + [
        "",
        "**Device memory of n sessions of one engine against n handles** — both on the same engine file, "
        "built with static shapes, so that its one profile serves any number of sessions (a dynamic-shape "
        "engine serves one session per profile); default session options. Device bytes as the device's "
        "own count moved (the emulator's live device bytes, or `cudaMemGetInfo` on a GPU).",
        "",
        memory_table(memory),
        "",
        "**Sessions from several threads** — one thread per session (or handle), each making "
        "`inferlet_session_run` calls of batch 4 from host memory (`kestrel_trt_process` on profile 0 for "
        "handles) for 0.5 s; session p on profile p: `two_profiles` (sample) for 1 and 2 sessions, "
        "`four_profiles` (`bench/networks/`, the same network with four profiles) for 4. The stand-in "
        "TensorRT runs in strict mode meanwhile, where two contexts of one engine queued on one profile "
        "at once would be counted.",
        "",
        throughput_counts_table(counts),
        "",
        "### Times (noisy)",
        "",
        f"Ranges (lowest–highest) over {len(runs)} runs, per call each a median of 3 repetitions, calls per "
        f"second each one 0.5 s measurement; the ratios are taken within each run. Load average (1, 5, 15 "
        f"min) at the start of each run: {loads or 'not recorded'}.",
        "",
        per_call_times_table([r for _, r, _ in runs]),
        "",
        "**Calls per second from several threads** (the threads share the CPUs of the machine line; × one "
        "thread: to one thread of the same kind on `two_profiles` in the same run):",
        "",
        throughput_times_table([r for _, r, _ in runs]),
        "",
        f"Device memory measured once (load average at its start: {load_average(results / 'load.memory.txt')}).",
    ]
    return "\n".join(parts) + "\n"
