"""Shapes that depend on values (TensorRT 10 and 11): an output whose extent the network computes, made
as large as TensorRT's bound and answered at the shape the call produced, and shape tensors, whose values
(given as host arrays) steer the outputs' shapes. The engines: data_dependent (in0 [-1, 4]; out0 the
elements of in0 above 0, in order; out1 2 * in0) and shape_tensor (in0 [-1, 6] reshaped to the values
of the int32 'shape', out0, and of the int64 'shape64', out1)."""

import numpy as np
import pytest

import inferlet
from emulator import calls, device, live

F32 = np.float32


@pytest.fixture
def named_major(major):
    if major < 10:
        pytest.skip("TensorRT 7 and 8 engines have neither data-dependent outputs nor such shape tensors")
    return major


def rows_with_positives(rows: int, positives: int, seed: int) -> np.ndarray:
    """rows x 4 values, exactly `positives` of them above 0, at places the seed picks."""
    rng = np.random.default_rng(seed)
    values = -rng.uniform(0.5, 2.0, rows * 4).astype(F32)
    values[rng.choice(rows * 4, positives, replace=False)] *= -1
    return values.reshape(rows, 4)


# (rows, values above 0): the same shapes giving other output sizes, none and all of them included.
DATA_DEPENDENT_CALLS = [(3, 5), (3, 0), (3, 12), (1, 2), (4, 16), (3, 7)]


@pytest.mark.parametrize("cuda_graphs", [False, True], ids=["plain", "graphs"])
def test_data_dependent_output_comes_back_at_the_size_the_call_produced(load, named_major, cuda_graphs):
    engine = load("data_dependent", named_major)
    emu = device()
    before = live(emu) if emu is not None else None
    with inferlet.Session(engine, cuda_graphs=cuda_graphs) as session:
        assert session.output_bounds({"in0": (3, 4)}) == {
            "out0": ((-1,), True, 48),
            "out1": ((3, 4), False, 48),
        }
        mallocs = []
        for n, (rows, positives) in enumerate(DATA_DEPENDENT_CALLS):
            x = rows_with_positives(rows, positives, n)
            if n % 2:
                session.enqueue({"in0": x})
                out = session.wait()
            else:
                out = session.run({"in0": x})
            assert out["out0"].shape == (positives,)
            assert out["out0"].tobytes() == x[x > 0].tobytes()
            assert out["out1"].tobytes() == (2 * x).tobytes()
            if emu is not None:
                mallocs.append(calls(emu, "cudaMalloc"))
        # The session's memory for the output grows to the largest bound (4 rows) and is kept.
        if emu is not None:
            assert mallocs[-1] == mallocs[4]
    if emu is not None:
        assert live(emu) == before


def test_an_array_given_for_a_data_dependent_output_holds_its_bound(load, named_major):
    engine = load("data_dependent", named_major)
    x = rows_with_positives(3, 5, 7)
    with inferlet.Session(engine) as session:
        given = np.full(12, -1.0, F32)
        result = session.run({"in0": x}, outputs={"out0": given})["out0"]
        assert result.shape == (5,) and np.shares_memory(result, given)
        assert result.tobytes() == x[x > 0].tobytes()
        with pytest.raises(inferlet.BufferTooSmallError) as refused:
            session.run({"in0": x}, outputs={"out0": np.empty(11, F32)})
        assert str(refused.value) == (
            "output 'out0' has 44 bytes, at these input shapes it may take up to 48 (its extents depend on "
            "the values the call computes)"
        )


def shape_inputs(rows: int, shape, seed: int) -> dict:
    x = np.random.default_rng(seed).standard_normal((rows, 6)).astype(F32)
    return {"in0": x, "shape": np.array(shape, np.int32), "shape64": np.array([rows, 6], np.int64)}


@pytest.mark.parametrize("cuda_graphs", [False, True], ids=["plain", "graphs"])
def test_shape_tensors_steer_the_outputs_shapes(load, named_major, cuda_graphs):
    engine = load("shape_tensor", named_major)
    with inferlet.Session(engine, cuda_graphs=cuda_graphs) as session:
        # The same input shapes with other values, twice each: a graph replays only its own values.
        for n, (rows, shape) in enumerate([(2, (3, 4)), (2, (4, 3)), (2, (3, 4)), (2, (4, 3)), (4, (6, 4))]):
            inputs = shape_inputs(rows, shape, n)
            assert session.output_shapes(inputs) == {"out0": tuple(shape), "out1": (rows, 6)}
            out = session.run(inputs)
            assert out["out0"].shape == tuple(shape)
            assert out["out0"].tobytes() == inputs["in0"].tobytes()
            assert out["out1"].shape == (rows, 6)
            assert out["out1"].tobytes() == inputs["in0"].tobytes()
        with pytest.raises(inferlet.ShapeOutOfProfileError) as refused:
            session.run(shape_inputs(2, (1, 12), 9))
        assert str(refused.value) == (
            "input 'shape' values [1, 12] are outside the range of profile 0: [2, 3] to [6, 4]"
        )


def test_a_profile_tells_its_shape_tensors_values_at_each_point(load, named_major):
    profile = load("shape_tensor", named_major).profiles[0]
    assert profile.values == {
        "shape": inferlet.ProfileShapes((2, 3), (3, 4), (6, 4)),
        "shape64": inferlet.ProfileShapes((1, 6), (2, 6), (4, 6)),
    }
    assert profile.shapes["shape"] == inferlet.ProfileShapes((2,), (2,), (2,))


def test_shape_tensor_values_come_from_tensorrt_10_on(load, major):
    # shape_tensor_int32 is built for every major; 7 and 8, whose libraries serve no shape tensors, tell none.
    profile = load("shape_tensor_int32", major).profiles[0]
    expected = {"shape": ((2, 3), (3, 4), (6, 4))} if major >= 10 else {}
    assert profile.values == expected
