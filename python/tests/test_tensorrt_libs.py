"""TensorRT's libraries found where pip puts them: with a tensorrt_libs package installed, its
libnvinfer.so.N is the one the sessions library runs on, and the package says which file that is;
without TensorRT anywhere, the error says what to install. Each case is a fresh interpreter, as a
library once loaded stays in its process."""

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import inferlet
from conftest import engine_path

# Runs the smoke engine once and prints which libnvinfer served it, then the output's checksum.
CHILD = """
import sys, numpy as np, inferlet
major = int(sys.argv[1])
with inferlet.Engine(sys.argv[2], trt=major if sys.argv[3] == "trt" else None) as engine, inferlet.Session(engine) as session:
    x = np.linspace(-1, 1, 2 * 340, dtype=np.float32).reshape(2, 340)
    out = session.run({"in0": x, "in1": x})["out0"]
print(inferlet.tensorrt_library(major))
print(out.tobytes().hex())
"""


def run_child(major, python_path=(), library_dir=None, emulator_path=True, trt="trt"):
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join([*map(str, python_path), *sys.path])
    if library_dir:
        env["INFERLET_LIBRARY_DIR"] = str(library_dir)
    # The stand-in's libraries find the emulated device through their RUNPATH, which a copy loses (in an
    # installed package, that directory holds the stand-in TensorRT too).
    emulator = loaded_file("libcudaemu.so")
    if emulator and emulator_path:
        env["LD_LIBRARY_PATH"] = os.pathsep.join([str(emulator.parent), env.get("LD_LIBRARY_PATH", "")])
    return subprocess.run(
        [sys.executable, "-c", CHILD, str(major), str(engine_path("smoke", major)), trt],
        capture_output=True,
        text=True,
        timeout=60,
        env=env,
    )


def loaded_file(prefix):
    with open("/proc/self/maps", encoding="utf-8") as maps:
        for line in maps:
            path = line.split(maxsplit=5)[-1].strip()
            if Path(path).name.startswith(prefix):
                return Path(path)
    return None


@pytest.fixture
def build_tensorrt(load, major):
    """The libnvinfer.so.<major> the build's sessions library runs on without a tensorrt_libs package."""
    load("smoke", major)
    library = inferlet.tensorrt_library(major)
    assert library is not None and library.name.startswith(f"libnvinfer.so.{major}")
    return library


def test_a_tensorrt_libs_package_is_loaded_before_the_builds_tensorrt(tmp_path, major, build_tensorrt):
    if inferlet.DEVICE != "emulated":
        pytest.skip("copies the stand-in TensorRT into a throw-away package")
    package = tmp_path / "site" / "tensorrt_libs"
    package.mkdir(parents=True)
    (package / "__init__.py").write_text("")
    shutil.copy(build_tensorrt, package / f"libnvinfer.so.{major}")
    plugin = build_tensorrt.parent / f"libnvinfer_plugin.so.{major}"
    if plugin.exists():
        shutil.copy(plugin, package / plugin.name)

    with_package = run_child(major, python_path=[tmp_path / "site"])
    without = run_child(major)

    assert with_package.returncode == 0, with_package.stderr
    assert without.returncode == 0, without.stderr
    assert with_package.stdout.splitlines()[0] == str(package / f"libnvinfer.so.{major}")
    assert without.stdout.splitlines()[0] == str(build_tensorrt)
    assert with_package.stdout.splitlines()[1] == without.stdout.splitlines()[1]


@pytest.mark.parametrize("trt", ["trt", "any"])
def test_a_sessions_library_without_tensorrt_names_what_to_install(tmp_path, major, trt):
    # A copy of the sessions library whose RUNPATH ($ORIGIN/..) leads to no TensorRT; without trt, the
    # other majors' libraries are not there at all, and the failure gives every major's.
    lib = tmp_path / "lib"
    lib.mkdir()
    shutil.copy(inferlet.library_dir() / f"libinferlet_sessions{major}.so", lib)

    child = run_child(major, library_dir=lib, emulator_path=False, trt=trt)

    assert child.returncode != 0
    last = child.stderr.strip().splitlines()[-1]
    assert last.startswith("inferlet._errors.InternalError: cannot load ")
    assert re.search(rf"libnvinfer(_plugin)?\.so\.{major}: cannot open shared object file", last), last
    install = {
        10: "install it with pip (tensorrt-cu12-libs==10.* or tensorrt-cu13-libs==10.*), or put its lib/ "
        "directory on LD_LIBRARY_PATH",
        11: "install it with pip (tensorrt-cu13-libs==11.* or tensorrt-cu12-libs==11.*), or put its lib/ "
        "directory on LD_LIBRARY_PATH",
    }.get(major, "put its lib/ directory on LD_LIBRARY_PATH")
    words = (
        f": TensorRT {major} was found neither in a tensorrt_libs package nor on the library search path; "
        + install
    )
    if trt == "trt":
        assert last.endswith(words), last
    else:
        assert words + ("; " if major != inferlet.tensorrt_majors()[-1] else "") in last + "; ", last
        assert last.count("cannot load ") == len(inferlet.tensorrt_majors()), last
