"""What a network description of the stand-in TensorRT (its JSON) computes, in numpy: every layer in
the stand-in's own order of float32 operations, each rounded as the stand-in rounds it, so that an
engine's outputs are expected byte for byte (see platform/tensorrt/README.md, "Layers" and "Network
description", for the definitions and the builder's weight fill)."""

import json
from pathlib import Path

import numpy as np

DTYPES = {"float": np.float32, "half": np.float16, "int8": np.int8, "int32": np.int32, "bool": np.bool_}


def read(path: Path) -> dict:
    with open(path) as file:
        return json.load(file)


def random_fill(seed: int, count: int) -> np.ndarray:
    """The builder's "random" fill: value i (from 1) is splitmix64 of seed + i * 0x9E3779B97F4A7C15, its
    top 24 bits scaled into [-1, 1)."""
    with np.errstate(over="ignore"):
        z = np.uint64(seed) + np.arange(1, count + 1, dtype=np.uint64) * np.uint64(0x9E3779B97F4A7C15)
        z = (z ^ (z >> np.uint64(30))) * np.uint64(0xBF58476D1CE4E5B9)
        z = (z ^ (z >> np.uint64(27))) * np.uint64(0x94D049BB133111EB)
        z = z ^ (z >> np.uint64(31))
    return (z >> np.uint64(40)).astype(np.float32) * np.float32(2.0 / 16777216.0) - np.float32(1.0)


def parameter(definition, count: int) -> np.ndarray:
    if definition is None:
        return np.zeros(count, np.float32)
    if isinstance(definition, (int, float)):
        return np.full(count, definition, np.float32)
    if isinstance(definition, list):
        return np.asarray(definition, np.float32)
    if definition["fill"] == "constant":
        return np.full(count, definition["value"], np.float32)
    return random_fill(definition["seed"], count)


def _dense(x: np.ndarray, layer: dict) -> np.ndarray:
    features, units = x.shape[-1], layer["units"]
    weights = parameter(layer["weights"], features * units).reshape(features, units)
    y = np.broadcast_to(parameter(layer.get("bias"), units), x.shape[:-1] + (units,)).copy()
    for k in range(features):
        y = y + x[..., k : k + 1] * weights[k]
    return y


def _conv1d(x: np.ndarray, layer: dict) -> np.ndarray:
    taps = parameter(layer["weights"], layer.get("kernel_size", 0))
    length = x.shape[-1] - len(taps) + 1
    y = np.full(x.shape[:-1] + (length,), parameter(layer.get("bias"), 1)[0], np.float32)
    for t, tap in enumerate(taps):
        y = y + tap * x[..., t : t + length]
    return y


def _layer(layer: dict, args) -> np.ndarray:
    op, x = layer["op"], args[0]
    if op == "add":
        return x + args[1]
    if op == "sub":
        return x - args[1]
    if op == "mul":
        return x * args[1]
    if op == "max":
        return np.where(x < args[1], args[1], x)  # std::max(a, b): b only when a < b
    if op == "relu":
        return np.where(x > 0, x, np.float32(0))
    if op == "scale":
        return np.float32(layer.get("a", 1)) * x + np.float32(layer.get("b", 0))
    if op == "dense":
        return _dense(x, layer)
    if op == "conv1d":
        return _conv1d(x, layer)
    if op == "identity":
        return x.copy()
    raise ValueError(f"no layer {op}")


def compute(network: dict, inputs: dict, everything: bool = False) -> dict:
    """The network's outputs for inputs (name -> array of the input's dtype); with everything, every
    tensor, the inputs and those between layers included."""
    values = dict(inputs)
    for layer in network["layers"]:
        values[layer["output"]] = _layer(layer, [values[name] for name in layer["inputs"]])
    if everything:
        return values
    return {output["name"]: values[output["name"]] for output in network["outputs"]}


def random_inputs(network: dict, profile: int, point: str, seed: int) -> dict:
    """Inputs at a profile's "min", "opt" or "max" shapes, of the inputs' dtypes, from a seed."""
    rng = np.random.default_rng(seed)
    return {
        t["name"]: rng.standard_normal(network["profiles"][profile][t["name"]][point]).astype(
            DTYPES[t["dtype"]]
        )
        for t in network["inputs"]
    }


def weight_bytes(network: dict) -> int:
    """What the stand-in's engine holds on the device: the float32 weights and biases its layers give."""
    values = compute(network, random_inputs(network, 0, "max", 0), everything=True)
    count = 0
    for layer in network["layers"]:
        if layer["op"] == "dense":
            features = values[layer["inputs"][0]].shape[-1]
            count += features * layer["units"] + (layer["units"] if "bias" in layer else 0)
        elif layer["op"] == "conv1d":
            taps = layer["weights"]
            count += (len(taps) if isinstance(taps, list) else layer["kernel_size"]) + ("bias" in layer)
    return 4 * count


def memory_at_largest_shapes(network: dict, profile: int):
    """(execution context, session buffers) bytes at the profile's largest shapes: the tensors between
    layers, each rounded up to 256 bytes, as the stand-in's context takes them, and every input and output
    at its size, as a session's buffers hold them."""
    values = compute(network, random_inputs(network, profile, "max", 0), everything=True)
    ends = {t["name"] for t in network["inputs"] + network["outputs"]}
    context = sum(-(-v.nbytes // 256) * 256 for name, v in values.items() if name not in ends)
    return context, sum(values[name].nbytes for name in ends)
