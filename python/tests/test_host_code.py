"""Version-compatible engines (TensorRT 10 and later) hold host code: Engine(..., allow_host_code=True)
loads one and its calls compute; without the option it is refused, naming the option."""

import numpy as np
import pytest

import inferlet
from conftest import engine_path
from inferlet import Code


def majors_with_host_code():
    return [m for m in inferlet.tensorrt_majors() if m >= 10]


@pytest.mark.parametrize("trt", [None, "own"], ids=["every-major", "its-major"])
def test_a_version_compatible_engine_loads_with_allow_host_code_and_runs(trt):
    if not majors_with_host_code():
        pytest.skip("no TensorRT 10 or later in this build")
    for major in majors_with_host_code():
        path = engine_path("version_compatible", major)
        with inferlet.Engine(path, trt=major if trt else None, allow_host_code=True) as engine:
            assert engine.tensorrt_major == major
            with inferlet.Session(engine) as session:
                in0 = np.array([[0, 1, 2, 3], [-1, -2, 0.5, 10]], np.float32)
                out0 = session.run({"in0": in0})["out0"]
        np.testing.assert_array_equal(out0, 2 * in0 + 1)


def test_a_version_compatible_engine_is_refused_without_allow_host_code():
    if not majors_with_host_code():
        pytest.skip("no TensorRT 10 or later in this build")
    for major in majors_with_host_code():
        path = engine_path("version_compatible", major)
        size = path.stat().st_size
        with pytest.raises(inferlet.EngineRefusedError) as raised:
            inferlet.Engine(path, trt=major)
        assert raised.value.code == Code.ENGINE_REFUSED
        assert raised.value.message == (
            f"TensorRT {major} could not deserialize the {size} bytes as an engine (TensorRT: "
            "deserializeCudaEngine: engine 'version_compatible' is version compatible and holds host code, "
            "which this runtime is not allowed to run: call IRuntime::setEngineHostCodeAllowed(true) before "
            "deserializing it); if it is a version-compatible engine, it holds host code: load it with "
            "allow_host_code set"
        )
