"""The emulated CUDA device that the package's libraries run on (platform/cudaemu), reached with ctypes
for what a test counts or steers: None on a real device. Loaded by its name, it is the one copy the
sessions libraries loaded."""

import ctypes

import inferlet
from conftest import engine_path


def device():
    if inferlet.DEVICE != "emulated":
        return None
    inferlet.Engine(engine_path("smoke", inferlet.tensorrt_majors()[0])).close()  # a library is loaded
    emu = ctypes.CDLL("libcudaemu.so")
    for name in (
        "cudaemu_live_allocations",
        "cudaemu_live_streams",
        "cudaemu_live_events",
        "cudaemu_live_graph_execs",
        "cudaemu_pending_work",
    ):
        getattr(emu, name).restype = ctypes.c_size_t
    emu.cudaemu_call_count.restype = ctypes.c_uint64
    emu.cudaemu_call_count.argtypes = [ctypes.c_char_p]
    emu.cudaStreamCreate.argtypes = [ctypes.POINTER(ctypes.c_void_p)]
    emu.cudaStreamDestroy.argtypes = [ctypes.c_void_p]
    emu.cudaLaunchHostFunc.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p]
    return emu


def live(emu) -> dict:
    """What the device holds: allocations, streams, events, executable graphs."""
    return {
        name: getattr(emu, f"cudaemu_live_{name}")()
        for name in ("allocations", "streams", "events", "graph_execs")
    }


def calls(emu, api: str) -> int:
    return emu.cudaemu_call_count(api.encode())
