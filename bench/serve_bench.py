#!/usr/bin/env python3
"""Requests per second and latency of the serving deployment (inferlet.serve) on a local Ray cluster of
two nodes on 127.0.0.1, on the emulated device: 1, 8 and 32 concurrent HTTP clients, batching off (one
request per call) and on (up to 8), one and two replicas, in one run; what batching buys is the ratio.
Every request is one row of the sample engine `smoke` as an .npz body, each client a thread with a
connection of its own that sends its next request when the last is answered.

    python bench/serve_bench.py [--seconds S] [--readme bench/README.md]

Run with the build's package on PYTHONPATH, its lib/ as INFERLET_LIBRARY_DIR, INFERLET_TEST_ENGINE_DIR
its engines/ (bench/serve.sh sets them), and Ray Serve installed (pip install "./python[serve]"). The
figures replace the section between <!-- serve-emulated:begin --> and <!-- serve-emulated:end -->."""

import argparse
import http.client
import io
import os
import pathlib
import platform
import socket
import statistics
import time
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import ray
from ray import serve
from ray.cluster_utils import Cluster

import inferlet
from inferlet.serve import deployment

CLIENTS = (1, 8, 32)
BATCHING = (("off", 1), ("on", 8))
REPLICAS = (1, 2)
BATCH_WAIT_MS = 2.0


def free_port() -> int:
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def request_body() -> bytes:
    row = np.random.default_rng(1).standard_normal((1, 340)).astype(np.float32)
    buffer = io.BytesIO()
    np.savez(buffer, in0=row, in1=row)
    return buffer.getvalue()


def client(port: int, body: bytes, stop: float):
    """(latencies in s, batch sizes) of one client's requests until stop."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
    latencies, batches = [], []
    while time.monotonic() < stop:
        started = time.perf_counter()
        connection.request("POST", "/bench", body, {"Content-Type": "application/x-npz"})
        answer = connection.getresponse()
        answer.read()
        if answer.status != 200:
            raise SystemExit(f"the deployment answered {answer.status}")
        latencies.append(time.perf_counter() - started)
        batches.append(int(answer.getheader("x-inferlet-batch", "1")))
    connection.close()
    return latencies, batches


def measure(port: int, clients: int, seconds: float, body: bytes) -> dict:
    client(port, body, time.monotonic() + 0.5)  # warm: connections, the first calls
    started = time.monotonic()
    with ThreadPoolExecutor(clients) as pool:
        runs = list(pool.map(lambda _: client(port, body, started + seconds), range(clients)))
    elapsed = time.monotonic() - started
    latencies = sorted(t for run, _ in runs for t in run)
    batches = [b for _, run in runs for b in run]
    return {
        "rps": len(latencies) / elapsed,
        "p50_ms": 1000 * latencies[len(latencies) // 2],
        "p99_ms": 1000 * latencies[min(len(latencies) - 1, int(len(latencies) * 0.99))],
        "batch": statistics.mean(batches),
    }


def run_all(seconds: float) -> dict:
    cluster = Cluster(initialize_head=True, head_node_args={"num_cpus": 4, "num_gpus": 1})
    cluster.add_node(num_cpus=4, num_gpus=1)
    ray.init(address=cluster.address, logging_level="error")
    port = free_port()
    serve.start(http_options={"host": "127.0.0.1", "port": port})
    engine = (
        pathlib.Path(os.environ["INFERLET_TEST_ENGINE_DIR"])
        / f"smoke-trt{inferlet.tensorrt_majors()[0]}.engine"
    )
    body, figures = request_body(), {}
    try:
        for replicas in REPLICAS:
            for batching, max_batch in BATCHING:
                app = deployment(engine, replicas=replicas, max_batch=max_batch, batch_wait_ms=BATCH_WAIT_MS)
                serve.run(app, name="bench", route_prefix="/bench")
                for clients in CLIENTS:
                    figures[(replicas, batching, clients)] = measure(port, clients, seconds, body)
                    print(
                        f"  {replicas} replica(s), batching {batching}, {clients} clients: "
                        f"{figures[(replicas, batching, clients)]['rps']:.0f} requests/s",
                        flush=True,
                    )
    finally:
        serve.shutdown()
        ray.shutdown()
        cluster.shutdown()
    return figures


def table(figures: dict) -> str:
    out = [
        "| replicas | batching | clients | requests/s | × batching off | p50 latency, ms | p99 latency, ms "
        "| requests per call |",
        "|---:|---|---:|---:|---:|---:|---:|---:|",
    ]
    for replicas in REPLICAS:
        for batching, _ in BATCHING:
            for clients in CLIENTS:
                f, off = figures[(replicas, batching, clients)], figures[(replicas, "off", clients)]
                out.append(
                    f"| {replicas} | {batching} | {clients} | {f['rps']:,.0f} | {f['rps'] / off['rps']:.2f} | "
                    f"{f['p50_ms']:.1f} | {f['p99_ms']:.1f} | {f['batch']:.2f} |"
                )
    return "\n".join(out)


def section(figures: dict, seconds: float, elapsed: float) -> str:
    machine = f"{platform.machine()}, {os.cpu_count()} CPUs (os.cpu_count), Linux {platform.release()}"
    return "\n".join(
        [
            f"Machine: {machine}, load average before the run {' '.join(f'{x:.2f}' for x in os.getloadavg())}.  ",
            "Device: emulated CUDA device (platform/cudaemu), stand-in TensorRT, in each replica's process.  ",
            f"Command: `bash bench/serve.sh` ({elapsed:.0f} s); {seconds:g} s of requests per row after 0.5 s "
            f"of warm-up, batches waiting at most {BATCH_WAIT_MS:g} ms to fill.",
            "",
            table(figures),
            "",
        ]
    )


def splice(readme: pathlib.Path, text: str) -> None:
    begin, end = "<!-- serve-emulated:begin -->", "<!-- serve-emulated:end -->"
    content = readme.read_text()
    head, rest = content.split(begin, 1)
    _, tail = rest.split(end, 1)
    readme.write_text(head + begin + "\n" + text + end + tail)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=3.0, help="seconds of requests per row (default 3)")
    parser.add_argument("--readme", help="the README whose serve-emulated section gets the figures")
    args = parser.parse_args()
    started = time.monotonic()
    figures = run_all(args.seconds)
    text = section(figures, args.seconds, time.monotonic() - started)
    if args.readme:
        splice(pathlib.Path(args.readme), text)
    print(text)


if __name__ == "__main__":
    main()
