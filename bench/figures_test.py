#!/usr/bin/env python3
"""What figures.py and sessions_figures.py make of results: the names Google Benchmark's suffixes hide,
the library's own code against the goals, a replayed graph against a plain call, the memory ratios, the
scaling of calls per second, and the splicing into the README's two sections."""
import json
import pathlib
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True  # the modules under test lie in the source tree: leave no cache there
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

import bench_results  # noqa: E402
import figures  # noqa: E402
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


class SpliceTest(unittest.TestCase):
    def test_each_section_is_replaced_between_its_markers_alone(self):
        content = "a\n<!-- x:begin -->\nold\n<!-- x:end -->\nb\n<!-- sessions-x:begin -->\nold\n<!-- sessions-x:end -->\n"
        content = figures.splice(content, "x", "new\n", "README.md")
        self.assertEqual(content, "a\n<!-- x:begin -->\nnew\n<!-- x:end -->\nb\n<!-- sessions-x:begin -->\nold\n"
                                  "<!-- sessions-x:end -->\n")
        with self.assertRaises(SystemExit):
            figures.splice(content, "gpu", "new\n", "README.md")


if __name__ == "__main__":
    unittest.main()
