#!/usr/bin/env python3
"""What figures.py, sessions_figures.py and frontends_figures.py make of results: the names Google
Benchmark's suffixes hide, the library's own code against the goals, a replayed graph against a plain
call, the memory ratios, the scaling of calls per second, callgrind's inclusive counts and the split of
a Python call, the Python call against the C call, inferlet-run's rows, and the splicing into the
README's sections."""
import json
import pathlib
import sys
import tempfile
import unittest
import unittest.mock

sys.dont_write_bytecode = True  # the modules under test lie in the source tree: leave no cache there
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

import bench_results  # noqa: E402
import figures  # noqa: E402
import frontends_figures  # noqa: E402
import sessions_figures  # noqa: E402


def counts(allocations):
    """{major: {benchmark: counters}} with the given heap allocations per call, per benchmark name."""
    return {8: {name: {"heap_allocs_per_call": value, "network_runs_per_call": 1, "syncs_per_call": 1,
                       "graph_launches_per_call": 0} for name, value in allocations.items()}}


class ResultsTest(unittest.TestCase):
    def test_names_lose_the_suffixes_and_aggregates_keep_the_median(self):
        runs = [
            {"name": "throughput/sessions/two_profiles/2/iterations:1/repeats:1/manual_time",
             "run_name": "throughput/sessions/two_profiles/2/iterations:1/repeats:1/manual_time",
             "run_type": "iteration", "calls_per_second": 5.0},
            {"name": "session/pinned_mean", "run_name": "session/pinned", "run_type": "aggregate",
             "aggregate_name": "mean", "real_time": 1.0},
            {"name": "session/pinned_median", "run_name": "session/pinned", "run_type": "aggregate",
             "aggregate_name": "median", "real_time": 2.0},
            {"name": "handles/mlp/4/iterations:1", "run_type": "iteration", "real_time": 3.0},
        ]
        with tempfile.TemporaryDirectory() as folder:
            path = pathlib.Path(folder) / "run.json"
            path.write_text(json.dumps({"benchmarks": runs}))
            table = bench_results.load_benchmarks(path)
        self.assertEqual(sorted(table), ["handles/mlp/4", "session/pinned", "throughput/sessions/two_profiles/2"])
        self.assertEqual(table["session/pinned"]["real_time"], 2.0)


class SessionNotesTest(unittest.TestCase):
    def test_own_code_is_the_path_minus_its_floor_against_the_goals(self):
        cases = [
            # (session, floor instructions of run_host; allocations session, floor; expected phrases)
            (101_500, 100_000, 7.0, 7.0,
             ["run_host **1,500** instructions, **0.00** heap allocations",
              "at most 1,500 instructions, under the 2,000 of the goal, no heap allocation per call"]),
            (102_000, 100_000, 8.0, 7.0,
             ["run_host **2,000** instructions, **1.00** heap allocations",
              "at most 2,000 instructions, NOT under the 2,000 of the goal, heap allocations per call: goal MISSED"]),
        ]
        for session, floor, session_allocs, floor_allocs, phrases in cases:
            with self.subTest(session=session):
                instructions = {(8, "session_run_host"): session, (8, "session_floor_run_host"): floor}
                notes = sessions_figures.own_code_notes(
                    counts({"session/run_host": session_allocs, "session_floor/run_host": floor_allocs}), instructions)
                self.assertEqual(len(notes), 1)
                for phrase in phrases:
                    self.assertIn(phrase, notes[0])

    def test_a_replayed_graph_is_set_against_the_plain_call_of_its_memory_kind(self):
        instructions = {(8, "session_graph_host"): 90.0, (8, "session_run_host"): 100.0,
                        (8, "session_graph_device"): 110.0, (8, "session_device"): 100.0,
                        (8, "floor"): 50.0, (8, "cuda_graph"): 92.0}
        self.assertEqual(sessions_figures.graph_notes(instructions), [
            "A replayed graph, binding-index (8), in instructions: host memory **0.900×** its plain call (no more "
            "than it); device memory **1.100×** its plain call (MORE than it); `kestrel_trt_process` with a CUDA "
            "graph 1.840× the floor."])


class SessionTablesTest(unittest.TestCase):
    def test_memory_rows_set_n_sessions_against_n_handles(self):
        run = {"handles_device_bytes": 4000, "sessions_device_bytes": 1500, "engine_device_bytes": 1000,
               "device_bytes_per_session": 125, "reported_device_bytes": 1500}
        table = sessions_figures.memory_table({8: {"sessions_memory/16MiB/4": run}})
        self.assertIn("| 16 MiB of weights, static shapes | binding-index (8) | 4 | 4,000 | 1,500 | 1,000 | 125 | "
                      "0.375 | 1,500 |", table.split("\n"))

    def test_calls_per_second_scale_to_one_thread_of_the_same_run(self):
        def run(per_second, threads):
            return {"calls_per_second": per_second, "calls_per_second_per_thread": per_second / threads}

        runs = [{8: {"throughput/sessions/two_profiles/1": run(1000, 1), "throughput/sessions/two_profiles/2": run(1500, 2)}},
                {8: {"throughput/sessions/two_profiles/1": run(2000, 1), "throughput/sessions/two_profiles/2": run(2000, 2)}}]
        lines = sessions_figures.throughput_times_table(runs).split("\n")
        self.assertIn("| `two_profiles` | 2 sessions of one engine | binding-index (8) | 2 | 1,500–2,000 | 750–1,000 | "
                      "1.00–1.50 |", lines)
        self.assertIn("| `two_profiles` | 1 session of one engine | binding-index (8) | 1 | 1,000–2,000 | 1,000–2,000 | "
                      "1.00 |", lines)


# A callgrind file in the tool's own format: names compressed ("fn=(id) name" once, "(id)" after),
# positions relative ("+2", "*"), a call's inclusive cost on the line after "calls=".
CALLGRIND = """# callgrind format
events: Ir
summary: 1000

ob=(1) /lib/libpython.so
fl=(1) ceval.c
fn=(1) _PyEval_EvalFrameDefault
10 7
cfn=(2) inferlet_python::Session::run(nanobind::list, nanobind::list)
calls=1 20
* 300
cfn=(3) array_interface_get
calls=3 30
* 45

fl=(2) session.cpp
fn=(2)
20 5
cfn=(4) inferlet_session_run
calls=1 40
+2 250
fi=(3) vector.h
+1 3
cfn=(2)
calls=1 20
* 42

fn=(4)
40 200
cfn=(5) cudaStreamSynchronize
calls=1 50
* 50
"""


class CallgrindTest(unittest.TestCase):
    def test_inclusive_counts_sum_every_block_and_call_of_a_function_but_its_calls_of_itself(self):
        with tempfile.TemporaryDirectory() as folder:
            path = pathlib.Path(folder) / "callgrind.out"
            path.write_text(CALLGRIND)
            counts = bench_results.callgrind_inclusive(
                path, ["inferlet_python::Session::run", "inferlet_session_run", "array_interface_get", "absent"])
        # Session::run: 5 + 3 of its own (one line in an inlined file) + the library's 250, not its call of itself.
        self.assertEqual(counts, {"inferlet_python::Session::run": 258, "inferlet_session_run": 250,
                                  "array_interface_get": 0, "absent": 0})

    def test_per_call_is_the_difference_of_the_fewest_and_the_most_calls(self):
        with tempfile.TemporaryDirectory() as folder:
            results = pathlib.Path(folder)
            (results / "callgrind.txt").write_text("8 python_run 1000 9000\n8 python_run 500 4000\n8 plain 500 1\n")
            (results / "callgrind.trt8.python_run.500").write_text(CALLGRIND)
            (results / "callgrind.trt8.python_run.1000").write_text(CALLGRIND.replace("+2 250", "+2 1250").replace("40 200", "40 1200"))
            per_call = bench_results.callgrind_inclusive_per_call(
                results, 8, "python_run", ["inferlet_session_run", "inferlet_python::Session::run"])
            self.assertEqual(per_call, {"inferlet_session_run": 2.0, "inferlet_python::Session::run": 2.0})
            self.assertEqual(bench_results.callgrind_inclusive_per_call(results, 8, "plain", ["x"]), {})


class PythonCallTest(unittest.TestCase):
    def test_a_python_call_splits_into_the_library_the_extension_and_the_python_side(self):
        inclusive = {"inferlet_session_run": 290_000, "inferlet_python::Session::run": 295_500,
                     "inferlet_python::Session::resolve_shapes": 15_500, "inferlet_session_resolve_shapes": 11_000,
                     "array_interface_get": 33_000, "array_empty": 1_800}
        split = frontends_figures.python_split(420_000, inclusive)
        self.assertEqual(split, {"whole": 420_000, "library": 290_000, "extension_run": 5_500, "resolve": 15_500,
                                 "library_resolve": 11_000, "python": 109_000, "array_interface": 33_000,
                                 "numpy_empty": 1_800, "package": 130_000})
        self.assertIn("| `session.run(inputs)` from Python, outputs made by the package | binding-index (8) | 420,000 | "
                      "290,000 | 5,500 | 15,500, of which 11,000 | 109,000 | 33,000 | 1,800 | 130,000 (31%) |",
                      frontends_figures.split_table({(8, "run"): split}).split("\n"))
        self.assertIsNone(frontends_figures.python_split(420_000, {"array_empty": 1}))

    def test_the_python_call_is_set_against_the_c_call_in_instructions_and_in_the_time_of_its_own_run(self):
        instructions = {(8, "session_run_host"): 200_000.0, (8, "python_run"): 300_000.0,
                        (8, "session_device"): 100_000.0, (8, "python_device"): 125_000.0}
        counts = frontends_figures.python_counts_table(instructions).split("\n")
        self.assertIn("| `session.run(inputs)` from Python, outputs made by the package | binding-index (8) | 300,000 | "
                      "1.500 |", counts)
        # Device arrays are set against the C call in device memory.
        self.assertIn("| `session.run(inputs, outputs)` from Python, device arrays in and out | binding-index (8) | "
                      "125,000 | 1.250 |", counts)

        def python(*real_ns):
            return {8: {"run": {"real_ns": list(real_ns), "cpu_ns": [n / 2 for n in real_ns], "calls": [1] * 3}}}

        c = {"real_time": 8.0, "cpu_time": 7.0}
        runs = [({8: {"session/run_host": c}}, python(16_000, 20_000, 18_000)),  # median 18 µs: 2.25×
                ({8: {"session/run_host": dict(c, real_time=10.0)}}, python(20_000, 20_000, 50_000))]  # 2.00×
        lines = frontends_figures.python_times_table(runs).split("\n")
        self.assertIn("| `inferlet_session_run` from C, host memory | binding-index (8) | 8.00–10.00 | 7.00 | 1.00 |", lines)
        self.assertIn("| `session.run(inputs)` from Python, outputs made by the package | binding-index (8) | "
                      "18.00–20.00 | 9.00–10.00 | 2.00–2.25 |", lines)


class RunnerTest(unittest.TestCase):
    @staticmethod
    def report(total, sessions=None, latency=(4.0, 9.0)):
        def part(calls_per_s, median, p99):
            return {"throughput": {"calls_per_s": calls_per_s}, "latency": {"median_us": median, "p99_us": p99}}

        report = part(total, *latency)
        if sessions is not None:
            report["sessions"] = [part(s, *latency) for s in sessions]
        return report

    def test_rows_range_over_sessions_and_runs_and_scale_to_one_session_of_the_same_run(self):
        runs = [{8: {"sessions-1": self.report(100.0, [100.0]), "sessions-2": self.report(150.0, [70.0, 80.0]),
                     "legacy-1": self.report(120.0)}},
                {8: {"sessions-1": self.report(200.0, [200.0]), "sessions-2": self.report(200.0, [90.0, 110.0],
                                                                                          (5.0, 9.0))}}]
        lines = frontends_figures.runner_times_table(runs).split("\n")
        self.assertIn("| `two_profiles` | 2 sessions (`--sessions 2`), profiles 0, 1 | binding-index (8) | 2 | 150–200 | "
                      "70–110 | 1.00–1.50 | 4.00–5.00 | 9.00 |", lines)
        self.assertIn("| `two_profiles` | 1 `kestrel_trt_*` handle (`--api legacy`) | binding-index (8) | 1 | 120 | 120 | "
                      "1.20 | 4.00 | 9.00 |", lines)
        self.assertFalse(any("four_profiles" in line for line in lines))

    def test_the_counts_name_profiles_batch_and_each_sessions_device_memory(self):
        sessions = {"run": {"profiles": [0, 1], "batch": 4},
                    "device_memory": {"engine": 0, "sessions": [3584, 8192], "total": 11776}}
        legacy = {"run": {"profile": 0, "batch": 4}, "device_memory": {"total": 9728}}
        lines = frontends_figures.runner_counts_table({10: {"sessions-2": sessions, "legacy-1": legacy}}).split("\n")
        self.assertIn("| `two_profiles` | 2 sessions (`--sessions 2`), profiles 0, 1 | named-tensor (10) | 0, 1 | 4 | "
                      "0 + 3,584 + 8,192 |", lines)
        self.assertIn("| `two_profiles` | 1 `kestrel_trt_*` handle (`--api legacy`) | named-tensor (10) | 0 | 4 | 9,728 |",
                      lines)


class SpliceTest(unittest.TestCase):
    def test_each_section_is_replaced_between_its_markers_alone(self):
        content = "a\n<!-- x:begin -->\nold\n<!-- x:end -->\nb\n<!-- sessions-x:begin -->\nold\n<!-- sessions-x:end -->\n"
        content = figures.splice(content, "x", "new\n", "README.md")
        self.assertEqual(content, "a\n<!-- x:begin -->\nnew\n<!-- x:end -->\nb\n<!-- sessions-x:begin -->\nold\n"
                                  "<!-- sessions-x:end -->\n")
        with self.assertRaises(SystemExit):
            figures.splice(content, "gpu", "new\n", "README.md")

    def test_a_run_rewrites_its_three_sections_and_no_other(self):
        sections = ["emulated", "sessions-emulated", "frontends-emulated", "frontends-gpu"]
        readme_text = "".join(f"<!-- {s}:begin -->\nold\n<!-- {s}:end -->\n" for s in sections)
        with tempfile.TemporaryDirectory() as folder:
            results, readme = pathlib.Path(folder), pathlib.Path(folder) / "README.md"
            readme.write_text(readme_text)
            (results / "runner.trt8.sessions-1.1.json").write_text(json.dumps(
                {"run": {"profiles": [0], "batch": 4, "min_duration_s": 1.0},
                 "device_memory": {"engine": 0, "sessions": [3584]}, **RunnerTest.report(100.0, [100.0])}))
            argv = ["figures.py", "--results", folder, "--machine", "m", "--device", "d", "--command", "c",
                    "--readme", str(readme)]
            with unittest.mock.patch.object(sys, "argv", argv):
                figures.main()
            text = readme.read_text()
        self.assertEqual(text.count("\nold\n"), 1)  # frontends-gpu's
        frontends = text.split("<!-- frontends-emulated:begin -->")[1].split("<!-- frontends-emulated:end -->")[0]
        self.assertIn("then 1.0 s of timed calls", frontends)
        self.assertIn("| `two_profiles` | 1 session (`--api sessions --sessions 1`) | binding-index (8) | 1 | 100 | 100 | "
                      "1.00 | 4.00 | 9.00 |", frontends.split("\n"))


if __name__ == "__main__":
    unittest.main()
