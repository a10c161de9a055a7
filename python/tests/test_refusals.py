"""Each refusal as the exception a caller catches: its class, its code and its message, one table for the
calls on smoke (inputs in0, in1 [2, 340] float32, output out0), and the refusals of the objects
themselves: engines, profiles, a busy or closed session."""

import ctypes
import os
import pickle
import re

import numpy as np
import pytest

import emulator
import inferlet
from conftest import engine_path
from inferlet import Code

F32 = np.float32


def good(**changes) -> dict:
    inputs = {"in0": np.ones((2, 340), F32), "in1": np.ones((2, 340), F32)}
    inputs.update(changes)
    return {name: value for name, value in inputs.items() if value is not None}


NOT_IN_PLACE = "output 'out0' is not a writeable C-contiguous array: the call writes into it in place"
OUTSIDE = "input 'in0' shape [11, 340] is outside the range of profile 0: [1, 340] to [10, 340]"


def read_only(shape):
    array = np.empty(shape, F32)
    array.flags.writeable = False
    return array


CALL_REFUSALS = [
    (
        "an input of another dtype",
        good(in0=np.ones((2, 340))),
        None,
        inferlet.InvalidArgumentError,
        Code.INVALID_ARGUMENT,
        "input 'in0' is an array of float64, the engine's tensor is float32",
    ),
    (
        "a list of Python floats",
        good(in1=[[1.0] * 340] * 2),
        None,
        inferlet.InvalidArgumentError,
        Code.INVALID_ARGUMENT,
        "input 'in1' is a list, which numpy reads as float64, and the engine's tensor is float32: give "
        "numpy.asarray(value, numpy.float32)",
    ),
    (
        "an output of another dtype",
        good(),
        {"out0": np.empty((2, 338), np.int32)},
        inferlet.InvalidArgumentError,
        Code.INVALID_ARGUMENT,
        "output 'out0' is an array of int32, the engine's tensor is float32",
    ),
    (
        "an output that is no array",
        good(),
        {"out0": [0.0] * 676},
        inferlet.InvalidArgumentError,
        Code.INVALID_ARGUMENT,
        "output 'out0' is a list, not a numpy array",
    ),
    (
        "an output that is not contiguous",
        good(),
        {"out0": np.empty((2, 676), F32)[:, ::2]},
        inferlet.InvalidArgumentError,
        Code.INVALID_ARGUMENT,
        NOT_IN_PLACE,
    ),
    (
        "an output that is read-only",
        good(),
        {"out0": read_only((2, 338))},
        inferlet.InvalidArgumentError,
        Code.INVALID_ARGUMENT,
        NOT_IN_PLACE,
    ),
    (
        "an extra input",
        good(in9=np.ones((2, 340), F32)),
        None,
        inferlet.InvalidArgumentError,
        Code.INVALID_ARGUMENT,
        "input 'in9' is not an input of the engine",
    ),
    (
        "an output among the inputs",
        good(out0=np.ones((2, 338), F32)),
        None,
        inferlet.InvalidArgumentError,
        Code.INVALID_ARGUMENT,
        "input 'out0' is not an input of the engine",
    ),
    (
        "a missing input",
        good(in1=None),
        None,
        inferlet.InvalidArgumentError,
        Code.INVALID_ARGUMENT,
        "input 'in1' is missing",
    ),
    (
        "an unknown output",
        good(),
        {"sum": np.empty((2, 338), F32)},
        inferlet.InvalidArgumentError,
        Code.INVALID_ARGUMENT,
        "output 'sum' is not an output of the engine",
    ),
    (
        "a batch past the profile",
        good(in0=np.ones((11, 340), F32), in1=np.ones((11, 340), F32)),
        None,
        inferlet.ShapeOutOfProfileError,
        Code.SHAPE_OUT_OF_PROFILE,
        OUTSIDE,
    ),
    (
        "another rank",
        good(in1=np.ones(680, F32)),
        None,
        inferlet.ShapeOutOfProfileError,
        Code.SHAPE_OUT_OF_PROFILE,
        "input 'in1' shape [680] is outside the range of profile 0: [1, 340] to [10, 340]",
    ),
    (
        "a rank past the interface's",
        good(in0=np.ones((1,) * 9, F32)),
        None,
        inferlet.InvalidArgumentError,
        Code.INVALID_ARGUMENT,
        "input 'in0' has rank 9, not 0 to 8",
    ),
    (
        "an output array too small",
        good(),
        {"out0": np.empty((2, 337), F32)},
        inferlet.BufferTooSmallError,
        Code.BUFFER_TOO_SMALL,
        "output 'out0' has 2696 bytes, its shape [2, 338] takes 2704",
    ),
]


@pytest.mark.parametrize("call", ["run", "enqueue"])
@pytest.mark.parametrize(
    "inputs,outputs,error,code,message",
    [case[1:] for case in CALL_REFUSALS],
    ids=[case[0] for case in CALL_REFUSALS],
)
def test_a_refused_call_raises_its_code_and_runs_nothing(
    load, major, call, inputs, outputs, error, code, message
):
    with inferlet.Session(load("smoke", major)) as session:
        with pytest.raises(error) as raised:
            getattr(session, call)(inputs, outputs)
        assert isinstance(raised.value, inferlet.Error)
        assert (raised.value.code, raised.value.message, str(raised.value)) == (code, message, message)
        # Nothing is left queued, and the session takes the next call.
        with pytest.raises(inferlet.NotRunningError):
            session.wait()
        assert session.run(good())["out0"].shape == (2, 338)


def test_shapes_are_refused_as_calls_are(load, major):
    with inferlet.Session(load("smoke", major)) as session:
        with pytest.raises(inferlet.ShapeOutOfProfileError, match=r"^input 'in0' shape \[11, 340\]"):
            session.output_shapes({"in0": (11, 340), "in1": (11, 340)})
        with pytest.raises(inferlet.InvalidArgumentError, match="^input 'in1' is missing$"):
            session.output_shapes({"in0": (2, 340)})


def test_one_call_at_a_time_and_a_wait_only_for_one(load, major):
    with inferlet.Session(load("smoke", major)) as session:
        with pytest.raises(inferlet.NotRunningError) as idle:
            session.wait()
        assert (idle.value.code, idle.value.message) == (Code.NOT_RUNNING, "the session has no call enqueued")
        session.enqueue(good())
        busy = (
            "the session is running a call: wait for it before the next one; a session serves one call at a "
            "time, so threads that call at once need a session each (sessions of one engine run at once)"
        )
        for call in (
            lambda: session.enqueue(good()),
            lambda: session.run(good()),
            lambda: session.output_shapes({"in0": (2, 340), "in1": (2, 340)}),
        ):
            with pytest.raises(inferlet.BusyError) as raised:
                call()
            assert (raised.value.code, raised.value.message) == (Code.BUSY, busy)
        assert session.wait()["out0"].shape == (2, 338)
        with pytest.raises(inferlet.NotRunningError):
            session.wait()


def test_a_profile_with_dynamic_shapes_serves_one_session_at_a_time(load, major):
    engine = load("two_profiles", major)
    first = inferlet.Session(engine, profile=1)
    with pytest.raises(inferlet.ProfileInUseError) as raised:
        inferlet.Session(engine, profile=1)
    assert raised.value.code == Code.PROFILE_IN_USE
    assert raised.value.message == (
        "profile 1 is in use by another session: the engine has dynamic shapes, so each of its profiles serves "
        "one session at a time; for more sessions at once, make them on its other profiles (it has 1 more), "
        "build the engine with more profiles, or with static shapes, which any number of sessions share"
    )
    with inferlet.Session(engine, profile=0):
        pass  # the other profile is free
    first.close()
    inferlet.Session(engine, profile=1).close()  # and this one again once its session is closed
    out_of_range = r"^profile 2 is out of range: the engine has 2 profile\(s\)$"
    with pytest.raises(inferlet.InvalidArgumentError, match=out_of_range):
        inferlet.Session(engine, profile=2)


def test_a_tensor_the_library_cannot_hand_over_is_refused(load, major):
    with pytest.raises(inferlet.UnsupportedTensorError) as raised:
        inferlet.Session(load("layout_chw4", major))
    assert raised.value.code == Code.UNSUPPORTED_TENSOR
    assert raised.value.message == (
        "input 'in0' of profile 0 is in format kCHW4, not a dense row-major " "tensor in device memory"
    )


@pytest.mark.parametrize("handle, name", [(1, "cudaStreamLegacy"), (2, "cudaStreamPerThread")])
def test_a_stream_that_names_each_threads_own_is_refused(load, major, handle, name):
    with pytest.raises(inferlet.InvalidArgumentError) as raised:
        inferlet.Session(load("smoke", major), stream=handle)
    assert raised.value.message == (
        f"stream is {name}, which names the default stream of each thread that uses it: give a stream of "
        "device 0, or none for the session's own"
    )


HOST_CODE_HINT = (
    "; if it is a version-compatible engine, it holds host code: load it with allow_host_code set"
)


def refusal_of_13_bytes(major: int) -> str:
    # From 10 on an engine may hold host code, which only allow_host_code lets in: the refusal says so.
    refusal = (
        "could not deserialize the 13 bytes as an engine "
        "(TensorRT: deserializeCudaEngine: magic tag does not match: not an engine file)"
    )
    return refusal + (HOST_CODE_HINT if major >= 10 else "")


def test_bytes_that_are_no_engine_are_refused(major):
    with pytest.raises(inferlet.EngineRefusedError) as raised:
        inferlet.Engine(b"not an engine", trt=major)
    assert raised.value.code == Code.ENGINE_REFUSED
    assert raised.value.message == f"TensorRT {major} {refusal_of_13_bytes(major)}"
    # Without a major, every one is tried and each says why.
    with pytest.raises(inferlet.EngineRefusedError) as raised:
        inferlet.Engine(b"not an engine")
    majors = inferlet.tensorrt_majors()
    assert raised.value.message.startswith("no TensorRT of this build (")
    assert raised.value.message.endswith("; ".join(f"TensorRT {m} {refusal_of_13_bytes(m)}" for m in majors))


def test_an_engine_of_another_major_is_refused_by_the_one_asked_for(major):
    other = next((m for m in inferlet.tensorrt_majors() if m != major), None)
    if other is None:
        pytest.skip("the build has one major")
    path = engine_path("smoke", other)
    with pytest.raises(inferlet.EngineRefusedError) as raised:
        inferlet.Engine(path, trt=major)
    assert raised.value.message == (
        f"TensorRT {major} could not deserialize the {os.path.getsize(path)} bytes as an engine "
        f"(TensorRT: deserializeCudaEngine: the engine was built for TensorRT {other}, this runtime is "
        f"TensorRT {major}; rebuild the engine); it is a TensorRT {other} engine: load it with trt={other}, "
        "or without trt"
    )


def test_an_engine_the_device_has_no_memory_for_is_out_of_memory(major):
    emu = emulator.device()
    if emu is None:
        pytest.skip("the device cannot be made to run out of memory")
    emu.cudaemu_fail_call.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_int]
    path = engine_path("smoke", major)
    assert emu.cudaemu_fail_call(b"cudaemu_component_malloc", 1, 2) == 0  # cudaErrorMemoryAllocation
    with pytest.raises(inferlet.OutOfMemoryError) as raised:
        inferlet.Engine(path, trt=major)
    assert raised.value.code == Code.OUT_OF_MEMORY
    assert re.fullmatch(
        rf"TensorRT {major} could not deserialize the {os.path.getsize(path)} bytes as an engine "
        r"\(TensorRT: deserializeCudaEngine: cannot allocate \d+ bytes of device memory for the weights: "
        r"cudaemu_component_malloc failed: out of memory\)",
        raised.value.message,
    ), raised.value.message
    inferlet.Engine(path, trt=major).close()  # the memory was not the bytes' fault


def test_engines_are_refused_for_majors_and_devices_the_build_has_not(major):
    with pytest.raises(inferlet.InvalidArgumentError) as raised:
        inferlet.Engine(engine_path("smoke", major), trt=9)
    assert raised.value.message.startswith("TensorRT 9 is not in this build of inferlet: it has ")
    # With or without a major: a device the process has not is no matter of the major.
    for trt in (major, None):
        with pytest.raises(inferlet.InvalidArgumentError) as raised:
            inferlet.Engine(engine_path("smoke", major), trt=trt, device=5)
        assert raised.value.message.startswith("device 5 is not a CUDA device: the process sees ")


def test_a_closed_session_or_engine_refuses_every_call(load, major):
    engine = load("smoke", major)
    session = inferlet.Session(engine)
    session.close()
    session.close()  # twice is fine
    assert session.closed
    closed = "the session is closed"
    for call in (
        lambda: session.run(good()),
        lambda: session.enqueue(good()),
        session.wait,
        lambda: session.output_shapes({"in0": (2, 340), "in1": (2, 340)}),
        lambda: session.device_memory,
    ):
        with pytest.raises(inferlet.InvalidArgumentError) as raised:
            call()
        assert (raised.value.code, raised.value.message) == (Code.INVALID_ARGUMENT, closed)
    engine.close()
    with pytest.raises(inferlet.InvalidArgumentError, match="^the engine is closed$"):
        inferlet.Session(engine)


def test_errors_are_one_class_with_a_subclass_per_code():
    subclasses = {code: inferlet.make_error(code, "why") for code in Code if code != Code.OK}
    assert all(isinstance(error, inferlet.Error) and error.code == code for code, error in subclasses.items())
    assert len({type(error) for error in subclasses.values()}) == len(subclasses)
    assert type(inferlet.make_error(99, "new")) is inferlet.Error
    copy = pickle.loads(pickle.dumps(inferlet.BusyError("busy")))
    assert (type(copy), copy.code, copy.message) == (inferlet.BusyError, Code.BUSY, "busy")


def test_inputs_whose_batches_disagree_are_named_with_their_shapes(load, major):
    # TensorRT 10 and 11 refuse the set of shapes, 7 and 8 resolve no output shape from it.
    with inferlet.Session(load("smoke", major)) as session:
        with pytest.raises(inferlet.TensorRTError) as disagree:
            session.run({"in0": np.ones((2, 340), np.float32), "in1": np.ones((3, 340), np.float32)})
    shapes = "input shapes 'in0' [2, 340] and 'in1' [3, 340]"
    agree = ", which it may need to agree (in their batch, for instance)"
    if major >= 10:
        assert disagree.value.message.startswith(
            f"TensorRT does not take {shapes} together{agree} (TensorRT: "
        )
    else:
        assert disagree.value.message == (
            f"TensorRT resolved no shape for output 'out0' from {shapes}{agree} (TensorRT logged no error)"
        )
