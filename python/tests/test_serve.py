"""The engine served on a Ray cluster of two nodes on 127.0.0.1 (Ray's own test cluster; a GPU declared
on each, so its replicas are placed one per node): concurrent HTTP clients answered byte for byte as
numpy computes them, both replicas serving, requests batched, every bad request answered with its error
while the deployment goes on serving, the handle's numpy path, and an engine that does not load.
Skipped where Ray is not installed (pip install "./python[serve]")."""

import io
import json
import socket
import urllib.error
import urllib.request
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import inferlet
from conftest import SAMPLES, engine_path
from reference import compute, read

ray = pytest.importorskip("ray", reason='Ray is not installed: pip install "./python[serve]"')
serve = pytest.importorskip("ray.serve")
from ray.cluster_utils import Cluster  # noqa: E402

from inferlet.serve import deployment  # noqa: E402

SMOKE = read(SAMPLES / "smoke.json")
LIMIT = 1 << 20


def free_port() -> int:
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


@pytest.fixture(scope="module")
def served(tmp_path_factory):
    """The base URL of two applications: /smoke (two replicas, batches of up to 8 requests) and /broken
    (an engine file that is no engine)."""
    cluster = Cluster(initialize_head=True, head_node_args={"num_cpus": 3, "num_gpus": 1})
    cluster.add_node(num_cpus=3, num_gpus=1)
    ray.init(address=cluster.address, logging_level="error")
    port = free_port()
    serve.start(http_options={"host": "127.0.0.1", "port": port})
    smoke = engine_path("smoke", inferlet.tensorrt_majors()[0])
    broken = tmp_path_factory.mktemp("serve") / "broken.engine"
    broken.write_bytes(b"not an engine")
    application = deployment(smoke, replicas=2, max_batch=8, batch_wait_ms=100, max_body_bytes=LIMIT)
    serve.run(application, name="smoke", route_prefix="/smoke")
    serve.run(deployment(broken, gpus_per_replica=0), name="broken", route_prefix="/broken")
    yield f"http://127.0.0.1:{port}"
    serve.shutdown()
    ray.shutdown()
    cluster.shutdown()


def post(url: str, body: bytes, content_type: str):
    """(status, headers, body) of one request."""
    request = urllib.request.Request(url, data=body, headers={"Content-Type": content_type}, method="POST")
    try:
        with urllib.request.urlopen(request, timeout=60) as answer:
            return answer.status, dict(answer.headers), answer.read()
    except urllib.error.HTTPError as refused:
        return refused.code, dict(refused.headers), refused.read()


def npz(**arrays) -> bytes:
    buffer = io.BytesIO()
    np.savez(buffer, **arrays)
    return buffer.getvalue()


def smoke_request(rows: int, seed: int) -> dict:
    rng = np.random.default_rng(seed)
    return {name: rng.standard_normal((rows, 340)).astype(np.float32) for name in ("in0", "in1")}


def good(url: str, seed: int):
    """One .npz request, its answer checked byte for byte; the answer's headers."""
    inputs = smoke_request(1 + seed % 3, seed)
    status, headers, body = post(f"{url}/smoke", npz(**inputs), "application/x-npz")
    assert status == 200, body
    assert np.load(io.BytesIO(body))["out0"].tobytes() == compute(SMOKE, inputs)["out0"].tobytes()
    return {k.lower(): v for k, v in headers.items()}


def test_concurrent_clients_are_answered_exactly_by_both_replicas_in_batches(served):
    with ThreadPoolExecutor(16) as clients:
        answers = list(clients.map(lambda seed: good(served, seed), range(48)))
    assert len({a["x-inferlet-replica"] for a in answers}) == 2
    assert max(int(a["x-inferlet-batch"]) for a in answers) > 1
    inputs = smoke_request(2, 99)
    as_json = {"inputs": {name: value.tolist() for name, value in inputs.items()}}
    status, _, body = post(f"{served}/smoke", json.dumps(as_json).encode(), "application/json")
    assert status == 200
    out = np.array(json.loads(body)["outputs"]["out0"], np.float32)
    assert out.tobytes() == compute(SMOKE, inputs)["out0"].tobytes()
    handle = serve.get_app_handle("smoke")
    outputs = handle.infer.remote(inputs).result()
    assert outputs["out0"].tobytes() == compute(SMOKE, inputs)["out0"].tobytes()


def test_every_bad_request_gets_its_error_and_the_next_is_served(served):
    x = np.zeros((2, 340), np.float32)
    cases = [
        (b"{", "application/json", 400, "the body is not JSON"),
        (npz(in0=x), "application/x-npz", 400, "the inputs are in0, in1: missing in1"),
        (npz(in0=x.astype(np.float64), in1=x), "application/x-npz", 400, "input 'in0' is float64"),
        (
            npz(in0=np.zeros((2, 7), np.float32), in1=np.zeros((2, 7), np.float32)),
            "application/x-npz",
            400,
            "no profile of the engine takes the inputs in0 [2, 7], in1 [2, 7]",
        ),
        (npz(in0=np.array([None], object), in1=x), "application/x-npz", 400, "not a plain array"),
        (b"\0" * (LIMIT + 1), "application/x-npz", 413, f"this deployment takes at most {LIMIT}"),
        (b"in0=1", "application/x-www-form-urlencoded", 415, "send application/json or application/x-npz"),
    ]
    for seed, (body, content_type, status, words) in enumerate(cases):
        answered, _, text = post(f"{served}/smoke", body, content_type)
        assert (answered, words in json.loads(text)["error"]) == (status, True), text
        good(served, seed)


def test_an_engine_that_does_not_load_is_answered_503_with_the_reason(served):
    status, _, text = post(f"{served}/broken", npz(in0=np.zeros(1)), "application/x-npz")
    assert status == 503
    assert "broken.engine does not load: no TensorRT of this build" in json.loads(text)["error"]
