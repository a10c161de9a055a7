"""An engine served on a Ray cluster (``pip install "./python[serve]"``, which pulls ``ray[serve]``).

``deployment(engine_path, replicas=1, max_batch=8, batch_wait_ms=5.0, max_body_bytes=64 MiB,
gpus_per_replica=1)`` is a Ray Serve application: each replica loads the engine itself, from the path,
on the GPU Ray gives it (engines are never pickled; the file must be at that path on every node), keeps
one session per optimization profile, and batches the requests that reach it along the batch axis
(``@serve.batch``: up to ``max_batch`` requests, and never more rows than the profile's largest batch,
waiting at most ``batch_wait_ms`` for a batch to fill), runs each batch with ``await`` and answers each
request its own rows. Over HTTP a request is JSON or an ``.npz`` archive (``_serve_codec``) and is
answered in kind, with the replica (``x-inferlet-replica``) and the requests its batch held
(``x-inferlet-batch``) in headers; a bad request is a 4xx whose JSON body says why, and the deployment
keeps serving. Through a ``DeploymentHandle``, ``await handle.infer.remote({name: array})`` answers the
outputs as numpy arrays. ``python -m inferlet serve ENGINE`` runs it (``serve_command``)."""

from __future__ import annotations

from typing import Dict, List, Mapping, NamedTuple, Union

import numpy as np
from ray import serve
from starlette.requests import Request
from starlette.responses import Response

from ._batching import join, plan, refusal, rows, split
from ._engine import Engine
from ._errors import Code, Error
from ._session import Session
from ._serve_codec import JSON, RequestError, check_inputs, decode, encode, error_body, media_type

DEFAULT_MAX_BODY_BYTES = 64 << 20


class Answer(NamedTuple):
    outputs: Dict[str, np.ndarray]
    batch: int  # the requests the call that answered it held


def _replica_name() -> str:
    context = serve.get_replica_context()
    replica = getattr(context, "replica_id", None)
    return str(getattr(replica, "unique_id", None) or getattr(context, "replica_tag", "replica"))


def _status_of(error: Error) -> int:
    client = {
        Code.INVALID_ARGUMENT,
        Code.SHAPE_OUT_OF_PROFILE,
        Code.BUFFER_TOO_SMALL,
        Code.UNSUPPORTED_TENSOR,
    }
    return 400 if error.code in client else 500


@serve.deployment
class EngineDeployment:
    def __init__(self, engine_path: str, max_batch: int, batch_wait_s: float, max_body_bytes: int):
        self._limit = max_body_bytes
        self._replica = _replica_name()
        self._max_batch = max(1, int(max_batch))
        self._failure = None
        try:
            self._engine = Engine(engine_path)  # on the GPU Ray gave the replica: device 0
            self._sessions = [Session(self._engine, profile=p.index) for p in self._engine.profiles]
            self._dtypes = {t.name: t.dtype for t in self._engine.inputs}
        except (Error, OSError) as failure:
            # Answered to every request: the deployment stays up and says why it cannot serve.
            self._failure = f"the engine {engine_path} does not load: {failure}"
        self._batched.set_max_batch_size(self._max_batch)
        self._batched.set_batch_wait_timeout_s(batch_wait_s)

    async def __call__(self, request: Request) -> Response:
        try:
            kind = media_type(request.headers.get("content-type", ""))
            body = await self._body(request)
            self._check_loaded()
            answer = await self._answer(decode(body, kind, self._limit, self._dtypes))
            content, media = encode(answer.outputs, kind)
            headers = {"x-inferlet-replica": self._replica, "x-inferlet-batch": str(answer.batch)}
            return Response(content, media_type=media, headers=headers)
        except RequestError as refused:
            return Response(error_body(refused.message), status_code=refused.status, media_type=JSON)

    async def infer(self, inputs: Mapping[str, np.ndarray]) -> Dict[str, np.ndarray]:
        """For a DeploymentHandle: every input by name as numpy arrays; the outputs. RequestError as the
        HTTP path would answer it."""
        self._check_loaded()
        arrays = {name: np.asarray(value) for name, value in inputs.items()}
        check_inputs(arrays, self._dtypes)
        return (await self._answer(arrays)).outputs

    def _check_loaded(self) -> None:
        if self._failure is not None:
            raise RequestError(503, self._failure)

    async def _body(self, request: Request) -> bytes:
        declared = request.headers.get("content-length")
        if declared is not None and declared.isdigit() and int(declared) > self._limit:
            raise RequestError(
                413, f"the body has {declared} bytes; this deployment takes at most {self._limit}"
            )
        chunks, size = [], 0
        async for chunk in request.stream():
            size += len(chunk)
            if size > self._limit:
                raise RequestError(
                    413, f"the body has more than {self._limit} bytes, the most this deployment takes"
                )
            chunks.append(chunk)
        return b"".join(chunks)

    async def _answer(self, inputs: Dict[str, np.ndarray]) -> Answer:
        answer = await self._batched(inputs)
        if isinstance(answer, RequestError):
            raise answer
        return answer

    @serve.batch(max_batch_size=8, batch_wait_timeout_s=0.005)
    async def _batched(self, requests: List[Dict[str, np.ndarray]]) -> List[Union[Answer, RequestError]]:
        answers: List[Union[Answer, RequestError, None]] = [None] * len(requests)
        for profile, members in plan(self._engine, requests, self._max_batch):
            if profile < 0:
                shapes = {name: array.shape for name, array in requests[members[0]].items()}
                answers[members[0]] = RequestError(400, refusal(self._engine, shapes))
                continue
            for index, answer in zip(members, await self._run(profile, [requests[k] for k in members])):
                answers[index] = answer
        return answers

    async def _run(
        self, profile: int, requests: List[Dict[str, np.ndarray]]
    ) -> List[Union[Answer, RequestError]]:
        """One call for requests joined along the batch axis, or one each where the outputs do not follow it."""
        session = self._sessions[profile]
        joined = join(requests)
        counts = [rows(r) for r in requests]
        if len(requests) > 1:
            shapes = session.output_shapes(joined)
            if any(not shape or shape[0] != sum(counts) for shape in shapes.values()):
                return [answer for r in requests for answer in await self._run(profile, [r])]
        try:
            outputs = await session.run_async(joined)
        except Error as failure:
            return [RequestError(_status_of(failure), str(failure))] * len(requests)
        return [Answer(part, len(requests)) for part in split(outputs, counts)]


def deployment(
    engine_path,
    replicas: int = 1,
    max_batch: int = 8,
    batch_wait_ms: float = 5.0,
    max_body_bytes: int = DEFAULT_MAX_BODY_BYTES,
    gpus_per_replica: float = 1.0,
):
    """The application that serves engine_path (a path every node has), for ``serve.run``."""
    options = {"num_gpus": gpus_per_replica} if gpus_per_replica else {}
    # A replica takes in as many requests as a batch may join, twice over, so that batches can fill
    # while a call runs (Ray Serve's default lets in 5).
    ongoing = max(16, 2 * int(max_batch))
    return EngineDeployment.options(
        num_replicas=int(replicas), ray_actor_options=options, max_ongoing_requests=ongoing
    ).bind(str(engine_path), int(max_batch), float(batch_wait_ms) / 1000.0, int(max_body_bytes))


def serve_command(arguments) -> int:
    """python -m inferlet serve: a local Ray instance (or the cluster at --address), the deployment on
    it, served over HTTP at --host:--port until interrupted."""
    import time

    import ray

    ray.init(address=arguments.address, include_dashboard=False, logging_level="warning")
    http = {"host": arguments.host, "port": arguments.port}
    if arguments.ssl_certfile or arguments.ssl_keyfile:  # HTTPS, from Ray Serve's proxy itself
        http.update(ssl_certfile=arguments.ssl_certfile, ssl_keyfile=arguments.ssl_keyfile)
    serve.start(http_options=http)
    gpus = arguments.gpus_per_replica
    if gpus is None:  # a machine Ray sees no GPU on (the emulated device) runs replicas without one
        gpus = 1.0 if ray.cluster_resources().get("GPU", 0) >= 1 else 0.0
    application = deployment(
        arguments.engine,
        replicas=arguments.replicas,
        max_batch=arguments.max_batch,
        batch_wait_ms=arguments.batch_wait_ms,
        max_body_bytes=arguments.max_body_mb << 20,
        gpus_per_replica=gpus,
    )
    serve.run(application, name="inferlet", route_prefix="/")
    print(
        f"inferlet: serving {arguments.engine} at http{'s' if arguments.ssl_certfile else ''}://"
        f"{arguments.host}:{arguments.port}/ with "
        f"{arguments.replicas} replica(s), {gpus:g} GPU each; Ctrl-C stops",
        flush=True,
    )
    try:
        while True:
            time.sleep(3600)
    except KeyboardInterrupt:
        serve.shutdown()
    return 0
