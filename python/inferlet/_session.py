"""Sessions: one execution context of an engine on one profile, running one call at a time, with the
GIL released while it runs."""

from __future__ import annotations

import asyncio
import collections
import threading
from typing import Any, Dict, Mapping, Optional, Sequence, Tuple, Union

import numpy as np

from . import _native
from ._call import Call, _expected_dtype, call_input
from ._device import MEMORY_HOST, DeviceArray, allocate, memory_kind
from ._engine import Engine
from ._errors import BusyError, InvalidArgumentError, NotRunningError

Outputs = Union[None, str, Mapping]


class Session:
    """``Session(engine, profile=0, cuda_graphs=False, graph_cache_size=8, stream=None)``.

    ``stream`` is the address (an int) of a ``cudaStream_t`` of the engine's device for the session to
    use; None: its own. A session runs one call at a time: ``run()``, or ``enqueue()`` then ``wait()``
    (from any thread), or ``await run_async()`` (``enqueue()`` then ``await wait_async()``). Calls
    release the GIL while the library works. ``close()`` (or leaving a
    ``with`` block) waits for a call still running and releases the session's device memory and, on
    an engine with dynamic shapes, its profile.
    """

    def __init__(
        self,
        engine: Engine,
        profile: int = 0,
        cuda_graphs: bool = False,
        graph_cache_size: int = 8,
        stream: Optional[int] = None,
    ):
        if not isinstance(engine, Engine):
            raise TypeError(f"a session is made from an inferlet.Engine, not from {type(engine).__name__}")
        self._engine = engine
        # What every call checks its arrays against.
        self._dtypes = {tensor.name: tensor.dtype for tensor in engine.tensors}
        self._device = engine.device
        self._profile = int(profile)
        self._cuda_graphs = bool(cuda_graphs)
        self._native = _native.Session(
            engine._native, self._profile, self._cuda_graphs, int(graph_cache_size), int(stream or 0)
        )
        # What each call enqueued and not yet waited for returns; the library lets one be queued at a
        # time, and the lock orders the bookkeeping of an enqueue before that of the wait that ends it.
        self._queued = collections.deque()
        self._queue_lock = threading.Lock()
        # The wait of the last call awaited with wait_async, run in a worker thread: a coroutine cancelled
        # while awaiting it leaves it running, and the next run_async waits for it first.
        self._pending_wait: Optional[asyncio.Future] = None

    @property
    def engine(self) -> Engine:
        return self._engine

    @property
    def profile(self) -> int:
        return self._profile

    @property
    def cuda_graphs(self) -> bool:
        return self._cuda_graphs

    @property
    def device_memory(self) -> int:
        """Bytes of device memory the session holds: TensorRT's context memory and its own buffers."""
        return self._native.device_memory()

    @property
    def closed(self) -> bool:
        return self._native.closed

    def output_shapes(self, inputs: Mapping) -> Dict[str, Tuple[int, ...]]:
        """The outputs' shapes a call with these inputs resolves, with nothing run: inputs map every
        input's name to an array or to a shape (a shape tensor's to an array: its values steer shapes).
        An extent that depends on the values the network computes is -1."""
        return {name: shape for name, (shape, _, _) in self.output_bounds(inputs).items()}

    def output_bounds(self, inputs: Mapping) -> Dict[str, Tuple[Tuple[int, ...], bool, int]]:
        """For each output, as ``output_shapes`` takes the inputs: (shape, data_dependent, max_bytes),
        the bytes an array given for it must hold (TensorRT's bound where it is data-dependent)."""
        held = []
        tensors = [
            (
                (name, MEMORY_HOST, 0, 0, tuple(value))
                if isinstance(value, (tuple, list))
                else call_input(self, name, value, held)
            )
            for name, value in inputs.items()
        ]
        names = [t.name for t in self._engine.outputs]
        resolved = self._native.resolve(tensors, names)
        return {name: (tuple(shape), bool(dd), int(size)) for name, (shape, dd, size) in zip(names, resolved)}

    def _call(self, inputs: Mapping, outputs) -> Call:
        return Call(self, inputs, outputs)

    def run(self, inputs: Mapping, outputs: Outputs = None) -> Dict[str, Any]:
        """One call: every input by name (arrays of the tensors' dtypes, shapes inside the profile);
        returns every output. Arrays are numpy's (host memory, staged by the library) or any library's
        device or pinned arrays (DLPack, the CUDA Array Interface; ``DeviceArray``), used in place with
        the session's stream ordered after their producer's work. ``outputs`` may give arrays to write
        into (of the output's dtype, C-contiguous, writeable, at least as large); the result is then that
        array, or a view of its first elements at the resolved shape. Outputs not given are made at the
        resolved shapes: numpy arrays, or with ``outputs="device"`` (or ``"pinned"``) DeviceArrays. An
        output whose extents depend on the values (``output_bounds``) is answered at the shape the call
        produced; an array given for it must hold its bound."""
        call = self._call(inputs, outputs)
        return call.results(self._native.run(call.input_tensors(), call.output_tensors()))

    def enqueue(self, inputs: Mapping, outputs: Outputs = None) -> None:
        """Queues one call as ``run`` does and returns; ``wait()`` completes it and returns its outputs.
        The inputs are staged before enqueue returns (they may be changed at once); the session keeps
        every array of the call until the wait."""
        call = self._call(inputs, outputs)
        with self._queue_lock:
            shapes = self._native.enqueue(call.input_tensors(), call.output_tensors())
            self._queued.append((call, shapes))

    def wait(self) -> Dict[str, Any]:
        """Completes the enqueued call and returns its outputs. NotRunningError when nothing is
        enqueued; the call has ended whatever else it raises."""
        try:
            self._native.wait()
        except (NotRunningError, BusyError):
            raise  # no call ended
        except BaseException:
            self._take()  # none, when the session is closed
            raise
        call, shapes = self._take()
        return call.results(shapes)

    async def run_async(self, inputs: Mapping, outputs: Outputs = None) -> Dict[str, Any]:
        """``run`` for asyncio: the call is enqueued at once and its outputs awaited without blocking
        the event loop, so other coroutines run while the device works. Cancelled, the call still
        completes on the device; the session takes the next call once it has (a next ``run_async``
        waits for that)."""
        await self._settle()
        self.enqueue(inputs, outputs)
        return await self.wait_async()

    async def wait_async(self) -> Dict[str, Any]:
        """``wait`` for asyncio, after ``enqueue``: a worker thread waits for the device (the GIL
        released while it does) and the outputs come back to the event loop; no Python runs on the
        device's side of the call. Raises what ``wait`` raises."""
        pending = asyncio.get_running_loop().run_in_executor(None, self.wait)
        self._pending_wait = pending
        return await asyncio.shield(pending)

    async def _settle(self) -> None:
        pending = self._pending_wait
        if pending is None:
            return
        if not pending.done():
            await asyncio.wait([pending])  # a call whose awaiter was cancelled
        if not pending.cancelled():
            pending.exception()  # its outputs, or its failure, are dropped with it

    def _take(self):
        with self._queue_lock:
            return self._queued.popleft() if self._queued else None

    def warmup(self, shapes: Union[Mapping, Sequence[Mapping]]) -> None:
        """Runs one call for each of shapes (a mapping of every input's name to its shape, or to an array
        for a shape tensor or for an input the real calls pass in device memory; or a list of them), with
        zeros in host memory. With CUDA graphs on, each is captured then, so that no later call pays for
        a capture: a shape's graph replays once the session's previous call had the same shapes (TensorRT
        configures its context for the last call's shapes, and a graph replays only on a context so
        configured), so the last shape warmed replays at once and the others from their second call in a
        row. Calls with device arrays are told apart by their addresses too: warm up with those arrays."""
        for item in [shapes] if isinstance(shapes, Mapping) else shapes:
            self.run({name: self._zeros(name, value) for name, value in item.items()})

    def _zeros(self, name: str, value):
        if not isinstance(value, (tuple, list)):
            return value
        tensor = self._engine._find(name)
        if tensor is None or not tensor.is_input:
            raise InvalidArgumentError(f"'{name}' is no input of the engine")
        return np.zeros(tuple(value), dtype=_expected_dtype("input", name, tensor))

    @property
    def stream(self) -> int:
        """The address of the session's cudaStream_t (its own, or the one it was given)."""
        return self._native.stream()

    def empty(self, shape: Sequence[int], dtype, memory: str = "device") -> DeviceArray:
        """An uninitialized DeviceArray in device (or ``memory="pinned"``) memory of the engine's device,
        for hosts without a GPU array library of their own; freed when the last reference goes."""
        return self._allocate(tuple(int(extent) for extent in shape), np.dtype(dtype), memory_kind(memory))

    def _allocate(self, shape: Tuple[int, ...], dtype: np.dtype, kind: int) -> DeviceArray:
        """A DeviceArray of the engine's device that this session's work writes."""
        return allocate(self._engine._native.library, self._device, shape, dtype, kind, self._native)

    def to_device(self, array, memory: str = "device") -> DeviceArray:
        """A DeviceArray holding a copy of the host array (done when it returns)."""
        source = np.ascontiguousarray(array)
        made = self.empty(source.shape, source.dtype, memory)
        made.copy_from(source)
        return made

    def close(self) -> None:
        """Waits for a call still running, then releases the session. BusyError while another thread
        is inside a call of it."""
        self._native.close()
        with self._queue_lock:
            self._queued.clear()

    def __enter__(self) -> "Session":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def __repr__(self) -> str:
        state = "closed" if self.closed else f"profile {self._profile}"
        return f"<inferlet.Session TensorRT {self._engine.tensorrt_major}, {state}>"
