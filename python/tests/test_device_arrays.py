"""Device and pinned arrays in and out without copies: the package's own DeviceArray, another library's
arrays through DLPack and the CUDA Array Interface (stand-ins here, as PyTorch and CuPy would hand them
over), the session's stream ordered after a producer's pending work, exports ordered after the
session's, every refusal, warm-up, and nothing left on the emulated device."""

import ctypes
import gc

import numpy as np
import pytest

import inferlet
from conftest import SAMPLES
from emulator import calls, live
from reference import compute, read

SMOKE = read(SAMPLES / "smoke.json")
MEMCPY_DEFAULT = 4


def smoke_inputs(batch: int, seed: int) -> dict:
    rng = np.random.default_rng(seed)
    return {name: rng.standard_normal((batch, 340)).astype(np.float32) for name in ("in0", "in1")}


@pytest.fixture
def emu(emu):
    """The emulated device, with the runtime calls the tests make as another library would."""
    emulated = emu
    for name in ("cudaMemcpyAsync", "cudaEventRecord", "cudaStreamWaitEvent", "cudaStreamCreateWithFlags"):
        getattr(emulated, name).restype = ctypes.c_int
    emulated.cudaMemcpyAsync.argtypes = [
        ctypes.c_void_p,
        ctypes.c_void_p,
        ctypes.c_size_t,
        ctypes.c_int,
        ctypes.c_void_p,
    ]
    emulated.cudaStreamCreateWithFlags.argtypes = [ctypes.POINTER(ctypes.c_void_p), ctypes.c_uint]
    emulated.cudaEventCreate.argtypes = [ctypes.POINTER(ctypes.c_void_p)]
    emulated.cudaEventRecord.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
    emulated.cudaEventDestroy.argtypes = [ctypes.c_void_p]
    emulated.cudaStreamWaitEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_uint]
    emulated.cudaemu_set_strict.argtypes = [ctypes.c_int]
    emulated.cudaemu_violations.restype = ctypes.c_size_t
    yield emulated
    emulated.cudaemu_set_strict(0)


def new_stream(emu) -> int:
    stream = ctypes.c_void_p()
    assert emu.cudaStreamCreateWithFlags(ctypes.byref(stream), 1) == 0  # non-blocking
    return stream.value


class InterfaceProducer:
    """Another library's device array through the CUDA Array Interface, written on a stream of its own."""

    def __init__(self, array: inferlet.DeviceArray, stream, **changes):
        self.array = array  # keeps the memory
        self.__cuda_array_interface__ = dict(array.__cuda_array_interface__, stream=stream, **changes)


class DlpackProducer:
    """Another library's array through DLPack: it makes the consumer's stream wait for its own (the
    producer's part of the protocol), as PyTorch and CuPy do, and remembers what it was asked."""

    def __init__(self, array: inferlet.DeviceArray, emu=None, stream=None, device=None, versioned=True):
        self.array, self.emu, self.stream, self.device, self.versioned = array, emu, stream, device, versioned
        self.asked = []

    def __dlpack_device__(self):
        return self.device or self.array.__dlpack_device__()

    def __dlpack__(self, stream=None, max_version=None, **rest):
        if max_version is not None and not self.versioned:
            raise TypeError("__dlpack__() got an unexpected keyword argument 'max_version'")
        self.asked.append((stream, max_version))
        if self.emu is not None and stream not in (None, -1):
            event = ctypes.c_void_p()
            assert self.emu.cudaEventCreate(ctypes.byref(event)) == 0
            assert self.emu.cudaEventRecord(event, self.stream) == 0
            assert self.emu.cudaStreamWaitEvent(stream, event, 0) == 0
            assert self.emu.cudaEventDestroy(event) == 0
        return self.array.__dlpack__(stream=-1, max_version=max_version)


def test_device_and_pinned_arrays_round_trip_between_sessions(load, major):
    engine = load("smoke", major)
    inputs = smoke_inputs(3, 1)
    expected = compute(SMOKE, inputs)["out0"]
    with inferlet.Session(engine) as session:
        for memory in ("device", "pinned"):
            given = {name: session.to_device(value, memory=memory) for name, value in inputs.items()}
            out = session.run(given, outputs=memory)["out0"]
            assert isinstance(out, inferlet.DeviceArray)
            assert (out.shape, out.dtype, out.memory) == ((3, 338), np.float32, memory)
            assert out.__dlpack_device__() == ((2, 0) if memory == "device" else (3, 0))
            np.testing.assert_allclose(out.numpy(), expected, rtol=1e-5, atol=1e-5)
            np.testing.assert_array_equal(np.asarray(out), out.numpy())
            # Written in place: a device array given as the output is the result.
            target = session.empty((3, 338), np.float32, memory=memory)
            assert session.run(given, outputs={"out0": target})["out0"] is target
            np.testing.assert_array_equal(target.numpy(), out.numpy())
    # One session's device output is another's device input: out0 feeds in0 and in1 of the next call,
    # cut to 338 -> the first 338 columns' inputs are out0 itself. The static engine takes any sessions.
    static = load("static_batch", major)
    first, second = inferlet.Session(static), inferlet.Session(static)
    x = np.random.default_rng(2).standard_normal((4, 8)).astype(np.float32)
    middle = first.run({"in0": first.to_device(x)}, outputs="device")["out0"]
    last = second.run({"in0": middle}, outputs="device")["out0"]
    np.testing.assert_array_equal(last.numpy(), np.maximum(x, 0))
    # And through DLPack, versioned or not, as another library would hand it back.
    for versioned in (True, False):
        producer = DlpackProducer(middle, versioned=versioned)
        again = second.run({"in0": producer})["out0"]
        np.testing.assert_array_equal(again, np.maximum(x, 0))
        assert producer.asked[-1] == (second.stream, None if not versioned else (1, 0))
    first.close()
    second.close()


@pytest.mark.parametrize("protocol", ["dlpack", "cuda_array_interface"])
def test_a_producers_pending_work_is_waited_for_on_the_device(load, major, emu, protocol):
    engine = load("static_batch", major)
    x = np.arange(-16, 16, dtype=np.float32).reshape(4, 8)
    emu.cudaemu_set_strict(1)  # the producer's copy runs only when something waits for its stream
    producer_stream = new_stream(emu)
    with inferlet.Session(engine) as session:
        source = session.to_device(x, memory="pinned")
        written = session.empty((4, 8), np.float32)
        assert (
            emu.cudaMemcpyAsync(written.data_ptr, source.data_ptr, 128, MEMCPY_DEFAULT, producer_stream) == 0
        )
        waits = calls(emu, "cudaStreamWaitEvent")
        if protocol == "dlpack":
            given = DlpackProducer(written, emu, producer_stream)
        else:
            given = InterfaceProducer(written, producer_stream)
        out = session.run({"in0": given})["out0"]
        np.testing.assert_array_equal(out, np.maximum(x, 0))
        assert calls(emu, "cudaStreamWaitEvent") == waits + 1
        del source, written, given
    emu.cudaStreamDestroy(ctypes.c_void_p(producer_stream))
    assert emu.cudaemu_violations() == 0


def test_exports_order_the_consumers_stream_unless_told_not_to(load, major, emu):
    engine = load("static_batch", major)
    session = inferlet.Session(engine)
    out = session.run({"in0": np.ones((4, 8), np.float32)}, outputs="device")["out0"]
    consumer = new_stream(emu)
    cases = [(-1, 0), (consumer, 1), (None, 1), (2, 1)]  # (stream, waits queued): None and 2 a default stream
    for stream, waits in cases:
        before = calls(emu, "cudaStreamWaitEvent")
        capsule = out.__dlpack__(stream=stream, max_version=(1, 0))
        assert calls(emu, "cudaStreamWaitEvent") - before == waits, stream
        del capsule  # never consumed: its destructor releases the array it held
    assert out.__cuda_array_interface__["stream"] == session.stream
    with pytest.raises(BufferError, match="stream 0 is not a stream"):
        out.__dlpack__(stream=0)
    with pytest.raises(BufferError, match="without a copy only"):
        out.__dlpack__(copy=True)
    float8 = inferlet.numpy_dtype(inferlet.DataType.FP8)  # ml_dtypes' float8_e4m3fn, where installed
    if float8 is not None:
        with pytest.raises(BufferError, match="DLPack has no type this package gives float8_e4m3fn as"):
            session.empty((2,), float8).__dlpack__()
    session.close()
    assert out.__cuda_array_interface__["stream"] is None  # nothing of a closed session is pending
    emu.cudaStreamDestroy(ctypes.c_void_p(consumer))


def test_device_arrays_that_do_not_fit_are_refused_with_what_was_expected(load, major):
    engine = load("static_batch", major)
    session = inferlet.Session(engine)
    good = session.empty((4, 8), np.float32)
    half = session.empty((4, 8), np.float16)
    host = np.zeros((4, 8), np.float32)
    interface = good.__cuda_array_interface__
    cases = [
        ({"in0": half}, None, "input 'in0' is an array of float16, the engine's tensor is float32"),
        (
            {"in0": InterfaceProducer(good, None, strides=(4, 16))},
            None,
            r"input 'in0' has strides \[1, 4\] \(in elements\) for shape \[4, 8\]: inferlet takes "
            "C-contiguous device arrays only and copies none",
        ),
        (
            {"in0": good},
            {"out0": InterfaceProducer(good, None, data=(good.data_ptr, True))},
            "output 'out0' is read-only",
        ),
        (
            {"in0": InterfaceProducer(good, 0)},
            None,
            "input 'in0' gives stream 0, which the CUDA Array Interface",
        ),
        (
            {"in0": InterfaceProducer(good, None, data=(host.ctypes.data, False))},
            None,
            "input 'in0' gives a CUDA Array Interface whose memory CUDA does not know",
        ),
        (
            {"in0": DlpackProducer(good, device=(2, 1))},
            None,
            "input 'in0' is in memory of device 1; the engine is on device 0",
        ),
        ({"in0": DlpackProducer(good, device=(7, 0))}, None, r"input 'in0' is on DLPack device type 7"),
        ({"in0": good}, "managed", "memory is 'device' or 'pinned', not 'managed'"),
        (
            {"in0": good},
            {"out0": half},
            "output 'out0' is an array of float16, the engine's tensor is float32",
        ),
    ]
    for inputs, outputs, message in cases:
        with pytest.raises(inferlet.InvalidArgumentError, match=message):
            session.run(inputs, outputs)
    # The session still runs.
    np.testing.assert_array_equal(session.run({"in0": good})["out0"], np.zeros((4, 8), np.float32))
    del interface
    session.close()


def test_warmup_captures_each_shape_ahead_of_the_calls(load, major, emu):
    engine = load("smoke", major)
    with inferlet.Session(engine, cuda_graphs=True) as session:
        session.warmup([{"in0": (2, 340), "in1": (2, 340)}, {"in0": (5, 340), "in1": (5, 340)}])
        captures = calls(emu, "cudaStreamBeginCapture")
        assert captures >= 2
        for batch, replays in [(5, 1), (2, 0), (2, 1), (5, 0), (5, 1)]:
            before = calls(emu, "cudaGraphLaunch")
            out = session.run(smoke_inputs(batch, batch))["out0"]
            np.testing.assert_allclose(
                out, compute(SMOKE, smoke_inputs(batch, batch))["out0"], rtol=1e-5, atol=1e-5
            )
            assert calls(emu, "cudaGraphLaunch") - before == replays, batch
        assert calls(emu, "cudaStreamBeginCapture") == captures  # nothing captured after the warm-up
        with pytest.raises(inferlet.InvalidArgumentError, match="'in9' is no input of the engine"):
            session.warmup({"in9": (1, 340)})


def test_nothing_is_left_on_the_device(load, major, emu):
    engine = load("static_batch", major)
    gc.collect()
    before = live(emu)
    session = inferlet.Session(engine)
    held = session.to_device(np.ones((4, 8), np.float32))
    for given in (held, DlpackProducer(held), InterfaceProducer(held, None)):
        out = session.run({"in0": given}, outputs="device")["out0"]
        capsule = out.__dlpack__()
        reimported = session.run({"in0": DlpackProducer(out)})["out0"]
        np.testing.assert_array_equal(reimported, np.ones((4, 8), np.float32))
        del out, capsule, reimported
    del held, given
    session.close()
    gc.collect()
    assert live(emu) == before
