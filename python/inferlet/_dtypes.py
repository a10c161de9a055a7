"""TensorRT's data types and their numpy dtypes. bfloat16 and the 8-bit floats come from ml_dtypes,
imported only when a tensor of such a type is described."""

from __future__ import annotations

import enum
from typing import Optional

import numpy as np


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


_NUMPY = {
    DataType.FLOAT: "float32",
    DataType.HALF: "float16",
    DataType.INT8: "int8",
    DataType.INT32: "int32",
    DataType.BOOL: "bool",
    DataType.UINT8: "uint8",
    DataType.INT64: "int64",
}
# TensorRT's FP8 is E4M3 (finite, no infinities); E8M0 the unsigned exponent-only scale type.
_ML_DTYPES = {
    DataType.BF16: "bfloat16",
    DataType.FP8: "float8_e4m3fn",
    DataType.E8M0: "float8_e8m0fnu",
}


def _ml_dtypes():
    try:
        import ml_dtypes
    except ImportError:
        return None
    return ml_dtypes


def numpy_dtype(data_type: int) -> Optional[np.dtype]:
    """The numpy dtype of a TensorRT data type: None for the 4-bit types, for a code this package does
    not know, and for bfloat16 and the 8-bit floats when ml_dtypes is not installed."""
    try:
        data_type = DataType(data_type)
    except ValueError:
        return None
    if data_type in _NUMPY:
        return np.dtype(_NUMPY[data_type])
    name = _ML_DTYPES.get(data_type)
    module = _ml_dtypes() if name else None
    if module is None or not hasattr(module, name):
        return None
    return np.dtype(getattr(module, name))
