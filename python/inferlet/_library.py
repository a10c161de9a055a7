"""Where the sessions libraries are, and each one loaded once: libinferlet_sessions<N>.so for every
TensorRT major N of the build, from the package's lib/ or from $INFERLET_LIBRARY_DIR (a build tree's
lib/, for instance), after TensorRT's own libraries where pip installed them (_tensorrt)."""

from __future__ import annotations

import os
import threading
from pathlib import Path
from typing import Optional, Tuple

from . import _config, _native, _tensorrt
from ._errors import InternalError, InvalidArgumentError

LIBRARY_DIR_VARIABLE = "INFERLET_LIBRARY_DIR"

_lock = threading.Lock()
_opened = {}


def tensorrt_majors() -> Tuple[int, ...]:
    """The TensorRT majors of this build, in the order an engine of unknown major is tried."""
    return tuple(_config.TENSORRT_MAJORS)


def library_dir() -> Path:
    """$INFERLET_LIBRARY_DIR when set, else the package's own lib/."""
    given = os.environ.get(LIBRARY_DIR_VARIABLE)
    return Path(given) if given else Path(__file__).resolve().parent / "lib"


def library_path(major: int) -> Path:
    return library_dir() / f"libinferlet_sessions{major}.so"


def majors_in_words() -> str:
    majors = sorted(tensorrt_majors())
    return ", ".join(map(str, majors[:-1])) + (" and " if len(majors) > 1 else "") + str(majors[-1])


def open_library(major: int):
    """The sessions library of major (a _native.Library), loaded on first use. InvalidArgumentError for a
    major this build does not have, InternalError when the library cannot be loaded."""
    if major not in tensorrt_majors():
        raise InvalidArgumentError(
            f"TensorRT {major} is not in this build of inferlet: it has {majors_in_words()}"
        )
    path = str(library_path(major))
    with _lock:
        library = _opened.get(path)
        if library is None:
            _tensorrt.preload(major)
            try:
                library = _native.open_library(path)
            except _native.LibraryError as failure:
                raise InternalError(_tensorrt.missing_tensorrt(major, str(failure)) or str(failure)) from None
            if library.major != major:
                raise InternalError(f"{path} is built for TensorRT {library.major}, not {major}")
            _opened[path] = library
    return library


def tensorrt_library(major: int) -> Optional[Path]:
    """The file of TensorRT's libnvinfer.so.<major> that serves this process's sessions library of major:
    a tensorrt_libs package's, or the one the library's RUNPATH or the system's search path led to. None
    until an engine of major was loaded."""
    return _tensorrt.loaded_library(major)
