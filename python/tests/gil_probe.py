"""Run by test_threads.py as a child process: is the GIL released while a call of a session waits for
the device? On the emulated device a stream's work runs in the thread that synchronizes it, so two host
functions queued on the session's stream run inside the call itself: the first posts `entered`, the
second waits for `release`. The main thread waits for `entered`, counts steps of Python while the call
is held, then posts `release`. Holding the GIL, the call would keep the main thread from ever counting:
the child would hang, and the test's timeout ends it.

    gil_probe.py ENGINE MAJOR run|wait     prints {"steps": ..., "returned_early": ..., "correct": ...}
"""

import ctypes
import json
import sys
import threading

import numpy as np

import inferlet

STEPS = 1000


def main(path: str, major: int, mode: str) -> None:
    engine = inferlet.Engine(path, trt=major)
    emu = ctypes.CDLL("libcudaemu.so")  # the copy the sessions library loaded
    emu.cudaStreamCreate.argtypes = [ctypes.POINTER(ctypes.c_void_p)]
    emu.cudaStreamDestroy.argtypes = [ctypes.c_void_p]
    emu.cudaLaunchHostFunc.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p]
    libc = ctypes.CDLL(None)
    entered, release = ctypes.create_string_buffer(64), ctypes.create_string_buffer(64)  # sem_t
    assert libc.sem_init(entered, 0, 0) == 0 and libc.sem_init(release, 0, 0) == 0

    stream = ctypes.c_void_p()
    assert emu.cudaStreamCreate(ctypes.byref(stream)) == 0
    session = inferlet.Session(engine, stream=stream.value)
    inputs = {"in0": np.linspace(-2, 2, 32, dtype=np.float32).reshape(4, 8)}
    if mode == "wait":
        session.enqueue(inputs)
    for function, semaphore in ((libc.sem_post, entered), (libc.sem_wait, release)):
        assert (
            emu.cudaLaunchHostFunc(
                stream, ctypes.cast(function, ctypes.c_void_p), ctypes.cast(semaphore, ctypes.c_void_p)
            )
            == 0
        )

    returned = threading.Event()
    outputs = {}

    def call():
        outputs.update(session.run(inputs) if mode == "run" else session.wait())
        returned.set()

    caller = threading.Thread(target=call)
    caller.start()
    libc.sem_wait(entered)  # the call is inside the library, its stream being synchronized
    steps, returned_early = 0, False
    while steps < STEPS:
        returned_early |= returned.is_set()
        steps += 1
    libc.sem_post(release)
    caller.join()
    session.close()
    assert emu.cudaStreamDestroy(stream) == 0
    correct = outputs["out0"].tobytes() == np.where(inputs["in0"] > 0, inputs["in0"], np.float32(0)).tobytes()
    print(json.dumps({"steps": steps, "returned_early": returned_early, "correct": correct}))


if __name__ == "__main__":
    main(sys.argv[1], int(sys.argv[2]), sys.argv[3])
