"""One call's arrays: the inputs checked against their tensors, the outputs the caller's (checked) or
made at the shapes the session resolves, and the results as the library shaped them. Host arrays
(numpy, and whatever numpy reads) are INFERLET_MEMORY_HOST: the library stages the inputs before enqueue
returns and copies the outputs out in wait; they are made contiguous (inputs) or refused when they are
not (outputs). Device and pinned arrays (_interchange) are used in place, with no copy or conversion.
An output whose extents depend on the values (TensorRT 10 and 11: non-maximum suppression, NonZero) is
made flat, as large as TensorRT's bound at the call's input shapes, and answered as a view at the shape
the call produced.

"""

from __future__ import annotations

import math
from typing import Dict, List, Mapping, Sequence, Tuple

import numpy as np

from ._device import MEMORY_HOST, DeviceArray, _dlpack_type, memory_kind
from ._dtypes import describe
from ._errors import InvalidArgumentError
from ._interchange import Imported, element_name, imported
from ._native import buffer_address

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
    if type(tensors) is not dict and not isinstance(tensors, Mapping):
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


def _check_imported(role: str, name: str, array: Imported, tensor) -> None:
    """dtype, C-contiguity and, for an output, writeability: nothing is converted or copied on the device."""
    if tensor is not None and tensor.is_input == (role == "input"):
        expected = _expected_dtype(role, name, tensor)
        if array.element != _dlpack_type(expected):
            raise InvalidArgumentError(
                f"{role} '{name}' is an array of {element_name(array.element)}, the engine's tensor is {expected}"
            )
    if array.strides is not None and not _c_contiguous(array.shape, array.strides):
        raise InvalidArgumentError(
            f"{role} '{name}' has strides {list(array.strides)} (in elements) for shape {list(array.shape)}: "
            "inferlet takes C-contiguous device arrays only and copies none"
        )
    if role == "output" and array.read_only:
        raise InvalidArgumentError(f"output '{name}' is read-only: the call writes into it in place")


def _c_contiguous(shape, strides) -> bool:
    expected = 1
    for extent, stride in zip(reversed(shape), reversed(strides)):
        if extent == 0:
            return True
        if extent != 1 and stride != expected:
            return False
        expected *= extent
    return True


def _imported_bytes(array: Imported) -> int:
    return math.prod(array.shape) * (array.element[1] // 8)


def call_input(session, name: str, value, held: list) -> tuple:
    """The library's entry of one input of session's call; held gets what keeps its memory."""
    if type(value) is not np.ndarray:
        found = imported(value, "input", name, session)
        if isinstance(found, Imported):
            _check_imported("input", name, found, session._engine._find(name))
            held.append(found.owner)
            return (name, found.kind, found.address, _imported_bytes(found), found.shape)
        if found is not None:
            value = found  # a host array DLPack handed over
    array = input_array(session._engine, name, value)
    held.append(array)
    return input_tensor(name, array)


def _own_array(value, name: str, session):
    """value when it is a DeviceArray the session itself allocated or wrote, of the tensor's dtype and
    the engine's device: nothing to order and nothing else to check, the common case of a loop over
    arrays made once. None for anything else, which goes the general way."""
    if (
        type(value) is DeviceArray
        and value._session is session._native
        and value.dtype is session._dtypes.get(name)
        and value.device == session._device
    ):
        return value
    return None


class Call:
    """The arrays of one call of session. Outputs not given are made at the shapes the session resolves
    for these inputs (without running anything): numpy arrays, or DeviceArrays of ``made`` memory."""

    def __init__(self, session, inputs: Mapping, outputs):
        engine = session._engine
        self._engine = engine
        self._session = session
        made = MEMORY_HOST
        if type(outputs) is str:
            made, outputs = memory_kind(outputs), None
        self.inputs: List[tuple] = []  # the library's entries
        self._held: List[object] = []  # what keeps device inputs' memory until the call is done
        for name, value in _mapping("inputs", inputs).items():
            own = _own_array(value, name, session)
            if own is not None:
                self.inputs.append((name, own._kind, own._address, own.nbytes, own.shape))
                self._held.append(own)
            else:
                self.inputs.append(call_input(session, name, value, self._held))
        given = _mapping("outputs", outputs) if outputs is not None else {}
        self.outputs: List[tuple] = []  # (name, made from): made from is what the result is made of
        self.output_entries: List[tuple] = []  # the library's entries
        for name, value in given.items():
            own = _own_array(value, name, session)
            if own is not None:
                self.outputs.append((name, own))
                self.output_entries.append((name, own._kind, own._address, own.nbytes))
            else:
                self._add_output(*self._output(name, value))
        if len(given) < len(engine.outputs):
            missing = [t for t in engine.outputs if t.name not in given]
            names = [entry[0] for entry in self.output_entries] + [t.name for t in missing]
            resolved = session._native.resolve(self.inputs, names)
            for tensor, bound in zip(missing, resolved[len(self.outputs) :]):
                self._add_output(*self._made(tensor, bound, made))

    def _add_output(self, name: str, entry: tuple, made) -> None:
        self.outputs.append((name, made))
        self.output_entries.append(entry)

    def _output(self, name: str, value) -> tuple:
        """(name, entry, what the result is made from)."""
        if type(value) is not np.ndarray:
            found = imported(value, "output", name, self._session)
            if isinstance(found, Imported):
                _check_imported("output", name, found, self._engine._find(name))
                entry = (name, found.kind, found.address, _imported_bytes(found))
                tensor = self._engine._find(name)
                return name, entry, (value, found, tensor.dtype if tensor else None, self._session)
            if found is not None:
                value = found
        array = output_array(self._engine, name, value)
        return name, (name, MEMORY_HOST, _address(array), array.nbytes), array

    def _made(self, tensor, resolved: tuple, kind: int) -> tuple:
        if kind == MEMORY_HOST:
            array = _made_output(tensor, resolved)
            return tensor.name, (tensor.name, MEMORY_HOST, _address(array), array.nbytes), array
        shape, data_dependent, max_bytes = resolved
        dtype = _expected_dtype("output", tensor.name, tensor)
        if data_dependent:
            shape = (-(-max_bytes // dtype.itemsize),)
        array = self._session._allocate(shape, dtype, kind)
        return tensor.name, (tensor.name, kind, array._address, array.nbytes), array

    def input_tensors(self) -> list:
        return self.inputs

    def output_tensors(self) -> list:
        return self.output_entries

    def results(self, shapes: Sequence[Shape]) -> Dict[str, object]:
        """Every output at the shape the library wrote, in the engine's order."""
        shaped = {name: _result(made, tuple(shape)) for (name, made), shape in zip(self.outputs, shapes)}
        return {t.name: shaped[t.name] for t in self._engine.outputs if t.name in shaped}


def _result(made, shape: Shape):
    if type(made) is DeviceArray:
        return made.reshaped(shape)
    if isinstance(made, np.ndarray):
        return _shaped(made, shape)
    value, found, dtype, session = made  # another library's array, written in place
    if found.shape == shape:
        return value
    # Larger than the output: its first elements, as the package's array over the same memory.
    library = session._engine._native.library
    return DeviceArray(
        found.owner, found.address, shape, dtype, found.kind, session._engine.device, library, session._native
    )
