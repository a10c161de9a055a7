"""Many threads on one engine, each with its own session (on its own profile where the engine has
dynamic shapes), every result its own; and the GIL released while a call is in flight, shown by a
second thread that counts steps while the call is held inside the library (gil_probe.py, in a child
process so that a call holding the GIL hangs the child, not the suite)."""

import json
import subprocess
import sys
import threading
import zlib
from pathlib import Path

import numpy as np
import pytest

import inferlet
from conftest import SAMPLES, engine_path
from reference import compute, random_inputs, read

CALLS = 25


def serve(engine, network, profile, barrier, seed, failures):
    try:
        with inferlet.Session(engine, profile=profile) as session:
            barrier.wait()
            for call in range(CALLS):
                point = ("min", "opt", "max")[call % 3]
                inputs = random_inputs(network, profile, point, seed=seed * 1000 + call)
                expected = compute(network, inputs)
                outputs = session.run(inputs)
                if any(outputs[name].tobytes() != want.tobytes() for name, want in expected.items()):
                    failures.append(f"session {seed}, call {call}: outputs differ from the network's")
    except Exception as error:  # reported by the test, with the thread it came from
        failures.append(f"session {seed}: {error!r}")
        barrier.abort()


@pytest.mark.parametrize(
    "name,profiles",
    [("two_profiles", [0, 1]), ("static_batch", [0, 0, 0, 0])],
    ids=["a_profile_each", "one_static_profile"],
)
def test_threads_share_one_engine(load, major, name, profiles):
    network = read(SAMPLES / f"{name}.json")
    engine = load(name, major)
    barrier = threading.Barrier(len(profiles))
    failures = []
    threads = [
        threading.Thread(target=serve, args=(engine, network, profile, barrier, seed, failures))
        for seed, profile in enumerate(profiles)
    ]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert failures == []


@pytest.mark.skipif(inferlet.DEVICE != "emulated", reason="holds a call on the emulated device's stream")
@pytest.mark.parametrize("mode", ["run", "wait"])
def test_another_thread_runs_while_a_call_is_in_flight(major, mode):
    probe = Path(__file__).with_name("gil_probe.py")
    child = subprocess.run(
        [sys.executable, str(probe), str(engine_path("static_batch", major)), str(major), mode],
        capture_output=True,
        text=True,
        timeout=60,
    )
    assert child.returncode == 0, child.stderr
    assert json.loads(child.stdout) == {"steps": 1000, "returned_early": False, "correct": True}
