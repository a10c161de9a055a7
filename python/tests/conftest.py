"""What every test of the package reads: the engines of a build (INFERLET_TEST_ENGINE_DIR, by default
out/emulated/engines of this checkout), the network descriptions they were built from, and the TensorRT
majors of the package under test, each a parameter of the tests that ask for `major`."""

import os
from pathlib import Path

import pytest

import inferlet

REPO = Path(__file__).resolve().parents[2]
SAMPLES = REPO / "platform" / "tensorrt" / "samples"
TEST_NETWORKS = REPO / "platform" / "tensorrt" / "tests" / "networks"
PYTHON_NETWORKS = Path(__file__).resolve().parent / "networks"


def engine_dir() -> Path:
    given = os.environ.get("INFERLET_TEST_ENGINE_DIR")
    return Path(given) if given else REPO / "out" / "emulated" / "engines"


def engine_path(name: str, major: int) -> Path:
    return engine_dir() / f"{name}-trt{major}.engine"


def pytest_configure(config):
    if not (engine_dir() / f"smoke-trt{inferlet.tensorrt_majors()[0]}.engine").is_file():
        pytest.exit(
            f"no engines in {engine_dir()}: build them (cmake --build --preset emulated) or set "
            "INFERLET_TEST_ENGINE_DIR to a build's engines/",
            returncode=4,
        )


def pytest_report_header(config):
    return (
        f"inferlet {inferlet.__version__} from {Path(inferlet.__file__).parent}, libraries in "
        f"{inferlet.library_dir()}, TensorRT {inferlet.tensorrt_majors()}, engines in {engine_dir()}"
    )


def pytest_generate_tests(metafunc):
    if "major" in metafunc.fixturenames:
        majors = inferlet.tensorrt_majors()
        metafunc.parametrize("major", majors, ids=[f"trt{m}" for m in majors])


@pytest.fixture
def load():
    """load(name, major, **kwargs): an engine of the build, closed after the test."""
    engines = []

    def make(name, major, **kwargs):
        engines.append(inferlet.Engine(engine_path(name, major), trt=kwargs.pop("trt", major), **kwargs))
        return engines[-1]

    yield make
    for engine in engines:
        engine.close()


@pytest.fixture
def smoke(load, major):
    return load("smoke", major)


@pytest.fixture
def emu():
    """The emulated device (tests/emulator.py); the test is skipped on a real one."""
    from emulator import device

    emulated = device()
    if emulated is None:
        pytest.skip("counts or steers the emulated device")
    return emulated
