"""The log of every sessions library as one Python callable."""

from __future__ import annotations

import atexit
import enum
from typing import Callable, Optional

from . import _native


class LogLevel(enum.IntEnum):
    """inferlet_log_level, numbered as TensorRT's ILogger::Severity."""

    ERROR = 1
    WARNING = 2
    INFO = 3
    VERBOSE = 4


def set_log(callback: Optional[Callable[[LogLevel, str], None]], level: int = LogLevel.WARNING) -> None:
    """callback(level, message) receives every message at or below level of every TensorRT major, the
    library's own and TensorRT's, on the thread whose call wrote it (an exception it raises is printed
    as unraisable and dropped). None: nothing is logged, the default."""
    if callback is None:
        _native.set_log(None, int(level))
        return

    def forward(raw_level: int, message: str) -> None:
        try:
            raw_level = LogLevel(raw_level)
        except ValueError:
            pass
        callback(raw_level, message)

    _native.set_log(forward, int(level))


# A library must not call into an interpreter that is shutting down.
atexit.register(_native.set_log, None, int(LogLevel.ERROR))
