"""The serving deployment's requests and answers (inferlet.serve), apart from Ray so that they are tested
without it. A request body is JSON, ``{"inputs": {name: nested lists}}`` (for small inputs: its numbers
are cast to each tensor's dtype where that loses nothing of their kind), or an ``.npz`` archive, one
``.npy`` per input (``numpy.savez``; for real tensors: their dtype must be the tensor's). Archives are
read with pickles refused, so an object array is a bad request and is never unpickled, and their members'
sizes are checked against the body limit before anything is read (a compressed archive cannot grow past
it). The answer comes back in the request's format. Nothing in a request names a file."""

from __future__ import annotations

import io
import json
import zipfile
from typing import Dict, Mapping, Tuple

import numpy as np

JSON = "application/json"
NPZ = "application/x-npz"


class RequestError(Exception):
    """A request the deployment answers with an HTTP error: status and the reason, in words."""

    def __init__(self, status: int, message: str):
        super().__init__(message)
        self.status = status
        self.message = message


def media_type(content_type: str) -> str:
    kind = (content_type or "").split(";")[0].strip().lower()
    if kind in (JSON, NPZ):
        return kind
    raise RequestError(415, f"the body is {kind or 'of no type'}: send {JSON} or {NPZ} (numpy.savez)")


def decode(body: bytes, kind: str, limit: int, dtypes: Mapping[str, np.dtype]) -> Dict[str, np.ndarray]:
    """Every input of the request, checked against the engine's inputs (dtypes: name -> dtype)."""
    if len(body) > limit:
        raise RequestError(413, f"the body has {len(body)} bytes; this deployment takes at most {limit}")
    arrays = _json_inputs(body, dtypes) if kind == JSON else _npz_inputs(body, limit)
    check_inputs(arrays, dtypes)
    return arrays


def check_inputs(arrays: Mapping[str, np.ndarray], dtypes: Mapping[str, np.dtype]) -> None:
    """Every input present, none unknown, each of its tensor's dtype."""
    missing = [name for name in dtypes if name not in arrays]
    unknown = [name for name in arrays if name not in dtypes]
    if missing or unknown:
        said = [
            f"missing {', '.join(missing)}" if missing else "",
            f"unknown {', '.join(unknown)}" if unknown else "",
        ]
        raise RequestError(
            400, f"the inputs are {', '.join(dtypes)}: {'; '.join(part for part in said if part)}"
        )
    for name, array in arrays.items():
        if array.dtype != dtypes[name]:
            raise RequestError(400, f"input '{name}' is {array.dtype}; the engine's tensor is {dtypes[name]}")


def _json_inputs(body: bytes, dtypes: Mapping[str, np.dtype]) -> Dict[str, np.ndarray]:
    try:
        document = json.loads(body)
    except (ValueError, UnicodeDecodeError) as failure:
        raise RequestError(400, f"the body is not JSON: {failure}") from None
    inputs = document.get("inputs") if isinstance(document, dict) else None
    if not isinstance(inputs, dict):
        raise RequestError(400, 'the body is JSON without "inputs": send {"inputs": {"name": [[...], ...]}}')
    arrays = {}
    for name, value in inputs.items():
        try:
            array = np.array(value)
        except ValueError as failure:
            raise RequestError(400, f"input '{name}' is no rectangular array of numbers: {failure}") from None
        if array.dtype.kind not in "biuf":
            raise RequestError(400, f"input '{name}' is no rectangular array of numbers")
        expected = dtypes.get(name)
        if expected is not None and array.dtype != expected:
            if not np.can_cast(array.dtype, expected, "same_kind") and not (
                array.dtype.kind in "biu" and expected.kind in "biuf"
            ):
                raise RequestError(
                    400, f"input '{name}' holds {array.dtype.kind} numbers; the tensor is {expected}"
                )
            converted = array.astype(expected)
            if expected.kind in "iu" and not np.array_equal(converted, array):
                raise RequestError(400, f"input '{name}' holds numbers out of the range of {expected}")
            array = converted
        arrays[name] = array
    return arrays


def _npz_inputs(body: bytes, limit: int) -> Dict[str, np.ndarray]:
    try:
        archive = zipfile.ZipFile(io.BytesIO(body))
        unpacked = sum(member.file_size for member in archive.infolist())
    except (zipfile.BadZipFile, ValueError) as failure:
        raise RequestError(400, f"the body is not an .npz archive: {failure}") from None
    if unpacked > limit:
        raise RequestError(
            413, f"the archive unpacks to {unpacked} bytes; this deployment takes at most {limit}"
        )
    arrays = {}
    try:
        with np.load(io.BytesIO(body), allow_pickle=False) as loaded:
            for name in loaded.files:
                arrays[name] = loaded[name]
                if not isinstance(arrays[name], np.ndarray):  # a member that is no .npy file
                    raise RequestError(400, f"the archive's member {name} is no .npy array")
    except ValueError as failure:  # an object array: numpy would have to unpickle it
        raise RequestError(400, f"the archive holds what is not a plain array: {failure}") from None
    except (OSError, zipfile.BadZipFile, EOFError) as failure:
        raise RequestError(400, f"the archive is not readable as .npy arrays: {failure}") from None
    return arrays


def encode(outputs: Mapping[str, np.ndarray], kind: str) -> Tuple[bytes, str]:
    """The answer's body in the request's format, and its media type."""
    if kind == JSON:
        return (
            json.dumps({"outputs": {name: array.tolist() for name, array in outputs.items()}}).encode(),
            JSON,
        )
    buffer = io.BytesIO()
    np.savez(buffer, **outputs)
    return buffer.getvalue(), NPZ


def error_body(message: str) -> bytes:
    return json.dumps({"error": message}).encode()
