"""await: a call's outputs awaited without blocking the event loop. On the emulated device a stream's
work runs in the thread that synchronizes it, so two host functions queued on the session's stream
hold the call inside the wait: the first posts `entered`, the second waits for `release`."""

import asyncio
import ctypes

import numpy as np
import pytest

import emulator
import inferlet

pytestmark = pytest.mark.skipif(inferlet.DEVICE != "emulated", reason="holds calls on the emulated device")

IN0 = np.linspace(-2, 2, 32, dtype=np.float32).reshape(4, 8)
RELU = np.where(IN0 > 0, IN0, np.float32(0))


class HeldStream:
    """A stream of the emulated device whose next synchronization is held until release()."""

    def __init__(self):
        self.emu = emulator.device()
        self.libc = ctypes.CDLL(None)
        self.entered, self.released = ctypes.create_string_buffer(64), ctypes.create_string_buffer(64)
        assert self.libc.sem_init(self.entered, 0, 0) == 0 and self.libc.sem_init(self.released, 0, 0) == 0
        self.stream = ctypes.c_void_p()
        assert self.emu.cudaStreamCreate(ctypes.byref(self.stream)) == 0

    def hold(self):
        for function, semaphore in ((self.libc.sem_post, self.entered), (self.libc.sem_wait, self.released)):
            pointers = (ctypes.cast(function, ctypes.c_void_p), ctypes.cast(semaphore, ctypes.c_void_p))
            assert self.emu.cudaLaunchHostFunc(self.stream, *pointers) == 0

    async def entered_call(self):
        await asyncio.to_thread(self.libc.sem_wait, self.entered)

    def release(self):
        self.libc.sem_post(self.released)

    def destroy(self):
        assert self.emu.cudaStreamDestroy(self.stream) == 0


@pytest.fixture
def held(load, major):
    stream = HeldStream()
    session = inferlet.Session(load("static_batch", major), stream=stream.stream.value)
    yield session, stream
    session.close()
    stream.destroy()


def test_other_coroutines_run_while_a_call_is_awaited(held):
    session, stream = held

    async def scenario():
        stream.hold()
        call = asyncio.create_task(session.run_async({"in0": IN0}))
        await stream.entered_call()  # the call is inside its wait, on a worker thread
        steps = 0
        for _ in range(100):
            await asyncio.sleep(0)
            steps += 1
        done_early = call.done()
        stream.release()
        return steps, done_early, await call

    steps, done_early, outputs = asyncio.run(scenario())
    assert (steps, done_early) == (100, False)
    assert outputs["out0"].tobytes() == RELU.tobytes()


def test_a_cancelled_call_leaves_the_session_to_the_next(held):
    session, stream = held

    async def scenario():
        stream.hold()
        call = asyncio.create_task(session.run_async({"in0": IN0}))
        await stream.entered_call()
        call.cancel()
        with pytest.raises(asyncio.CancelledError):
            await call
        following = asyncio.create_task(session.run_async({"in0": -IN0}))
        await asyncio.sleep(0.05)
        waited_for_the_first = not following.done()
        stream.release()
        return waited_for_the_first, await following

    waited_for_the_first, outputs = asyncio.run(scenario())
    assert waited_for_the_first
    assert outputs["out0"].tobytes() == np.where(-IN0 > 0, -IN0, np.float32(0)).tobytes()


def test_enqueue_then_wait_async_and_their_refusals(held):
    session, _ = held

    async def scenario():
        with pytest.raises(inferlet.NotRunningError):
            await session.wait_async()
        session.enqueue({"in0": IN0})
        first = await session.wait_async()
        return first, await session.run_async({"in0": IN0})

    first, second = asyncio.run(scenario())
    assert first["out0"].tobytes() == second["out0"].tobytes() == RELU.tobytes()
