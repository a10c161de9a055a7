"""Engines: a serialized TensorRT engine loaded once on one device, its description as Python objects,
shared by any number of sessions."""

from __future__ import annotations

import enum
import os
import re
from dataclasses import dataclass, field
from typing import Mapping, NamedTuple, Optional, Tuple, Union

import numpy as np

from . import _native, _tensorrt
from ._dtypes import DataType, numpy_dtype
from ._errors import Code, EngineRefusedError, InternalError, InvalidArgumentError, make_error
from ._library import library_path, majors_in_words, open_library, tensorrt_majors

Shape = Tuple[int, ...]


class TensorFormat(enum.IntEnum):
    """nvinfer1::TensorFormat, numbered as TensorRT numbers it (DHWC from TensorRT 10 on)."""

    LINEAR = 0
    CHW2 = 1
    HWC8 = 2
    CHW4 = 3
    CHW16 = 4
    CHW32 = 5
    DHWC8 = 6
    CDHW32 = 7
    HWC = 8
    DLA_LINEAR = 9
    DLA_HWC4 = 10
    HWC16 = 11
    DHWC = 12


def _enum(cls, value: int):
    try:
        return cls(value)
    except ValueError:
        return value  # a value this package does not know stays a number


@dataclass(frozen=True)
class TensorInfo:
    """One I/O tensor of the engine, as profile 0 describes it."""

    name: str
    is_input: bool
    data_type: DataType  # an int where TensorRT has a type this package does not know
    dtype: Optional[np.dtype]  # None where numpy has none (see numpy_dtype)
    format: TensorFormat  # profile 0's; Profile.formats has every profile's
    location: str  # "device", or "host" for a shape tensor TensorRT reads from host memory
    shape: Shape  # -1 where the profile sets the extent
    item_size: int  # bytes per element


class ProfileShapes(NamedTuple):
    """An input's smallest, optimal and largest shape under a profile, or a shape tensor's values there."""

    min: Shape
    opt: Shape
    max: Shape


@dataclass(frozen=True)
class Profile:
    index: int
    shapes: Mapping[str, ProfileShapes]  # per input
    formats: Mapping[str, TensorFormat]  # per tensor
    # per shape tensor the library serves (TensorRT 10 and later): its values at min, opt and max
    values: Mapping[str, ProfileShapes] = field(default_factory=dict)


class EngineMemory(NamedTuple):
    """Device memory: what the engine holds (its weights) and what one execution context needs."""

    engine: int
    context: int


def _read(source) -> bytes:
    if isinstance(source, (bytes, bytearray, memoryview)):
        return bytes(source)
    if isinstance(source, (str, os.PathLike)):
        with open(source, "rb") as file:
            return file.read()
    raise TypeError(f"an engine comes from bytes or a path, not from {type(source).__name__}")


def _load(data: bytes, device: int, trt: Optional[int], allow_host_code: bool):
    """The engine as the first library of the build's majors whose load does not refuse the bytes as no
    engine reads it (an engine is refused by every other major), or as major trt reads it. The libraries
    are tried by the loader inferlet-run uses too; one that cannot be opened is passed over."""
    if trt is not None:
        try:
            return _native.Engine(open_library(int(trt)), data, device, allow_host_code)
        except EngineRefusedError as refusal:
            other = _other_reader(int(trt), data, device)
            # Read by another major, it is not the version-compatible engine the library's words suppose.
            message = refusal.message.removesuffix(_VERSION_COMPATIBLE_HINT) if other else refusal.message
            raise EngineRefusedError(message + other) from None
    engine, refusals, load_failures = _read_with(tensorrt_majors(), data, device, allow_host_code)
    if engine is not None:
        return engine
    if not refusals:  # no major's library loads: each one's failure, with what to install for TensorRT's
        raise InternalError("; ".join(_load_failure_words(failure) for failure in load_failures))
    for code, message in refusals:
        if code != Code.ENGINE_REFUSED:  # not a matter of the major (the device, its memory)
            raise make_error(code, message)
    raise EngineRefusedError(
        f"no TensorRT of this build ({majors_in_words()}) reads the bytes as an engine: "
        + "; ".join(message for _, message in refusals)
    )


def _load_failure_words(failure: str) -> str:
    found = re.search(r"libnvinfer(?:_plugin)?\.so\.(\d+)", failure)
    return (_tensorrt.missing_tensorrt(int(found.group(1)), failure) if found else None) or failure


_VERSION_COMPATIBLE_HINT = (
    "; if it is a version-compatible engine, it holds host code: load it with allow_host_code set"
)


def _read_with(majors, data: bytes, device: int, allow_host_code: bool):
    """The engine as the first of majors reads it, with the refusals and load failures of the others."""
    for major in majors:
        _tensorrt.preload(major)
    candidates = [(major, str(library_path(major))) for major in majors]
    return _native.read_engine(candidates, data, device, allow_host_code)


def _other_reader(trt: int, data: bytes, device: int) -> str:
    """Where major trt refused the bytes: the words naming the major of the build that reads them, if
    one does (as inferlet-run names it)."""
    others = [major for major in tensorrt_majors() if major != trt]
    engine = _read_with(others, data, device, True)[0] if others else None
    if engine is None:
        return ""
    major = engine.major
    engine.close()
    return f"; it is a TensorRT {major} engine: load it with trt={major}, or without trt"


class Engine:
    """A serialized engine deserialized on a CUDA device.

    ``Engine(path_or_bytes, device=0, trt=None, allow_host_code=False)``: ``trt`` names the TensorRT
    major; without it each major of the build is tried in order (``inferlet.tensorrt_majors()``) and the
    first that reads the bytes decides. ``allow_host_code=True`` lets a version-compatible engine
    (TensorRT 10 and later) load: it holds host code that TensorRT runs in this process, so only for
    engines from a trusted source; without it such an engine is refused. Sessions hold the engine:
    ``close()`` (or leaving a ``with`` block) drops only this reference.
    """

    def __init__(
        self,
        source: Union[str, os.PathLike, bytes, bytearray, memoryview],
        device: int = 0,
        trt: Optional[int] = None,
        allow_host_code: bool = False,
    ):
        self._native = _load(_read(source), int(device), trt, bool(allow_host_code))
        raw = self._native.tensors()
        self._tensors = tuple(
            TensorInfo(
                name=name,
                is_input=is_input,
                data_type=_enum(DataType, dtype),
                dtype=_checked_dtype(dtype, item_size),
                format=_enum(TensorFormat, format),
                location="host" if on_host else "device",
                shape=tuple(shape),
                item_size=item_size,
            )
            for name, is_input, dtype, format, on_host, item_size, shape in raw
        )
        self._by_name = {tensor.name: tensor for tensor in self._tensors}
        self._inputs = tuple(t for t in self._tensors if t.is_input)
        self._outputs = tuple(t for t in self._tensors if not t.is_input)
        self._profiles = tuple(self._describe_profile(p) for p in range(self._native.profile_count()))
        self._memory = EngineMemory(*self._native.device_memory())

    def _describe_profile(self, index: int) -> Profile:
        shapes, formats, values = {}, {}, {}
        for i, tensor in enumerate(self._tensors):
            formats[tensor.name] = _enum(TensorFormat, self._native.tensor_format(i, index))
            if tensor.is_input:
                shapes[tensor.name] = ProfileShapes(
                    *(self._native.profile_shape(index, i, point) for point in range(3))
                )
            if tensor.is_input and tensor.location == "host" and self.tensorrt_major >= 10:
                values[tensor.name] = ProfileShapes(
                    *(self._native.profile_values(index, i, point) for point in range(3))
                )
        return Profile(index, shapes, formats, values)

    @property
    def tensorrt_major(self) -> int:
        return self._native.major

    @property
    def device(self) -> int:
        return self._native.device

    @property
    def tensors(self) -> Tuple[TensorInfo, ...]:
        """Every I/O tensor, in the engine's order."""
        return self._tensors

    @property
    def inputs(self) -> Tuple[TensorInfo, ...]:
        return self._inputs

    @property
    def outputs(self) -> Tuple[TensorInfo, ...]:
        return self._outputs

    def tensor(self, name: str) -> TensorInfo:
        try:
            return self._by_name[name]
        except KeyError:
            raise InvalidArgumentError(f"the engine has no tensor '{name}'") from None

    def _find(self, name: str) -> Optional[TensorInfo]:
        return self._by_name.get(name)

    @property
    def profiles(self) -> Tuple[Profile, ...]:
        return self._profiles

    @property
    def device_memory(self) -> EngineMemory:
        return self._memory

    @property
    def closed(self) -> bool:
        return self._native.closed

    def close(self) -> None:
        """Drops this reference to the engine; its sessions keep it. BusyError while another thread
        makes a session from it."""
        self._native.close()

    def __enter__(self) -> "Engine":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def __repr__(self) -> str:
        state = "closed" if self.closed else f"device {self.device}"
        names = ", ".join(t.name for t in self._tensors)
        return f"<inferlet.Engine TensorRT {self.tensorrt_major}, {state}, tensors {names}>"


def _checked_dtype(data_type: int, item_size: int) -> Optional[np.dtype]:
    dtype = numpy_dtype(data_type)
    return dtype if dtype is not None and dtype.itemsize == item_size else None


__all__ = ["Engine", "EngineMemory", "Profile", "ProfileShapes", "TensorFormat", "TensorInfo", "Shape"]
