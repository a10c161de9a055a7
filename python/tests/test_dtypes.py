"""The dtype table: every TensorRT data type (numbered as nvinfer1::DataType), as every sessions library
describes it, and the numpy dtype it is read and written as; a round trip of each type the stand-in
builds (the dtypes and dtypes10 networks: identity per type, so the bytes come back unchanged) with
arrays of another dtype refused, and the 4-bit types refused by name; ml_dtypes imported only when a
bfloat16 or 8-bit float is asked for, and its absence leaving those types without a dtype."""

import subprocess
import sys

import numpy as np
import pytest

import inferlet
from conftest import engine_path
from inferlet import DataType, _dtypes
from inferlet._library import open_library

try:
    import ml_dtypes
except ImportError:
    ml_dtypes = None

# (type, its number in TensorRT, its numpy dtype: a name, "ml_dtypes.<name>" or None, kind, bits)
TABLE = [
    ("FLOAT", 0, "float32", "f", 32),
    ("HALF", 1, "float16", "f", 16),
    ("INT8", 2, "int8", "i", 8),
    ("INT32", 3, "int32", "i", 32),
    ("BOOL", 4, "bool", "b", 8),
    ("UINT8", 5, "uint8", "u", 8),
    ("FP8", 6, "ml_dtypes.float8_e4m3fn", "f", 8),
    ("BF16", 7, "ml_dtypes.bfloat16", "f", 16),
    ("INT64", 8, "int64", "i", 64),
    ("INT4", 9, None, "i", 4),
    ("FP4", 10, None, "f", 4),
    ("E8M0", 11, "ml_dtypes.float8_e8m0fnu", "f", 8),
]
IDS = [row[0] for row in TABLE]


def expected_dtype(name):
    if name is None:
        return None
    if name.startswith("ml_dtypes."):
        return np.dtype(getattr(ml_dtypes, name.split(".")[1])) if ml_dtypes else None
    return np.dtype(name)


@pytest.mark.parametrize("type_name,number,dtype,kind,bits", TABLE, ids=IDS)
def test_each_tensorrt_type_has_its_numpy_dtype_from_every_library(type_name, number, dtype, kind, bits):
    assert DataType[type_name] == number
    assert inferlet.numpy_dtype(number) == expected_dtype(dtype)
    assert inferlet.numpy_dtype(DataType[type_name]) == expected_dtype(dtype)
    numpy_name = dtype.split(".")[-1] if dtype else ""
    for major in inferlet.tensorrt_majors():
        described = _dtypes.DataTypeInfo(*open_library(major).describe_data_type(number))
        assert described[:2] + described[3:] == (f"k{type_name}", numpy_name, kind, bits)
        assert _dtypes.describe(number) == described


@pytest.mark.parametrize("type_name,number,dtype,kind,bits", TABLE, ids=IDS)
def test_a_call_hands_the_library_each_arrays_own_data(type_name, number, dtype, kind, bits):
    """The address of a call's array, from the buffer protocol where numpy offers it, is its data's."""
    from inferlet._call import _address

    if expected_dtype(dtype) is None:
        pytest.skip(f"{type_name} has no dtype here")
    whole = np.zeros((4, 6), dtype=expected_dtype(dtype))
    for array in (whole, whole[1:], whole[:0]):
        assert _address(array) == array.__array_interface__["data"][0]


def test_the_dtypes_come_from_the_librarys_table(monkeypatch):
    """numpy_dtype keeps no table of its own: what the library names is the dtype."""

    class Library:
        def describe_data_type(self, code):
            return ("kFLOAT", "float64", "<f8", "f", 64) if code == 0 else ("kINT4", "", "", "i", 4)

    _dtypes.describe.cache_clear()
    monkeypatch.setattr(_dtypes, "_any_library", Library)
    try:
        assert inferlet.numpy_dtype(DataType.FLOAT) == np.dtype("float64")
        assert inferlet.numpy_dtype(DataType.INT32) is None
    finally:
        _dtypes.describe.cache_clear()


def test_every_tensorrt_type_is_in_the_table():
    assert [t.name for t in DataType] == IDS
    for code in (12, -1, 2**40):
        assert inferlet.numpy_dtype(code) is None
        assert _dtypes.describe(code) is None
    with pytest.raises(inferlet.InvalidArgumentError) as raised:
        open_library(inferlet.tensorrt_majors()[0]).describe_data_type(12)
    assert raised.value.message == "data type 12 is not one of TensorRT's"


# The stand-in's types per test network (dtypes10: the types TensorRT 10 brought that numpy holds, with
# ml_dtypes), each with values that show a wrong byte (None: a pattern of every byte's own value) and the
# dtype an array of it must not be.
ROUND_TRIPS = [
    ("dtypes", "float", "float32", [[-1.5, 0.0, 3.25], [1e-30, -0.0, 7.0]], "float64"),
    ("dtypes", "half", "float16", [[-1.5, 0.0, 3.25], [65504.0, -0.0, 1e-4]], "float32"),
    ("dtypes", "int8", "int8", [[-128, -1, 0], [1, 64, 127]], "uint8"),
    ("dtypes", "int32", "int32", [[-(2**31), -1, 0], [1, 2**20, 2**31 - 1]], "int64"),
    ("dtypes", "bool", "bool", [[True, False, True], [False, False, True]], "uint8"),
    ("dtypes10", "uint8", "uint8", [[0, 1, 127], [128, 254, 255]], "int8"),
    ("dtypes10", "fp8", "ml_dtypes.float8_e4m3fn", None, "uint8"),
    ("dtypes10", "bf16", "ml_dtypes.bfloat16", None, "float16"),
    ("dtypes10", "int64", "int64", [[-(2**63), -1, 0], [1, 2**40, 2**63 - 1]], "uint64"),
    ("dtypes10", "e8m0", "ml_dtypes.float8_e8m0fnu", None, "uint8"),
]


def round_trip_values(dtype: np.dtype, values) -> np.ndarray:
    if values is None:
        pattern = bytes((0x3C + 53 * i) % 256 for i in range(6 * dtype.itemsize))
        return np.frombuffer(pattern, dtype).reshape(2, 3).copy()
    return np.array(values).astype(dtype)


@pytest.mark.parametrize(
    "network,type_name,dtype_name,values,wrong", ROUND_TRIPS, ids=[row[1] for row in ROUND_TRIPS]
)
def test_each_type_round_trips_and_refuses_another_dtype(
    load, major, network, type_name, dtype_name, values, wrong
):
    if network == "dtypes10" and major < 10:
        pytest.skip("TensorRT 10 brought these types")
    row_dtypes = {row[1]: expected_dtype(row[2]) for row in ROUND_TRIPS if row[0] == network}
    if None in row_dtypes.values():
        pytest.skip("ml_dtypes is not installed: the network's inputs cannot all be made")
    dtype = row_dtypes[type_name]
    engine = load(network, major)
    for role in ("in", "out"):
        tensor = engine.tensor(f"{role}_{type_name}")
        assert (tensor.dtype, tensor.item_size) == (dtype, dtype.itemsize)
    inputs = {f"in_{name}": np.zeros((2, 3), other) for name, other in row_dtypes.items()}
    inputs[f"in_{type_name}"] = round_trip_values(dtype, values)
    with inferlet.Session(engine) as session:
        outputs = session.run(inputs)
        out = outputs[f"out_{type_name}"]
        assert out.dtype == dtype and out.tobytes() == inputs[f"in_{type_name}"].tobytes()
        inputs[f"in_{type_name}"] = np.zeros((2, 3), wrong)
        with pytest.raises(inferlet.InvalidArgumentError) as raised:
            session.run(inputs)
    assert raised.value.message == (
        f"input 'in_{type_name}' is an array of {np.dtype(wrong)}, the engine's tensor is {dtype}"
    )


@pytest.mark.parametrize("type_name,enumerator", [("int4", "INT4"), ("fp4", "FP4")], ids=["INT4", "FP4"])
def test_a_four_bit_tensor_has_no_dtype_and_is_refused_by_its_type(load, major, type_name, enumerator):
    if major < 10:
        pytest.skip("TensorRT 10 brought the 4-bit types")
    engine = load("dtypes_all", major)
    for role in ("in", "out"):
        tensor = engine.tensor(f"{role}_{type_name}")
        assert (tensor.data_type, tensor.dtype, tensor.item_size) == (DataType[enumerator], None, 1)
    with inferlet.Session(engine) as session:
        with pytest.raises(inferlet.InvalidArgumentError) as as_input:
            session.run({f"in_{type_name}": np.zeros((1, 3), np.uint8)})
        with pytest.raises(inferlet.InvalidArgumentError) as as_output:
            session.run({}, outputs={f"out_{type_name}": np.zeros((1, 3), np.uint8)})
    why = f"is of TensorRT type {enumerator}, which numpy cannot hold (4-bit elements)"
    assert as_input.value.message == f"input 'in_{type_name}' {why}"
    assert as_output.value.message == f"output 'out_{type_name}' {why}"


@pytest.mark.skipif(ml_dtypes is None, reason="ml_dtypes is not installed")
def test_a_bfloat16_array_is_refused_by_a_float_tensor(load, major):
    engine = load("dtypes", major)
    inputs = {f"in_{row[1]}": np.zeros((1, 3), row[2]) for row in ROUND_TRIPS if row[0] == "dtypes"}
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
