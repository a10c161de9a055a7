"""Another library's arrays as a call's tensors, without a copy: DLPack first, then the CUDA Array
Interface, as their consumers try them. What comes back is checked by the call against the engine's
tensor (dtype, C-contiguity, writeable outputs); here, the device and the stream order:

- DLPack: ``__dlpack_device__`` says where the memory is. CUDA memory (or managed) of the engine's device
  is device memory, CUDA host memory is pinned, CPU memory goes the host way (numpy reads it). The
  producer gets the session's stream in ``__dlpack__(stream=...)`` and makes it wait for its work;
  ``max_version=(1, 0)`` asks for the versioned capsule, and a producer that does not know the argument
  (TypeError) is asked again without it.
- The CUDA Array Interface: the memory's kind and device come from CUDA (``inferlet_memory_describe``);
  its ``stream``, when not None, is waited for on the device before the session's work (0 is refused,
  as the interface refuses it)."""

from __future__ import annotations

from typing import NamedTuple, Optional, Tuple

import numpy as np

from . import _native
from ._device import (
    DLPACK_CPU,
    DLPACK_CUDA,
    DLPACK_CUDA_HOST,
    DLPACK_CUDA_MANAGED,
    MEMORY_DEVICE,
    MEMORY_HOST,
    MEMORY_PINNED,
    NO_DLPACK_CODE,
    DeviceArray,
    _dlpack_type,
)
from ._errors import InvalidArgumentError

_CODE_NAMES = {0: "int", 1: "uint", 2: "float", 4: "bfloat", 5: "complex", 6: "bool"}


class Imported(NamedTuple):
    """A device or pinned array of another library (or the package's own), as a call uses it."""

    kind: int  # MEMORY_DEVICE or MEMORY_PINNED
    address: int
    shape: Tuple[int, ...]
    element: Tuple[int, int]  # DLPack's (type code, bits)
    strides: Optional[Tuple[int, ...]]  # in elements; None: C-contiguous
    read_only: bool
    owner: object  # keeps the memory until the call is done with it


def element_name(element: Tuple[int, int]) -> str:
    code, bits = element
    if code == NO_DLPACK_CODE:
        return f"{bits}-bit elements of a type DLPack has no code for"
    return "bool" if code == 6 else f"{_CODE_NAMES.get(code, f'type code {code} of ')}{bits}"


def _stream_of_device(device_type: int, stream: int) -> Optional[int]:
    return stream if device_type in (DLPACK_CUDA, DLPACK_CUDA_HOST, DLPACK_CUDA_MANAGED) else None


def _dlpack_capsule(value, stream: Optional[int]):
    try:
        return value.__dlpack__(stream=stream, max_version=(1, 0))
    except TypeError:
        return value.__dlpack__(stream=stream)  # a producer of DLPack before 1.0


def _check_device(role: str, name: str, kind: int, device: int, engine_device: int) -> None:
    if kind == MEMORY_DEVICE and device != engine_device:
        raise InvalidArgumentError(
            f"{role} '{name}' is in memory of device {device}; the engine is on device {engine_device}"
        )


def _from_dlpack(value, role: str, name: str, session):
    device_type, device_id = value.__dlpack_device__()
    if device_type == DLPACK_CPU:
        return np.from_dlpack(value)
    kinds = {DLPACK_CUDA: MEMORY_DEVICE, DLPACK_CUDA_MANAGED: MEMORY_DEVICE, DLPACK_CUDA_HOST: MEMORY_PINNED}
    if device_type not in kinds:
        raise InvalidArgumentError(
            f"{role} '{name}' is on DLPack device type {device_type}: inferlet takes CUDA memory (2), CUDA "
            "host memory (3), managed memory (13) and host arrays"
        )
    kind = kinds[device_type]
    _check_device(role, name, kind, device_id, session._engine.device)
    capsule = _dlpack_capsule(value, _stream_of_device(device_type, session._native.stream()))
    owner, address, shape, strides, code, bits, read_only = _native.import_dlpack(capsule)
    return Imported(kind, address, shape, (code, bits), strides, read_only, (owner, value))


def _from_cuda_array_interface(interface: dict, value, role: str, name: str, session):
    if interface.get("mask") is not None:
        raise InvalidArgumentError(f"{role} '{name}' has a mask, which no engine tensor takes")
    address, read_only = interface["data"]
    dtype = np.dtype(interface["typestr"])
    shape = tuple(int(extent) for extent in interface["shape"])
    strides = interface.get("strides")
    if strides is not None:
        if any(stride % dtype.itemsize for stride in strides):
            raise InvalidArgumentError(f"{role} '{name}' has strides that are no multiple of its elements")
        strides = tuple(stride // dtype.itemsize for stride in strides)
    kind, device = MEMORY_DEVICE, session._engine.device
    if address:
        kind, device = _native.describe_memory(session._engine._native.library, address)
    if kind == MEMORY_HOST:
        raise InvalidArgumentError(
            f"{role} '{name}' gives a CUDA Array Interface whose memory CUDA does not know: it is neither "
            "device nor pinned memory"
        )
    _check_device(role, name, kind, device, session._engine.device)
    stream = interface.get("stream") if interface.get("version", 0) >= 3 else None
    if stream is not None:
        if stream == 0:
            raise InvalidArgumentError(
                f"{role} '{name}' gives stream 0, which the CUDA Array Interface does not allow"
            )
        session._native.wait_stream(stream)
    return Imported(kind, address, shape, _dlpack_type(dtype), strides, bool(read_only), value)


def _own(value: DeviceArray, role: str, name: str, session) -> Imported:
    kind = value._kind
    _check_device(role, name, kind, value.device, session._engine.device)
    writer = value._session
    if writer is not None and writer is not session._native and not writer.closed:
        writer.order_stream(session._native.stream())
    return Imported(kind, value._address, value.shape, _dlpack_type(value.dtype), None, False, value)


def imported(value, role: str, name: str, session):
    """value as an Imported array when it is another library's device or pinned array (or a
    DeviceArray), a numpy array when it is a host array DLPack hands over, None for anything else (which
    numpy reads). Queues the ordering of the session's stream after the producer's work."""
    if type(value) is DeviceArray:
        return _own(value, role, name, session)
    if hasattr(value, "__dlpack_device__") and hasattr(value, "__dlpack__"):
        return _from_dlpack(value, role, name, session)
    interface = getattr(value, "__cuda_array_interface__", None)
    if interface is not None:
        return _from_cuda_array_interface(interface, value, role, name, session)
    return None
