"""Requests batched along the batch axis for the serving deployment (inferlet.serve), apart from Ray:
which profile takes a request, which requests share a call (the same extents past the batch axis, a
profile whose batch range holds their sum, at most the deployment's largest batch), and each request's
rows of the outputs. A request no profile takes is answered with the reason, never run."""

from __future__ import annotations

from typing import Dict, List, Mapping, Optional, Sequence, Tuple

import numpy as np

Shape = Tuple[int, ...]


def _accepts(profile, shapes: Mapping[str, Shape]) -> bool:
    for name, shape in shapes.items():
        bounds = profile.shapes.get(name)
        if bounds is None or len(shape) != len(bounds.min):
            return False
        if any(not low <= extent <= high for extent, low, high in zip(shape, bounds.min, bounds.max)):
            return False
    return True


def profile_for(engine, shapes: Mapping[str, Shape]) -> Optional[int]:
    """The first profile whose ranges hold every input's shape; None when none does."""
    for profile in engine.profiles:
        if _accepts(profile, shapes):
            return profile.index
    return None


def refusal(engine, shapes: Mapping[str, Shape]) -> str:
    """Why no profile takes these shapes, in words."""
    said = ", ".join(f"{name} {list(shape)}" for name, shape in shapes.items())
    ranges = "; ".join(
        f"profile {p.index}: " + ", ".join(f"{n} {list(b.min)} to {list(b.max)}" for n, b in p.shapes.items())
        for p in engine.profiles
    )
    return f"no profile of the engine takes the inputs {said} ({ranges})"


def largest_batch(engine, profile: int) -> int:
    """The most rows a call on profile takes along the batch axis (axis 0 of every input): 1 when some
    input's batch extent is fixed, so that requests are not joined."""
    shapes = engine.profiles[profile].shapes.values()
    if any(bounds.min[:1] == bounds.max[:1] for bounds in shapes) or not shapes:
        return 1
    return min(bounds.max[0] for bounds in shapes)


def rows(inputs: Mapping[str, np.ndarray]) -> int:
    """A request's rows along the batch axis (axis 0 of its inputs)."""
    return min((array.shape[0] if array.ndim else 1) for array in inputs.values())


def _key(inputs: Mapping[str, np.ndarray]) -> tuple:
    return tuple((name, array.shape[1:], array.dtype.str) for name, array in sorted(inputs.items()))


def plan(engine, requests: Sequence[Mapping[str, np.ndarray]], max_batch: int) -> List[Tuple[int, List[int]]]:
    """Calls for the requests, in order of arrival: (profile, the indices of the requests it joins), each
    request in one call, or (-1, [index]) for a request no profile takes."""
    calls: List[Tuple[int, List[int]]] = []
    open_calls: Dict[tuple, Tuple[int, List[int], int]] = {}  # key -> (profile, requests, rows)
    for index, inputs in enumerate(requests):
        shapes = {name: array.shape for name, array in inputs.items()}
        profile = profile_for(engine, shapes)
        if profile is None:
            calls.append((-1, [index]))
            continue
        count = rows(inputs)
        key = _key(inputs)
        joined = open_calls.get(key)
        if joined is not None:
            joined_profile, members, joined_rows = joined
            limit = min(max_batch, largest_batch(engine, joined_profile))
            together = {name: (joined_rows + count,) + shape[1:] for name, shape in shapes.items()}
            if joined_rows + count <= limit and _accepts(engine.profiles[joined_profile], together):
                members.append(index)
                open_calls[key] = (joined_profile, members, joined_rows + count)
                continue
        members = [index]
        calls.append((profile, members))
        open_calls[key] = (profile, members, count)
    return calls


def join(requests: Sequence[Mapping[str, np.ndarray]]) -> Dict[str, np.ndarray]:
    if len(requests) == 1:
        return dict(requests[0])
    return {name: np.concatenate([r[name] for r in requests]) for name in requests[0]}


def split(outputs: Mapping[str, np.ndarray], counts: Sequence[int]) -> List[Dict[str, np.ndarray]]:
    """Each request's rows of every output, counts[k] for request k (the outputs' axis 0 follows the
    inputs')."""
    if len(counts) == 1:
        return [dict(outputs)]
    bounds = np.cumsum(counts)[:-1]
    parts = {name: np.split(array, bounds) for name, array in outputs.items()}
    return [{name: parts[name][k] for name in outputs} for k in range(len(counts))]
