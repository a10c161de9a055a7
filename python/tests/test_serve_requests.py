"""What the serving deployment does without Ray: request bodies read (JSON cast to the tensors' dtypes,
.npz archives with pickles refused and their unpacked size bounded), every refusal with its HTTP status,
answers in the request's format, and requests joined into calls along the batch axis and split back."""

import io
import json
import zipfile

import numpy as np
import pytest

from inferlet._batching import join, plan, split
from inferlet._serve_codec import JSON, NPZ, RequestError, decode, encode, media_type

FLOAT = np.dtype(np.float32)
DTYPES = {"in0": FLOAT, "in1": FLOAT}
MIB = 1 << 20


def npz(**arrays) -> bytes:
    buffer = io.BytesIO()
    np.savez(buffer, **arrays)
    return buffer.getvalue()


def test_bodies_are_read_and_answered_in_their_format():
    x = np.arange(6, dtype=np.float32).reshape(2, 3)
    from_json = decode(
        json.dumps({"inputs": {"in0": x.tolist(), "in1": [[1, 2, 3]] * 2}}).encode(), JSON, 1 << 20, DTYPES
    )
    assert from_json["in0"].dtype == FLOAT and np.array_equal(from_json["in0"], x)
    assert from_json["in1"].dtype == FLOAT  # integers cast to the float tensor
    from_npz = decode(npz(in0=x, in1=x), NPZ, 1 << 20, DTYPES)
    assert from_npz["in0"].tobytes() == x.tobytes()
    body, kind = encode({"out0": x}, NPZ)
    assert kind == NPZ and np.load(io.BytesIO(body))["out0"].tobytes() == x.tobytes()
    body, kind = encode({"out0": x}, JSON)
    assert kind == JSON and json.loads(body) == {"outputs": {"out0": x.tolist()}}
    assert media_type("application/json; charset=utf-8") == JSON


def archive_of(name: str, data: bytes) -> bytes:
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as archive:
        archive.writestr(name, data)
    return buffer.getvalue()


def zip_bomb() -> bytes:
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as archive:
        archive.writestr("in0.npy", b"\0" * (4 << 20))  # 4 MiB of zeros pack into a few KiB
    return buffer.getvalue()


@pytest.mark.parametrize(
    "body, kind, limit, status, words",
    [
        (b"{not json", JSON, MIB, 400, "the body is not JSON"),
        (b'{"in0": [1]}', JSON, MIB, 400, 'the body is JSON without "inputs"'),
        (
            json.dumps({"inputs": {"in0": [[1, 2], [3]], "in1": [1]}}).encode(),
            JSON,
            MIB,
            400,
            "no rectangular array",
        ),
        (
            json.dumps({"inputs": {"in0": [["a"]], "in1": [1]}}).encode(),
            JSON,
            MIB,
            400,
            "no rectangular array of numbers",
        ),
        (
            json.dumps({"inputs": {"in0": [1.0]}}).encode(),
            JSON,
            MIB,
            400,
            "the inputs are in0, in1: missing in1",
        ),
        (json.dumps({"inputs": {"in0": [1], "in1": [1], "x": [1]}}).encode(), JSON, MIB, 400, "unknown x"),
        (b"PK\3\4 truncated", NPZ, MIB, 400, "the body is not an .npz archive"),
        (
            npz(in0=np.zeros(2), in1=np.zeros(2, np.float32)),
            NPZ,
            MIB,
            400,
            "input 'in0' is float64; the engine's tensor is float32",
        ),
        (
            npz(in0=np.array([{"x": 1}], dtype=object), in1=np.zeros(1, np.float32)),
            NPZ,
            MIB,
            400,
            "not a plain array",
        ),
        (zip_bomb(), NPZ, MIB, 413, "the archive unpacks to 4194"),
        (archive_of("in0.txt", b"1 2 3"), NPZ, MIB, 400, "the archive's member in0.txt is no .npy array"),
        (b"x" * 2048, NPZ, 1024, 413, "the body has 2048 bytes; this deployment takes at most 1024"),
    ],
)
def test_bad_requests_are_refused_with_their_status_and_reason(body, kind, limit, status, words):
    with pytest.raises(RequestError) as refused:
        decode(body, kind, limit, DTYPES)
    assert refused.value.status == status
    assert words in refused.value.message


def test_a_body_of_another_type_is_refused():
    with pytest.raises(RequestError) as refused:
        media_type("text/plain")
    assert refused.value.status == 415
    assert (
        refused.value.message
        == "the body is text/plain: send application/json or application/x-npz (numpy.savez)"
    )


def test_requests_join_into_calls_a_profile_takes_and_split_back(load):
    import inferlet

    engine = load("smoke", inferlet.tensorrt_majors()[0])  # one profile, batch 1 to 10 along axis 0

    def request(rows, width=340):
        value = np.full((rows, width), rows, np.float32)
        return {"in0": value, "in1": value}

    requests = [request(3), request(4), request(2, width=7), request(4), request(11), request(1)]
    calls = plan(engine, requests, max_batch=8)
    # 3 + 4 rows join; the next 4 would pass 10 and opens a call of its own, which the last joins; the
    # other width and 11 rows are taken by no profile.
    assert calls == [(0, [0, 1]), (-1, [2]), (0, [3, 5]), (-1, [4])]
    assert plan(engine, requests[:2], max_batch=1) == [(0, [0]), (0, [1])]  # batching off
    joined = join([requests[0], requests[1]])
    assert joined["in0"].shape == (7, 340)
    parts = split({"out0": joined["in0"][:, :338]}, [3, 4])
    assert [part["out0"].shape for part in parts] == [(3, 338), (4, 338)]
    assert np.all(parts[0]["out0"] == 3) and np.all(parts[1]["out0"] == 4)
