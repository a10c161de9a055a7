"""The dtype table: every TensorRT data type (numbered as nvinfer1::DataType) and the numpy dtype it is
read and written as; a round trip of each type the stand-in builds (the dtypes network: identity per
type, so the bytes come back unchanged) with arrays of another dtype refused; ml_dtypes imported only
when a bfloat16 or 8-bit float is asked for, and its absence leaving those types without a dtype."""

import subprocess
import sys

import numpy as np
import pytest

import inferlet
from conftest import engine_path
from inferlet import DataType

try:
    import ml_dtypes
except ImportError:
    ml_dtypes = None

# (type, its number in TensorRT, its numpy dtype: a name, "ml_dtypes.<name>" or None)
TABLE = [
    ("FLOAT", 0, "float32"),
    ("HALF", 1, "float16"),
    ("INT8", 2, "int8"),
    ("INT32", 3, "int32"),
    ("BOOL", 4, "bool"),
    ("UINT8", 5, "uint8"),
    ("FP8", 6, "ml_dtypes.float8_e4m3fn"),
    ("BF16", 7, "ml_dtypes.bfloat16"),
    ("INT64", 8, "int64"),
    ("INT4", 9, None),
    ("FP4", 10, None),
    ("E8M0", 11, "ml_dtypes.float8_e8m0fnu"),
]


def expected_dtype(name):
    if name is None:
        return None
    if name.startswith("ml_dtypes."):
        return np.dtype(getattr(ml_dtypes, name.split(".")[1])) if ml_dtypes else None
    return np.dtype(name)


@pytest.mark.parametrize("type_name,number,dtype", TABLE, ids=[row[0] for row in TABLE])
def test_each_tensorrt_type_has_its_numpy_dtype(type_name, number, dtype):
    assert DataType[type_name] == number
    assert inferlet.numpy_dtype(number) == expected_dtype(dtype)
    assert inferlet.numpy_dtype(DataType[type_name]) == expected_dtype(dtype)


@pytest.mark.parametrize("type_name,number,dtype", TABLE, ids=[row[0] for row in TABLE])
def test_a_call_hands_the_library_each_arrays_own_data(type_name, number, dtype):
    """The address of a call's array, from the buffer protocol where numpy offers it, is its data's."""
    from inferlet._call import _address

    if expected_dtype(dtype) is None:
        pytest.skip(f"{type_name} has no dtype here")
    whole = np.zeros((4, 6), dtype=expected_dtype(dtype))
    for array in (whole, whole[1:], whole[:0]):
        assert _address(array) == array.__array_interface__["data"][0]


def test_every_tensorrt_type_is_in_the_table():
    assert [t.name for t in DataType] == [row[0] for row in TABLE]
    assert inferlet.numpy_dtype(12) is None


# The stand-in's types, each with values that show a wrong byte and the dtype an array of it must not be.
ROUND_TRIPS = [
    ("float", np.float32, np.array([[-1.5, 0.0, 3.25], [1e-30, -0.0, 7.0]]), np.float64),
    ("half", np.float16, np.array([[-1.5, 0.0, 3.25], [65504.0, -0.0, 1e-4]]), np.float32),
    ("int8", np.int8, np.array([[-128, -1, 0], [1, 64, 127]]), np.uint8),
    ("int32", np.int32, np.array([[-(2**31), -1, 0], [1, 2**20, 2**31 - 1]]), np.int64),
    ("bool", np.bool_, np.array([[True, False, True], [False, False, True]]), np.uint8),
]


def dtypes_inputs(batch_of: dict) -> dict:
    return {f"in_{name}": values for name, values in batch_of.items()}


@pytest.mark.parametrize("type_name,dtype,values,wrong", ROUND_TRIPS, ids=[row[0] for row in ROUND_TRIPS])
def test_each_type_round_trips_and_refuses_another_dtype(load, major, type_name, dtype, values, wrong):
    engine = load("dtypes", major)
    assert engine.tensor(f"in_{type_name}").dtype == np.dtype(dtype)
    assert engine.tensor(f"out_{type_name}").dtype == np.dtype(dtype)
    inputs = {f"in_{name}": np.zeros((2, 3), other) for name, other, _, _ in ROUND_TRIPS}
    inputs[f"in_{type_name}"] = values.astype(dtype)
    with inferlet.Session(engine) as session:
        outputs = session.run(inputs)
        out = outputs[f"out_{type_name}"]
        assert out.dtype == np.dtype(dtype) and out.tobytes() == inputs[f"in_{type_name}"].tobytes()
        inputs[f"in_{type_name}"] = values.astype(wrong)
        with pytest.raises(inferlet.InvalidArgumentError) as raised:
            session.run(inputs)
    assert raised.value.message == (
        f"input 'in_{type_name}' is an array of {np.dtype(wrong)}, the engine's "
        f"tensor is {np.dtype(dtype)}"
    )


@pytest.mark.skipif(ml_dtypes is None, reason="ml_dtypes is not installed")
def test_a_bfloat16_array_is_refused_by_a_float_tensor(load, major):
    engine = load("dtypes", major)
    inputs = {f"in_{name}": np.zeros((1, 3), dtype) for name, dtype, _, _ in ROUND_TRIPS}
    inputs["in_float"] = np.ones((1, 3), ml_dtypes.bfloat16)
    with inferlet.Session(engine) as session, pytest.raises(inferlet.InvalidArgumentError) as raised:
        session.run(inputs)
    assert raised.value.message == "input 'in_float' is an array of bfloat16, the engine's tensor is float32"


def child(code: str) -> str:
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    return run.stdout


def test_ml_dtypes_is_imported_only_for_the_types_that_need_it(major):
    out = child(f"""
import sys, inferlet
engine = inferlet.Engine({str(engine_path('dtypes', major))!r})
print('ml_dtypes' in sys.modules, inferlet.numpy_dtype(inferlet.DataType.BF16), 'ml_dtypes' in sys.modules)
""")
    assert out == ("False bfloat16 True\n" if ml_dtypes else "False None False\n")


def test_without_ml_dtypes_those_types_have_no_dtype():
    out = child("""
import sys
sys.modules['ml_dtypes'] = None  # as if it were not installed
import inferlet
print(inferlet.numpy_dtype(inferlet.DataType.BF16), inferlet.numpy_dtype(inferlet.DataType.FP8),
      inferlet.numpy_dtype(inferlet.DataType.FLOAT))
""")
    assert out == "None None float32\n"
