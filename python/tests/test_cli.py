"""python -m inferlet: inspect lists what the engine describes, run calls it on random inputs and checks
the last call against reference outputs, each failure with inferlet-run's exit status."""

import subprocess
import sys

import numpy as np
import pytest

import inferlet
import reference
from conftest import SAMPLES, engine_path
from inferlet import _cli


def cli(*arguments):
    return subprocess.run(
        [sys.executable, "-m", "inferlet", *map(str, arguments)], capture_output=True, text=True, timeout=120
    )


def test_inspect_lists_every_profile_and_tensor(load, major):
    path = engine_path("two_profiles", major)
    memory = load("two_profiles", major).device_memory
    child = cli("inspect", path, "--trt", major)
    assert child.returncode == 0, child.stderr
    rows = [
        f"  profile {p}  {name:<4}  {role}  float32  LINEAR   engine [-1,4,8]     "
        + (f"min [1,4,8]      opt [{opt},4,8]      max [{largest},4,8]" if role == "input " else "")
        for p, opt, largest in ((0, 4, 4), (1, 8, 16))
        for name, role in (("in0", "input "), ("in1", "input "), ("out0", "output"))
    ]
    assert child.stdout.splitlines() == [
        f"Engine   {path}",
        f"         TensorRT {major}, 3 tensors, 2 profile(s), device memory: engine {memory.engine} bytes, "
        f"context {memory.context} bytes",
        *[row.rstrip() for row in rows],
    ]


def test_run_compares_the_last_call_with_reference_outputs(load, major, tmp_path):
    inputs = _cli.random_inputs(load("smoke", major), 0, seed=7)
    expected = reference.compute(reference.read(SAMPLES / "smoke.json"), inputs)["out0"]
    np.save(tmp_path / "out0.npy", expected)

    same = cli("run", engine_path("smoke", major), "--iterations", 3, "--seed", 7, "--compare", tmp_path)

    assert same.returncode == 0, same.stderr
    lines = same.stdout.splitlines()
    assert lines[0] == "Run      profile 0, inputs: in0 = random (seed 7), in1 = random (seed 7)"
    assert lines[2].split() == [
        "out0",
        "[10,338]",
        "float32",
        "13520",
        "bytes",
        "sum",
        f"{expected.astype(np.float64).sum():.9g}",
    ]
    assert lines[3] == "Latency  3 timed calls after 5 warm-up calls, microseconds per call"
    assert lines[-1] == ("  out0  0 of 3380 elements out of tolerance, max abs diff 0, max rel diff 0: ok")

    expected.flat[5] += 1
    np.save(tmp_path / "out0.npy", expected)
    off = cli("run", engine_path("smoke", major), "--iterations", 1, "--seed", 7, "--compare", tmp_path)
    assert off.returncode == 6
    assert off.stderr.splitlines()[-2].endswith(
        "1 of 3380 elements out of tolerance, max abs diff 1, "
        f"max rel diff {1 / abs(expected.flat[5]):.6g}: OUT OF TOLERANCE"
    )
    assert (
        off.stderr.splitlines()[-1] == f"out of tolerance against {tmp_path} (rtol 1e-05, atol 1e-08): out0"
    )


@pytest.mark.parametrize(
    "arguments, status, message",
    [
        (["inspect", "{missing}"], 3, "cannot read the engine {missing}: No such file or directory"),
        (["run", "{smoke}", "--iterations", "0"], 2, "--iterations takes 1 or more, --warmup 0 or more"),
        (["run", "{smoke}", "--profile", "1"], 2, "--profile 1: the engine has 1"),
        (
            ["run", "{smoke}", "--iterations", "1", "--compare", "{missing}"],
            3,
            "--compare: {missing}/out0.npy: ",
        ),
        (["inspect", "{smoke}", "--trt", "{other}"], 1, "EngineRefusedError: TensorRT {other} could not "),
        (["serve", "{missing}"], 3, "cannot read the engine {missing}: no such file"),
    ],
    ids=[
        "unreadable-engine",
        "no-iterations",
        "no-such-profile",
        "no-reference",
        "another-major",
        "serve-missing",
    ],
)
def test_each_failure_has_its_exit_status(tmp_path, arguments, status, message):
    major = inferlet.tensorrt_majors()[0]  # the command line's own refusals are the same for every major
    other = next((m for m in inferlet.tensorrt_majors() if m != major), major)
    names = {"missing": tmp_path / "missing", "smoke": engine_path("smoke", major), "other": other}
    if "{other}" in message and other == major:
        pytest.skip("the build has one major")
    child = cli(*[argument.format(**names) for argument in arguments])
    assert child.returncode == status
    assert child.stderr.splitlines()[-1].startswith(message.format(**names))


def test_plot_draws_the_latencies_or_names_the_extra(major, tmp_path):
    child = cli("run", engine_path("smoke", major), "--iterations", 5, "--plot", tmp_path / "latency.png")
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        assert child.returncode == 2
        assert child.stderr.strip() == "--plot needs matplotlib: pip install 'inferlet[plot]'"
        return
    assert child.returncode == 0, child.stderr
    assert (tmp_path / "latency.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def test_serve_without_ray_names_the_extra():
    # Ray hidden from the child, as where the extra is not installed.
    hidden = (
        "import sys; sys.modules['ray'] = None; from inferlet._cli import main; sys.exit(main(sys.argv[1:]))"
    )
    smoke = engine_path("smoke", inferlet.tensorrt_majors()[0])
    child = subprocess.run(
        [sys.executable, "-c", hidden, "serve", str(smoke)], capture_output=True, text=True, timeout=120
    )
    assert child.returncode == 2
    assert child.stderr.strip().endswith("pip install 'inferlet[serve]'"), child.stderr
