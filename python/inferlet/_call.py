"""One call's arrays: the inputs checked against their tensors and made contiguous, the outputs the
caller's (checked) or made at the shapes the session resolves, and the results as the library shaped
them. Every array is host memory of the kind the interface calls INFERLET_MEMORY_HOST: the library
stages the inputs before enqueue returns and copies the outputs out in wait. An output whose extents
depend on the values (TensorRT 10 and 11: non-maximum suppression, NonZero) is made flat, as large as
TensorRT's bound at the call's input shapes, and answered as a view at the shape the call produced."""

from __future__ import annotations

from typing import Callable, Dict, List, Mapping, Optional, Sequence, Tuple

import numpy as np

from ._dtypes import describe
from ._errors import InvalidArgumentError
from ._native import buffer_address

MEMORY_HOST = 0

Shape = Tuple[int, ...]


def _address(array: np.ndarray) -> int:
    try:
        return buffer_address(array)
    except (BufferError, ValueError, TypeError):
        # A dtype numpy cannot describe to the buffer protocol (some of ml_dtypes' may not be).
        return array.__array_interface__["data"][0]


def _expected_dtype(role: str, name: str, tensor) -> np.dtype:
    if tensor.dtype is None:
        info = describe(tensor.data_type)
        why = (
            f"which numpy cannot hold ({info.bits}-bit elements)"
            if info is not None and not info.numpy_name
            else "which has no numpy dtype here (bfloat16 and 8-bit floats need ml_dtypes)"
        )
        type_name = getattr(tensor.data_type, "name", tensor.data_type)
        raise InvalidArgumentError(f"{role} '{name}' is of TensorRT type {type_name}, {why}")
    return tensor.dtype


def input_array(engine, name: str, value) -> np.ndarray:
    """value as the array the call reads: of the tensor's dtype (no conversion), C-contiguous (a copy
    when it is not). A name that is no input of the engine is left to the library to refuse."""
    array = np.asarray(value)
    tensor = engine._find(name)
    if tensor is not None and tensor.is_input:
        expected = _expected_dtype("input", name, tensor)
        if array.dtype != expected:
            if isinstance(value, np.ndarray):
                raise InvalidArgumentError(
                    f"input '{name}' is an array of {array.dtype}, the engine's tensor is {expected}"
                )
            raise InvalidArgumentError(
                f"input '{name}' is a {type(value).__name__}, which numpy reads as {array.dtype}, and "
                f"the engine's tensor is {expected}: give numpy.asarray(value, numpy.{expected})"
            )
    if not array.flags.c_contiguous:
        array = array.copy(order="C")
    return array


def output_array(engine, name: str, value) -> np.ndarray:
    """A caller's output array: of the tensor's dtype, C-contiguous and writeable, since the call writes
    into it in place; it may be larger than the output, whose elements then come first."""
    if not isinstance(value, np.ndarray):
        raise InvalidArgumentError(f"output '{name}' is a {type(value).__name__}, not a numpy array")
    tensor = engine._find(name)
    if tensor is not None and not tensor.is_input:
        expected = _expected_dtype("output", name, tensor)
        if value.dtype != expected:
            raise InvalidArgumentError(
                f"output '{name}' is an array of {value.dtype}, the engine's tensor is {expected}"
            )
    if not value.flags.c_contiguous or not value.flags.writeable:
        raise InvalidArgumentError(
            f"output '{name}' is not a writeable C-contiguous array: the call writes into it in place"
        )
    return value


def _shaped(array: np.ndarray, shape: Shape) -> np.ndarray:
    if array.shape == shape:
        return array
    return array.reshape(-1)[: int(np.prod(shape, dtype=np.int64))].reshape(shape)


def _mapping(role: str, tensors) -> Mapping:
    if not isinstance(tensors, Mapping):
        raise TypeError(f"{role} are a mapping of tensor names to arrays, not {type(tensors).__name__}")
    return tensors


def input_tensor(name: str, array: np.ndarray) -> tuple:
    """An input as the library takes it: name, memory kind, address, bytes, shape."""
    return (name, MEMORY_HOST, _address(array), array.nbytes, array.shape)


def _made_output(tensor, resolved: tuple) -> np.ndarray:
    shape, data_dependent, max_bytes = resolved
    dtype = _expected_dtype("output", tensor.name, tensor)
    if data_dependent:
        return np.empty(-(-max_bytes // dtype.itemsize), dtype=dtype)
    return np.empty(shape, dtype=dtype)


class Call:
    """The arrays of one call. resolve(input_tensors, output_names) answers, for each output, its shape
    for these inputs, whether it is data-dependent and the bytes it may take, without running anything
    (the session's resolve_output_bounds)."""

    def __init__(self, engine, resolve: Callable, inputs: Mapping, outputs: Optional[Mapping]):
        self._engine = engine
        self.inputs: List[Tuple[str, np.ndarray]] = [
            (name, input_array(engine, name, value)) for name, value in _mapping("inputs", inputs).items()
        ]
        given = _mapping("outputs", outputs) if outputs is not None else {}
        self.outputs: List[Tuple[str, np.ndarray]] = [
            (name, output_array(engine, name, value)) for name, value in given.items()
        ]
        missing = [t for t in engine.outputs if t.name not in given]
        if missing:
            names = [name for name, _ in self.outputs] + [t.name for t in missing]
            resolved = resolve(self.input_tensors(), names)
            for tensor, bound in zip(missing, resolved[len(self.outputs) :]):
                self.outputs.append((tensor.name, _made_output(tensor, bound)))

    def input_tensors(self) -> list:
        return [input_tensor(name, a) for name, a in self.inputs]

    def output_tensors(self) -> list:
        return [(name, MEMORY_HOST, _address(a), a.nbytes) for name, a in self.outputs]

    def results(self, shapes: Sequence[Shape]) -> Dict[str, np.ndarray]:
        """Every output at the shape the library wrote, in the engine's order."""
        shaped = {name: _shaped(array, tuple(shape)) for (name, array), shape in zip(self.outputs, shapes)}
        return {t.name: shaped[t.name] for t in self._engine.outputs if t.name in shaped}
