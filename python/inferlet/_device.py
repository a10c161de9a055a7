"""Arrays in GPU memory. Another library's arrays (PyTorch, CuPy, JAX, Numba...) come in through DLPack
(``__dlpack__``, ``__dlpack_device__``) or the CUDA Array Interface (``__cuda_array_interface__``), tried
in that order, and are used in place: device memory of the engine's device as device memory, CUDA host
memory as pinned. The session's stream is ordered after the producer's work on the device: DLPack's
producer is handed the session's stream and makes it wait; the interface's ``stream`` is waited for
with an event. The package's own ``DeviceArray`` (outputs made on the device, and the arrays
``Session.empty`` and ``Session.to_device`` allocate) exports both protocols, and its export orders the
consumer's stream after the session's work."""

from __future__ import annotations

import functools
import math
from typing import Optional, Tuple

import numpy as np

from . import _native
from ._errors import InvalidArgumentError

MEMORY_HOST, MEMORY_PINNED, MEMORY_DEVICE = 0, 1, 2
_KIND_NAMES = {MEMORY_PINNED: "pinned", MEMORY_DEVICE: "device"}
_KINDS = {name: kind for kind, name in _KIND_NAMES.items()}

# DLPack's device types.
DLPACK_CPU, DLPACK_CUDA, DLPACK_CUDA_HOST, DLPACK_CUDA_MANAGED = 1, 2, 3, 13
# DLPack's type codes for the numpy kinds (bfloat16 has a code of its own).
_DLPACK_CODES = {"i": 0, "u": 1, "f": 2, "c": 5, "b": 6}
_DLPACK_BFLOAT = 4
NO_DLPACK_CODE = -1  # ml_dtypes' 8-bit floats and the like: compared by size alone, never exported

STREAM_LEGACY = 1  # cudaStreamLegacy, as both protocols number it (2: cudaStreamPerThread)

Shape = Tuple[int, ...]


def memory_kind(memory: str) -> int:
    try:
        return _KINDS[memory]
    except (KeyError, TypeError):
        raise InvalidArgumentError(f"memory is 'device' or 'pinned', not {memory!r}") from None


@functools.lru_cache(maxsize=None)
def _dlpack_type(dtype: np.dtype) -> Tuple[int, int]:
    if dtype.name == "bfloat16":
        return _DLPACK_BFLOAT, 16
    return _DLPACK_CODES.get(dtype.kind, NO_DLPACK_CODE), dtype.itemsize * 8


class DeviceArray:
    """A C-contiguous array in device (or pinned) memory of one device, held by the package: an output
    made on the device, or one ``Session.empty``/``Session.to_device`` allocated. It exports DLPack and
    the CUDA Array Interface without a copy and keeps its memory while any consumer holds it; the export
    orders the consumer's stream after the work of the session that wrote it. ``numpy()`` (and
    ``numpy.asarray``) copies it to the host."""

    __slots__ = ("shape", "dtype", "device", "nbytes", "_kind", "_address", "_owner", "_library", "_session")

    def __init__(
        self, owner, address: int, shape: Shape, dtype: np.dtype, kind: int, device: int, library, session
    ):
        self.shape = shape
        self.dtype = dtype
        self.device = device
        self.nbytes = math.prod(shape) * dtype.itemsize
        self._kind = kind
        self._address = address
        self._owner = owner  # what keeps the memory: a DeviceMemory, or another library's array
        self._library = library
        self._session = session  # the native session whose work writes it, for the orderings

    @property
    def memory(self) -> str:
        """ "device" or "pinned"."""
        return _KIND_NAMES[self._kind]

    @property
    def ndim(self) -> int:
        return len(self.shape)

    @property
    def data_ptr(self) -> int:
        return self._address

    def _writer_stream(self) -> Optional[int]:
        session = self._session
        return None if session is None or session.closed else session.stream()

    def _order(self, stream: Optional[int]) -> None:
        """Makes stream (DLPack's argument) wait for the session's work."""
        if stream == -1:
            return
        if stream == 0 or (stream is not None and not isinstance(stream, int)):
            raise BufferError(
                f"stream {stream!r} is not a stream: give None, -1, 1, 2 or a cudaStream_t's address"
            )
        session = self._session
        if session is not None and not session.closed:
            session.order_stream(STREAM_LEGACY if stream is None else stream)

    def __dlpack_device__(self) -> Tuple[int, int]:
        return (DLPACK_CUDA, self.device) if self._kind == MEMORY_DEVICE else (DLPACK_CUDA_HOST, 0)

    def __dlpack__(self, *, stream=None, max_version=None, dl_device=None, copy=None):
        if dl_device is not None and tuple(dl_device) != self.__dlpack_device__():
            raise BufferError(
                f"the array is in {self.memory} memory of device {self.device}; it is not copied"
            )
        if copy:
            raise BufferError("the array is exported without a copy only")
        self._order(stream)
        code, bits = _dlpack_type(self.dtype)
        if code == NO_DLPACK_CODE:
            raise BufferError(f"DLPack has no type this package gives {self.dtype} as")
        device_type, device_id = self.__dlpack_device__()
        versioned = max_version is not None and max_version[0] >= 1
        return _native.export_dlpack(
            self, self._address, self.shape, code, bits, device_type, device_id, versioned
        )

    @property
    def __cuda_array_interface__(self) -> dict:
        return {
            "shape": self.shape,
            "typestr": self.dtype.str,
            "data": (self._address, False),
            "version": 3,
            "strides": None,
            "stream": self._writer_stream(),
        }

    def numpy(self) -> np.ndarray:
        """A copy in host memory, once the work that writes it is done."""
        host = np.empty(self.shape, self.dtype)
        self._copy(host.ctypes.data, self._address)
        return host

    def copy_from(self, array) -> None:
        """Fills the array from host memory of its dtype and shape (the copy is done when it returns)."""
        source = np.ascontiguousarray(array)
        if source.dtype != self.dtype or source.shape != self.shape:
            raise InvalidArgumentError(
                f"the array is {self.dtype}{list(self.shape)}; the host array is {source.dtype}{list(source.shape)}"
            )
        self._copy(self._address, source.ctypes.data)

    def _copy(self, dst: int, src: int) -> None:
        """The array's bytes between it and host memory, on the writer's stream (after its work)."""
        stream = self._writer_stream() or STREAM_LEGACY
        _native.copy_memory(self._library, self.device, dst, src, self.nbytes, stream)

    def __array__(self, dtype=None, copy=None):
        host = self.numpy()
        return host if dtype is None else host.astype(dtype, copy=False)

    def reshaped(self, shape: Shape) -> "DeviceArray":
        """The first elements at shape, sharing the memory (an output answered at the shape it resolved)."""
        if tuple(shape) == self.shape:
            return self
        return DeviceArray(
            self,
            self._address,
            tuple(shape),
            self.dtype,
            self._kind,
            self.device,
            self._library,
            self._session,
        )

    def __len__(self) -> int:
        return self.shape[0] if self.shape else 0

    def __repr__(self) -> str:
        return f"<inferlet.DeviceArray {self.dtype}{list(self.shape)} in {self.memory} memory of device {self.device}>"


def allocate(library, device: int, shape: Shape, dtype: np.dtype, kind: int, session) -> DeviceArray:
    count = math.prod(shape)
    memory = _native.DeviceMemory(library, device, kind, count * dtype.itemsize)
    return DeviceArray(memory, memory.address, tuple(shape), dtype, kind, device, library, session)
