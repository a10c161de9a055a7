"""TensorRT's data types and their numpy dtypes, as the sessions library describes them (one table for
every tool: inferlet_describe_data_type). bfloat16 and the 8-bit floats come from ml_dtypes, imported
only when a tensor of such a type is described."""

from __future__ import annotations

import enum
import functools
from typing import NamedTuple, Optional

import numpy as np

from ._errors import InternalError, InvalidArgumentError
from ._library import open_library, tensorrt_majors


class DataType(enum.IntEnum):
    """nvinfer1::DataType, numbered as TensorRT numbers it (5 and above exist from TensorRT 10 on)."""

    FLOAT = 0
    HALF = 1
    INT8 = 2
    INT32 = 3
    BOOL = 4
    UINT8 = 5
    FP8 = 6
    BF16 = 7
    INT64 = 8
    INT4 = 9
    FP4 = 10
    E8M0 = 11


class DataTypeInfo(NamedTuple):
    """inferlet_data_type_info: what the library says of one TensorRT data type."""

    name: str  # TensorRT's enumerator: "kBF16"
    numpy_name: str  # numpy's or ml_dtypes' name: "bfloat16"; "" where numpy has none (4-bit types)
    npy_descr: str  # the .npy header's descr
    kind: str  # "f", "i", "u" or "b"
    bits: int  # per element


def _any_library():
    """The sessions library of the first major of the build that loads: every one has the same table."""
    failures = []
    for major in tensorrt_majors():
        try:
            return open_library(major)
        except InternalError as failure:
            failures.append(failure)
    raise failures[0]


@functools.lru_cache(maxsize=None)
def describe(data_type: int) -> Optional[DataTypeInfo]:
    """The library's description of a TensorRT data type; None for a code that is no TensorRT type."""
    code = int(data_type)
    if not -(2**31) <= code < 2**31:
        return None  # beyond the interface's int32_t: no type
    try:
        return DataTypeInfo(*_any_library().describe_data_type(code))
    except InvalidArgumentError:
        return None


def _ml_dtypes():
    try:
        import ml_dtypes
    except ImportError:
        return None
    return ml_dtypes


def numpy_dtype(data_type: int) -> Optional[np.dtype]:
    """The numpy dtype of a TensorRT data type: None for the 4-bit types, for a code that is no TensorRT
    type, and for bfloat16 and the 8-bit floats when ml_dtypes is not installed."""
    info = describe(data_type)
    if info is None or not info.numpy_name:
        return None
    try:
        return np.dtype(info.numpy_name)  # numpy's own; ml_dtypes is not imported for it
    except TypeError:
        pass
    module = _ml_dtypes()
    if module is None or not hasattr(module, info.numpy_name):
        return None
    return np.dtype(getattr(module, info.numpy_name))
