"""inferlet: serialized TensorRT engines run from Python.

An ``Engine`` is loaded once on a device and serves any number of ``Session`` objects, each running one
call at a time on its own optimization profile: numpy arrays in, numpy arrays out, the GIL released
while the library works, so that threads of one process serve one engine together. It goes through the
sessions interface of inferlet (``libinferlet_sessions<N>.so``, one per TensorRT major), loaded at run
time from the package's ``lib/`` or from ``$INFERLET_LIBRARY_DIR``.

    import numpy as np, inferlet
    engine = inferlet.Engine("smoke-trt8.engine")
    with inferlet.Session(engine) as session:
        out = session.run({"in0": np.ones((2, 340), np.float32), "in1": np.ones((2, 340), np.float32)})

Failures raise ``inferlet.Error`` (``.code``, ``.message``), as the subclass of their code.
"""

from ._config import DEVICE, VERSION as __version__
from ._device import DeviceArray
from ._dtypes import DataType, numpy_dtype
from ._engine import Engine, EngineMemory, Profile, ProfileShapes, TensorFormat, TensorInfo
from ._errors import (
    BufferTooSmallError,
    BusyError,
    Code,
    CudaError,
    CudaStickyError,
    EngineRefusedError,
    Error,
    InternalError,
    InvalidArgumentError,
    NotRunningError,
    OutOfMemoryError,
    ProfileInUseError,
    ShapeOutOfProfileError,
    TensorRTError,
    UnsupportedTensorError,
    make_error,
)
from ._library import LIBRARY_DIR_VARIABLE, library_dir, tensorrt_library, tensorrt_majors
from ._log import LogLevel, set_log
from ._plugins import load_plugins
from ._session import Session
from . import _native

_native.set_error_factory(make_error)

__all__ = [
    "DEVICE",
    "LIBRARY_DIR_VARIABLE",
    "BufferTooSmallError",
    "BusyError",
    "Code",
    "CudaError",
    "CudaStickyError",
    "DataType",
    "DeviceArray",
    "Engine",
    "EngineMemory",
    "EngineRefusedError",
    "Error",
    "InternalError",
    "InvalidArgumentError",
    "LogLevel",
    "NotRunningError",
    "OutOfMemoryError",
    "Profile",
    "ProfileInUseError",
    "ProfileShapes",
    "Session",
    "ShapeOutOfProfileError",
    "TensorFormat",
    "TensorInfo",
    "TensorRTError",
    "UnsupportedTensorError",
    "library_dir",
    "load_plugins",
    "numpy_dtype",
    "set_log",
    "tensorrt_library",
    "tensorrt_majors",
]
