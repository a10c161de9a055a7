"""Every sample engine of every TensorRT major of the package (and varying_width, whose width varies
too), at the smallest and largest shapes of each profile, against what its network description
computes in numpy. The stand-in computes in float32, one operation at a time in the order reference.py
follows, and numpy rounds each operation alike: the bytes are equal, not merely close. The engines'
descriptions and device memory are checked against the same descriptions."""

import zlib

import numpy as np
import pytest

import inferlet
from conftest import SAMPLES, TEST_NETWORKS
from reference import DTYPES, compute, memory_at_largest_shapes, random_inputs, read, weight_bytes

NETWORKS = {path.stem: path for path in sorted(SAMPLES.glob("*.json"))}
NETWORKS["varying_width"] = TEST_NETWORKS / "varying_width.json"


def cases():
    for name, path in NETWORKS.items():
        for profile in range(len(read(path)["profiles"])):
            for point in ("min", "max"):
                yield pytest.param(name, profile, point, id=f"{name}-profile{profile}-{point}")


@pytest.mark.parametrize("name,profile,point", list(cases()))
def test_outputs_are_the_bytes_the_network_computes(load, major, name, profile, point):
    network = read(NETWORKS[name])
    inputs = random_inputs(network, profile, point, seed=zlib.crc32(f"{name}{profile}{point}".encode()))
    expected = compute(network, inputs)
    with inferlet.Session(load(name, major), profile=profile) as session:
        outputs = session.run(inputs)
    assert list(outputs) == list(expected)
    for output, want in expected.items():
        got = outputs[output]
        assert (got.dtype, got.shape) == (want.dtype, want.shape), output
        assert got.tobytes() == want.tobytes(), output


@pytest.mark.parametrize("name", NETWORKS)
def test_description_is_the_networks(load, major, name):
    network = read(NETWORKS[name])
    engine = load(name, major)
    assert engine.tensorrt_major == major and engine.device == 0
    tensors = [(t["name"], True, t) for t in network["inputs"]] + [
        (t["name"], False, t) for t in network["outputs"]
    ]
    assert [
        (t.name, t.is_input, t.data_type, t.dtype, t.shape, t.format, t.location, t.item_size)
        for t in engine.tensors
    ] == [
        (
            tensor_name,
            is_input,
            inferlet.DataType.FLOAT,
            np.dtype(DTYPES[t["dtype"]]),
            tuple(t["dims"]),
            inferlet.TensorFormat.LINEAR,
            "device",
            4,
        )
        for tensor_name, is_input, t in tensors
    ]
    assert [t.name for t in engine.inputs] == [t["name"] for t in network["inputs"]]
    assert [t.name for t in engine.outputs] == [t["name"] for t in network["outputs"]]
    assert [(p.index, {k: tuple(map(tuple, v)) for k, v in p.shapes.items()}) for p in engine.profiles] == [
        (index, {k: (tuple(v["min"]), tuple(v["opt"]), tuple(v["max"])) for k, v in profile.items()})
        for index, profile in enumerate(network["profiles"])
    ]
    assert all(set(p.formats.values()) == {inferlet.TensorFormat.LINEAR} for p in engine.profiles)
    assert engine.tensor(network["inputs"][0]["name"]).is_input


@pytest.mark.parametrize("name", NETWORKS)
def test_device_memory_is_the_weights_the_context_and_the_buffers(load, major, name):
    network = read(NETWORKS[name])
    engine = load(name, major)
    contexts = [memory_at_largest_shapes(network, p) for p in range(len(network["profiles"]))]
    assert engine.device_memory == (weight_bytes(network), max(context for context, _ in contexts))
    for profile, (context, buffers) in enumerate(contexts):
        # TensorRT 10 and 11 size a context per profile; 7 and 8 hold the largest profile's.
        own = context if major >= 10 else engine.device_memory.context
        with inferlet.Session(engine, profile=profile) as session:
            assert session.device_memory == own + buffers


def test_an_engine_picks_its_major_and_loads_from_bytes_as_from_a_path(major):
    from conftest import engine_path

    path = engine_path("smoke", major)
    by_path = inferlet.Engine(path)
    by_bytes = inferlet.Engine(bytearray(path.read_bytes()))
    assert (by_path.tensorrt_major, by_bytes.tensorrt_major) == (major, major)
    assert by_path.tensors == by_bytes.tensors and by_path.profiles == by_bytes.profiles
    with pytest.raises(TypeError):
        inferlet.Engine(42)
