"""Plugin libraries: inferlet.load_plugins. The stand-in's test engine custom_plugin has one layer of its
own, the plugin ScaleOffset version 1 (out0 = 3 * in0 + 0.5, the values its creator gives): it is refused
naming that creator until the stand-in's test plugin library of its major is loaded, then runs. What is
no plugin library raises the error of its status.

The plugin libraries are beside the engines' directory of the build, in trt<N>/plugins/. On TensorRT 7
and 8 a plugin library is loaded with RTLD_GLOBAL: the TensorRT it links then comes first for every
library loaded after it, so a process holds the plugin libraries of one of those two majors. Each round
trip therefore runs in an interpreter of its own."""

import subprocess
import sys

import pytest

import inferlet
from conftest import engine_dir, engine_path


def plugin_library(major: int, kind: str = "") -> str:
    """The test plugin library of the major; by default the one load_plugins takes (it registers itself
    when loaded on 7 and 8, it exports IPluginRegistry::loadLibrary's entry points from 10 on)."""
    kind = kind or ("entry" if major >= 10 else "static")
    return str(engine_dir().parent / f"trt{major}" / "plugins" / f"libtest_plugin_{kind}.so")


MISSING_PLUGIN = (
    "deserializeCudaEngine: no plugin creator 'ScaleOffset' version '1' in namespace '' is registered "
    "(layers[0], output 'out0'): load the plugin library that registers it before deserializing the engine"
)

ROUND_TRIP = """
import sys, numpy as np, inferlet
engine_file, library, major = sys.argv[1], sys.argv[2], int(sys.argv[3])
try:
    inferlet.Engine(engine_file, trt=major)
    sys.exit("loaded without its plugin library")
except inferlet.EngineRefusedError as refused:
    assert sys.argv[4] in refused.message, refused.message
assert inferlet.load_plugins(library, trt=major) == major
assert inferlet.load_plugins(library) == major  # loaded already: nothing changes, the same major answers
x = np.array([[0, 1, 2, 3], [-1, -2, 0.25, 10]], np.float32)
with inferlet.Engine(engine_file) as engine, inferlet.Session(engine) as session:
    out = session.run({"in0": x})["out0"]
assert engine.tensorrt_major == major
assert out.tolist() == (3 * x + 0.5).tolist(), out
print("ok")
"""


def test_engine_runs_once_its_plugin_library_is_loaded(major):
    """In a fresh interpreter: refused naming the creator, loaded, loaded again, run."""
    done = subprocess.run(
        [
            sys.executable,
            "-c",
            ROUND_TRIP,
            str(engine_path("custom_plugin", major)),
            plugin_library(major),
            str(major),
            MISSING_PLUGIN,
        ],
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert done.returncode == 0 and done.stdout == "ok\n", done.stdout + done.stderr


def test_what_is_no_plugin_library_raises_its_status(major):
    missing = str(engine_dir().parent / f"trt{major}" / "plugins" / "libnothing_here.so")
    cannot_open = f"{missing}: cannot open shared object file: No such file or directory"
    if major >= 10:
        error, message = inferlet.TensorRTError, (
            f"TensorRT {major} could not load plugin library '{missing}' (TensorRT: loadLibrary: cannot load "
            f"plugin library '{missing}': {cannot_open})"
        )
    else:
        error = inferlet.InvalidArgumentError
        message = f"cannot load plugin library '{missing}': {cannot_open}"
    with pytest.raises(error) as raised:
        inferlet.load_plugins(missing, trt=major)
    assert raised.value.message == message

    empty = plugin_library(major, "empty")
    why = (
        ": its getCreators (or getPluginCreators) handed out no creator"
        if major >= 10
        else ": a plugin library for TensorRT 7 and 8 registers its creators when it is loaded "
        "(REGISTER_TENSORRT_PLUGIN), the first time only"
    )
    with pytest.raises(inferlet.InvalidArgumentError) as raised:
        inferlet.load_plugins(empty, trt=major)
    refusal = f"plugin library '{empty}' registered no plugin creator with TensorRT {major}{why}"
    assert raised.value.message == refusal
    assert raised.value.code == inferlet.Code.INVALID_ARGUMENT


def test_without_trt_the_first_major_that_takes_it_answers():
    """The library of the last major is passed over by the majors before it, each refusing it with its
    reason, and taken by its own. (Those libraries, of 10 and later, are not loaded RTLD_GLOBAL.)"""
    majors = inferlet.tensorrt_majors()
    last = majors[-1]
    if last < 10:
        pytest.skip("the build's last major is not 10 or later")
    assert inferlet.load_plugins(plugin_library(last)) == last
    missing = str(engine_dir() / "libnothing_here.so")
    with pytest.raises(inferlet.InvalidArgumentError) as raised:
        inferlet.load_plugins(missing)
    assert raised.value.message.startswith(
        f"no TensorRT of this build ({inferlet._library.majors_in_words()}) takes the plugin library: "
        f"TensorRT {majors[0]}: "
    ), raised.value.message
    for major in majors:
        assert f"TensorRT {major}: " in raised.value.message
