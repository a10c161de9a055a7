"""What a call does with the caller's arrays: outputs written in place or made, shapes known before the
call, inputs staged when enqueue returns, enqueue and wait on different threads, CUDA graphs, a stream
of the caller's, and what closing releases on the emulated device."""

import ctypes
import gc
from concurrent.futures import ThreadPoolExecutor

import numpy as np

import inferlet
from conftest import SAMPLES
from emulator import calls, live
from reference import compute, read

SMOKE = read(SAMPLES / "smoke.json")


def smoke_inputs(batch: int, seed: int) -> dict:
    rng = np.random.default_rng(seed)
    return {name: rng.standard_normal((batch, 340)).astype(np.float32) for name in ("in0", "in1")}


def smoke_bytes(inputs: dict) -> bytes:
    return compute(SMOKE, inputs)["out0"].tobytes()


def test_given_outputs_are_written_in_place(smoke):
    inputs = smoke_inputs(2, 1)
    exact = np.empty((2, 338), np.float32)
    larger = np.full((4, 338), -1.0, np.float32)
    flat = np.empty(676, np.float32)
    with inferlet.Session(smoke) as session:
        assert session.run(inputs, outputs={"out0": exact})["out0"] is exact
        shaped = session.run(inputs, outputs={"out0": larger})["out0"]
        reshaped = session.run(inputs, outputs={"out0": flat})["out0"]
    assert exact.tobytes() == smoke_bytes(inputs)
    # A larger array holds the output in its first elements, and the result is a view of them.
    assert shaped.shape == (2, 338) and np.shares_memory(shaped, larger)
    assert shaped.tobytes() == smoke_bytes(inputs)
    assert (larger[2:] == -1.0).all()
    assert reshaped.shape == (2, 338) and np.shares_memory(reshaped, flat)


def test_inputs_that_are_not_contiguous_are_read_as_their_values(smoke):
    inputs = smoke_inputs(3, 2)
    wide = {name: np.zeros((3, 680), np.float32) for name in inputs}
    for name, values in inputs.items():
        wide[name][:, ::2] = values
    strided = {name: array[:, ::2] for name, array in wide.items()}
    fortran = {name: np.asfortranarray(values) for name, values in inputs.items()}
    assert not strided["in0"].flags.c_contiguous and not fortran["in1"].flags.c_contiguous
    with inferlet.Session(smoke) as session:
        assert session.run(strided)["out0"].tobytes() == smoke_bytes(inputs)
        assert session.run(fortran)["out0"].tobytes() == smoke_bytes(inputs)


def test_output_shapes_are_known_before_the_call(load, major):
    engine = load("varying_width", major)
    with inferlet.Session(engine, profile=1) as session:
        assert session.output_shapes({"signal": (3, 100)}) == {"smoothed": (3, 98)}
        assert session.output_shapes({"signal": np.zeros((8, 64), np.float32)}) == {"smoothed": (8, 62)}
        signal = np.arange(5 * 70, dtype=np.float32).reshape(5, 70)
        assert session.run({"signal": signal})["smoothed"].shape == (5, 68)


def test_output_shapes_run_nothing_on_the_device(smoke, emu):
    with inferlet.Session(smoke) as session:
        copies, work = calls(emu, "cudaMemcpyAsync"), emu.cudaemu_work_executed()
        assert session.output_shapes({"in0": (7, 340), "in1": (7, 340)}) == {"out0": (7, 338)}
        assert (calls(emu, "cudaMemcpyAsync"), emu.cudaemu_work_executed()) == (copies, work)


def test_inputs_may_change_once_enqueue_returns(smoke):
    inputs = smoke_inputs(4, 3)
    expected = smoke_bytes(inputs)
    with inferlet.Session(smoke) as session:
        session.enqueue(inputs)
        for array in inputs.values():
            array[...] = 7.0
        assert session.wait()["out0"].tobytes() == expected


def test_enqueue_and_wait_may_come_from_different_threads(smoke):
    with inferlet.Session(smoke) as session, ThreadPoolExecutor(1) as queuer, ThreadPoolExecutor(1) as waiter:
        for seed in range(6):
            inputs = smoke_inputs(1 + seed, seed)
            queuer.submit(session.enqueue, inputs).result()
            assert waiter.submit(session.wait).result()["out0"].tobytes() == smoke_bytes(inputs)


def test_graphs_replay_with_each_calls_inputs(smoke, emu):
    with inferlet.Session(smoke, cuda_graphs=True, graph_cache_size=2) as session:
        launches = calls(emu, "cudaGraphLaunch")
        for seed in range(3):
            inputs = smoke_inputs(5, seed)
            assert session.run(inputs)["out0"].tobytes() == smoke_bytes(inputs)
        # The first call captures the graph that the next two launch.
        assert calls(emu, "cudaGraphLaunch") - launches == 2
        assert session.cuda_graphs


def test_a_session_may_run_on_the_callers_stream(smoke, emu):
    stream = ctypes.c_void_p()
    assert emu.cudaStreamCreate(ctypes.byref(stream)) == 0
    streams = live(emu)["streams"]
    try:
        with inferlet.Session(smoke, stream=stream.value) as session:
            assert live(emu)["streams"] == streams  # no stream of its own
            inputs = smoke_inputs(2, 4)
            assert session.run(inputs)["out0"].tobytes() == smoke_bytes(inputs)
        assert live(emu)["streams"] == streams  # nor is the caller's released
    finally:
        assert emu.cudaStreamDestroy(stream) == 0


def test_closing_releases_what_the_session_holds(load, major, emu):
    before = live(emu)
    engine = load("smoke", major)
    loaded = live(emu)
    with inferlet.Session(engine) as session:
        session.run(smoke_inputs(1, 5))
        assert live(emu)["allocations"] > loaded["allocations"]
    assert session.closed and live(emu) == loaded
    # Dropped without close, as Python drops it.
    dropped = inferlet.Session(engine)
    dropped.enqueue(smoke_inputs(1, 6))  # still running when it goes: its release waits for the call
    del dropped
    gc.collect()
    assert live(emu) == loaded and emu.cudaemu_pending_work() == 0
    # The engine goes with the last of its holders, the host's reference or a session.
    kept = inferlet.Session(engine)
    engine.close()
    assert engine.closed and live(emu) != before
    inputs = smoke_inputs(2, 7)
    assert kept.run(inputs)["out0"].tobytes() == smoke_bytes(inputs)
    kept.close()
    assert live(emu) == before
