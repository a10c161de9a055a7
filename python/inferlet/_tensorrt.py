"""TensorRT's own libraries, found before a sessions library is loaded.

pip's TensorRT wheels (``tensorrt-cu12-libs``, ``tensorrt-cu13-libs``) put ``libnvinfer.so.N`` and
``libnvinfer_plugin.so.N`` in the directory of a ``tensorrt_libs`` package, which no search path of the
dynamic linker names. Loaded first, by their full path, they are the ones a sessions library's
``libnvinfer.so.N`` dependency resolves to: the linker takes a library already in the process by its
soname. Without that package, the sessions library's RUNPATH and the system's search path decide."""

from __future__ import annotations

import ctypes
import re
import sys
import threading
from pathlib import Path
from typing import Dict, List, Optional

PACKAGE = "tensorrt_libs"

# What to install for each major, as its wheels are named on PyPI.
_PIP_PACKAGES = {
    10: "tensorrt-cu12-libs==10.* or tensorrt-cu13-libs==10.*",
    11: "tensorrt-cu13-libs==11.* or tensorrt-cu12-libs==11.*",
}

_lock = threading.Lock()
_preloaded: Dict[int, List[ctypes.CDLL]] = {}  # kept open for the process's life


def package_dirs() -> List[Path]:
    """The directories of an installed tensorrt_libs package on the import path, without importing it."""
    return [Path(entry or ".") / PACKAGE for entry in sys.path if (Path(entry or ".") / PACKAGE).is_dir()]


def preload(major: int) -> Optional[Path]:
    """libnvinfer.so.<major> (and its plugin library) from a tensorrt_libs package, loaded once; the file,
    or None where no such package holds one."""
    with _lock:
        for directory in package_dirs():
            library = directory / f"libnvinfer.so.{major}"
            if not library.is_file():
                continue
            if major not in _preloaded:
                loaded = [ctypes.CDLL(str(library))]
                plugin = directory / f"libnvinfer_plugin.so.{major}"
                if plugin.is_file():
                    loaded.append(ctypes.CDLL(str(plugin)))
                _preloaded[major] = loaded
            return library
    return None


def loaded_library(major: int) -> Optional[Path]:
    """The libnvinfer.so.<major> file this process has loaded (symbolic links resolved), or None."""
    name = re.compile(rf"^libnvinfer\.so\.{major}(\.|$)")
    try:
        with open("/proc/self/maps", encoding="utf-8", errors="replace") as maps:
            for line in maps:
                fields = line.split(maxsplit=5)
                if len(fields) == 6 and name.match(Path(fields[5].strip()).name):
                    return Path(fields[5].strip())
    except OSError:
        return None
    return None


def missing_tensorrt(major: int, failure: str) -> Optional[str]:
    """The words for a sessions library that could not be loaded because TensorRT's own libraries were
    not found; None for any other failure."""
    if not re.search(r"libnvinfer(_plugin)?\.so\.\d+: cannot open shared object file", failure):
        return None
    install = _PIP_PACKAGES.get(major)
    where = (
        f"install it with pip ({install}), or put its lib/ directory on LD_LIBRARY_PATH"
        if install
        else "put its lib/ directory on LD_LIBRARY_PATH"
    )
    return (
        f"{failure}: TensorRT {major} was found neither in a {PACKAGE} package nor on the library search "
        f"path; {where}"
    )
