"""``python -m inferlet``: an engine's tensors and profiles, or a quick run of it, in inferlet-run's words.

    python -m inferlet inspect ENGINE [--trt N]
    python -m inferlet run ENGINE [--trt N] [--profile P] [--iterations N] [--warmup N] [--seed S]
                              [--compare DIR [--rtol R] [--atol A]] [--plot FILE.png]

Exit status as inferlet-run's: 0 success, 1 the library refused, 2 bad command line, 3 an unreadable
engine or .npy file, 6 an output out of tolerance with --compare."""

from __future__ import annotations

import argparse
import sys
import time
from pathlib import Path
from typing import Dict, List, Optional, Sequence

import numpy as np

from ._engine import Engine
from ._errors import Error
from ._session import Session

EXIT_REFUSED, EXIT_USAGE, EXIT_INPUT, EXIT_MISMATCH = 1, 2, 3, 6


class _Failure(Exception):
    def __init__(self, status: int, message: str):
        super().__init__(message)
        self.status = status


def _dims(shape) -> str:
    return "[" + ",".join(str(extent) for extent in shape) + "]"


def inspect_lines(engine: Engine, path: str) -> List[str]:
    """The engine as ``inferlet-run inspect`` lists it: a row per profile and tensor."""
    memory = engine.device_memory
    lines = [
        f"Engine   {path}",
        f"         TensorRT {engine.tensorrt_major}, {len(engine.tensors)} tensors, "
        f"{len(engine.profiles)} profile(s), device memory: engine {memory.engine} bytes, "
        f"context {memory.context} bytes",
    ]
    width = max(len(tensor.name) for tensor in engine.tensors)
    for profile in engine.profiles:
        for tensor in engine.tensors:
            dtype = str(tensor.dtype) if tensor.dtype is not None else str(tensor.data_type)
            row = (
                f"  profile {profile.index}  {tensor.name:<{width}}  {'input ' if tensor.is_input else 'output'}"
                f"  {dtype:<8} {profile.formats[tensor.name].name:<8} engine {_dims(tensor.shape):<12}"
            )
            shapes = profile.shapes.get(tensor.name)
            if shapes is not None:
                row += f" min {_dims(shapes.min):<12} opt {_dims(shapes.opt):<12} max {_dims(shapes.max)}"
            if tensor.name in profile.values:
                row += (
                    f"  shape tensor: its values steer shapes, max {_dims(profile.values[tensor.name].max)}"
                )
            lines.append(row.rstrip())
    return lines


def random_inputs(engine: Engine, profile: int, seed: int) -> Dict[str, np.ndarray]:
    """Every input at the profile's largest shape: uniform in [-1, 1) for floats, 0 to 9 for integers,
    either for booleans, from one generator of the seed; a shape tensor takes the profile's largest
    values."""
    generator = np.random.default_rng(seed)
    described = engine.profiles[profile]
    inputs = {}
    for tensor in engine.inputs:
        if tensor.name in described.values:
            inputs[tensor.name] = np.asarray(described.values[tensor.name].max, dtype=tensor.dtype)
            continue
        shape = described.shapes[tensor.name].max
        if tensor.dtype == np.bool_:
            inputs[tensor.name] = generator.integers(0, 2, size=shape).astype(np.bool_)
        elif np.issubdtype(tensor.dtype, np.integer):
            inputs[tensor.name] = generator.integers(0, 10, size=shape).astype(tensor.dtype)
        else:
            inputs[tensor.name] = generator.uniform(-1, 1, size=shape).astype(tensor.dtype)
    return inputs


def _timed_calls(session: Session, inputs, iterations: int, warmup: int):
    for _ in range(warmup):
        session.run(inputs)
    latencies, outputs = [], {}
    for _ in range(iterations):
        start = time.perf_counter()
        outputs = session.run(inputs)
        latencies.append((time.perf_counter() - start) * 1e6)
    return np.asarray(latencies), outputs


def _latency_lines(latencies: np.ndarray, warmup: int) -> List[str]:
    points = ("min", "mean", "median", "p90", "p99", "max")
    values = (
        latencies.min(),
        latencies.mean(),
        np.median(latencies),
        np.percentile(latencies, 90),
        np.percentile(latencies, 99),
        latencies.max(),
    )
    return [
        f"Latency  {len(latencies)} timed calls after {warmup} warm-up calls, microseconds per call",
        "  " + " ".join(f"{point:>10}" for point in points),
        "  " + " ".join(f"{value:>10.3f}" for value in values),
    ]


def _compare_lines(outputs, directory: Path, rtol: float, atol: float):
    lines = [f"Compare  against {directory}: |a - b| <= atol + rtol * |b|, rtol {rtol:g}, atol {atol:g}"]
    failed = []
    for name, output in outputs.items():
        path = directory / f"{name}.npy"
        try:
            reference = np.load(path, allow_pickle=False)
        except (OSError, ValueError) as failure:
            raise _Failure(EXIT_INPUT, f"--compare: {path}: {failure}") from None
        if reference.dtype != output.dtype or reference.shape != output.shape:
            raise _Failure(
                EXIT_INPUT,
                f"--compare: {path} holds {reference.dtype} {_dims(reference.shape)}, output '{name}' of the "
                f"last call is {output.dtype} {_dims(output.shape)}",
            )
        a, b = output.astype(np.float64), reference.astype(np.float64)
        close = np.isclose(a, b, rtol=rtol, atol=atol)
        diff = np.abs(a - b)
        relative = diff[b != 0] / np.abs(b[b != 0])
        out = int(close.size - close.sum())
        lines.append(
            f"  {name}  {out} of {close.size} elements out of tolerance, max abs diff "
            f"{(diff.max() if diff.size else 0):.6g}, max rel diff {(relative.max() if relative.size else 0):.6g}: "
            f"{'ok' if out == 0 else 'OUT OF TOLERANCE'}"
        )
        if out:
            failed.append(name)
    return lines, failed


def _plot(latencies: np.ndarray, path: str) -> None:
    try:
        import matplotlib

        matplotlib.use("Agg")
        from matplotlib import pyplot
    except ImportError:
        raise _Failure(EXIT_USAGE, "--plot needs matplotlib: pip install 'inferlet[plot]'") from None
    figure, (histogram, timeline) = pyplot.subplots(1, 2, figsize=(11, 4))
    histogram.hist(latencies, bins=50)
    histogram.set(xlabel="microseconds per call", ylabel="calls", title="Latency")
    timeline.plot(latencies, linewidth=0.6)
    timeline.set(xlabel="call", ylabel="microseconds", title="Latency of each call")
    figure.tight_layout()
    figure.savefig(path)
    pyplot.close(figure)


def _run(arguments) -> List[str]:
    with _open(arguments) as engine:
        if not 0 <= arguments.profile < len(engine.profiles):
            raise _Failure(
                EXIT_USAGE, f"--profile {arguments.profile}: the engine has {len(engine.profiles)}"
            )
        inputs = random_inputs(engine, arguments.profile, arguments.seed)
        values = engine.profiles[arguments.profile].values
        with Session(engine, profile=arguments.profile) as session:
            latencies, outputs = _timed_calls(session, inputs, arguments.iterations, arguments.warmup)
    given = ", ".join(
        f"{name} = "
        + ("the profile's largest values" if name in values else f"random (seed {arguments.seed})")
        for name in inputs
    )
    lines = [f"Run      profile {arguments.profile}, inputs: {given}", "Outputs  of the last call"]
    for name, output in outputs.items():
        total = float(output.astype(np.float64).sum())
        lines.append(
            f"  {name}  {_dims(output.shape):<14} {str(output.dtype):<8} {output.nbytes:>10} bytes  sum {total:.9g}"
        )
    lines += _latency_lines(latencies, arguments.warmup)
    failed = []
    if arguments.compare:
        compared, failed = _compare_lines(outputs, Path(arguments.compare), arguments.rtol, arguments.atol)
        lines += compared
    if arguments.plot:
        _plot(latencies, arguments.plot)
        lines.append(f"Plot     {arguments.plot}")
    if failed:
        raise _Failure(
            EXIT_MISMATCH,
            "\n".join(lines)
            + f"\nout of tolerance against {arguments.compare} (rtol {arguments.rtol:g}, atol "
            f"{arguments.atol:g}): {', '.join(failed)}",
        )
    return lines


def _open(arguments) -> Engine:
    try:
        data = Path(arguments.engine).read_bytes()
    except OSError as failure:
        raise _Failure(EXIT_INPUT, f"cannot read the engine {arguments.engine}: {failure.strerror}") from None
    return Engine(data, trt=arguments.trt)


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="python -m inferlet", description=__doc__.splitlines()[0])
    commands = parser.add_subparsers(dest="command", required=True)
    inspect = commands.add_parser("inspect", help="an engine's tensors, types, formats, profiles, memory")
    run = commands.add_parser("run", help="random inputs, one session, the outputs summed, the latency")
    for command in (inspect, run):
        command.add_argument("engine", metavar="ENGINE", help="serialized TensorRT engine file")
        command.add_argument("--trt", type=int, help="TensorRT major (default: the first that reads it)")
    run.add_argument("--profile", type=int, default=0, help="optimization profile (default 0)")
    run.add_argument("--iterations", type=int, default=100, help="timed calls (default 100)")
    run.add_argument("--warmup", type=int, default=5, help="untimed calls first (default 5)")
    run.add_argument("--seed", type=int, default=1, help="seed of the random inputs (default 1)")
    run.add_argument("--compare", metavar="DIR", help="check the last call's outputs against DIR/<name>.npy")
    run.add_argument(
        "--rtol", type=float, default=1e-5, help="--compare's relative tolerance (default 1e-05)"
    )
    run.add_argument(
        "--atol", type=float, default=1e-8, help="--compare's absolute tolerance (default 1e-08)"
    )
    run.add_argument("--plot", metavar="FILE.png", help="draw the latency histogram and each call's latency")
    _serve_arguments(
        commands.add_parser("serve", help="the engine over HTTP on a Ray cluster (extra 'serve')")
    )
    return parser


def _serve_arguments(serve) -> None:
    serve.add_argument(
        "engine", metavar="ENGINE", help="serialized TensorRT engine file (at this path on every node)"
    )
    serve.add_argument("--replicas", type=int, default=1, help="replicas of the engine (default 1)")
    serve.add_argument("--max-batch", type=int, default=8, help="requests one call may join (default 8)")
    serve.add_argument(
        "--batch-wait-ms", type=float, default=5.0, help="the longest a batch waits to fill (default 5)"
    )
    serve.add_argument("--address", help="a Ray cluster to join (default: a local Ray instance)")
    serve.add_argument("--host", default="127.0.0.1", help="the address to listen on (default 127.0.0.1)")
    serve.add_argument("--port", type=int, default=8000, help="the HTTP port (default 8000)")
    serve.add_argument("--ssl-certfile", help="serve HTTPS with this certificate (and --ssl-keyfile)")
    serve.add_argument("--ssl-keyfile", help="the certificate's private key")
    serve.add_argument(
        "--max-body-mb", type=int, default=64, help="the largest request body in MiB (default 64)"
    )
    serve.add_argument(
        "--gpus-per-replica",
        type=float,
        help="GPUs each replica asks Ray for (default 1, or 0 where Ray sees none)",
    )


def _serve(arguments) -> int:
    if not Path(arguments.engine).is_file():
        raise _Failure(EXIT_INPUT, f"cannot read the engine {arguments.engine}: no such file")
    try:
        from .serve import serve_command
    except ImportError as missing:
        raise _Failure(
            EXIT_USAGE, f"serving needs Ray Serve ({missing}): pip install 'inferlet[serve]'"
        ) from None
    return serve_command(arguments)


def main(argv: Optional[Sequence[str]] = None) -> int:
    arguments = _parser().parse_args(argv)
    try:
        if arguments.command == "serve":
            return _serve(arguments)
        if arguments.command == "inspect":
            with _open(arguments) as engine:
                lines = inspect_lines(engine, arguments.engine)
        else:
            if arguments.iterations < 1 or arguments.warmup < 0:
                raise _Failure(EXIT_USAGE, "--iterations takes 1 or more, --warmup 0 or more")
            lines = _run(arguments)
    except _Failure as failure:
        print(str(failure), file=sys.stderr)
        return failure.status
    except Error as failure:
        print(f"{type(failure).__name__}: {failure.message}", file=sys.stderr)
        return EXIT_REFUSED
    print("\n".join(lines))
    return 0
