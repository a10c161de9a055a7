"""Libraries of TensorRT plugins: the custom layers an engine may hold, loaded into a major's TensorRT
before the engines that need them."""

from __future__ import annotations

import os
from typing import Optional, Union

from ._errors import Code, Error, InternalError, make_error
from ._library import majors_in_words, open_library, tensorrt_majors


def load_plugins(path: Union[str, os.PathLike], trt: Optional[int] = None) -> int:
    """Loads the plugin library at ``path`` into the TensorRT of major ``trt``, or without ``trt`` into
    the first major of the build (``tensorrt_majors()``, in order) that takes it, and answers that major.
    Engines of that major whose layers need its plugin creators load from then on; it stays loaded for
    the process, and loading it again changes nothing.

    On TensorRT 10 and 11 the library goes through ``IPluginRegistry::loadLibrary`` and exports
    ``getCreators`` (or ``getPluginCreators``); on 7 and 8 it is loaded with ``dlopen`` and registers its
    creators when it is loaded (``REGISTER_TENSORRT_PLUGIN``). A library that cannot be loaded, or that
    registers no plugin creator, raises the error of the library's status (``InvalidArgumentError``, or
    ``TensorRTError`` with TensorRT's reason); without ``trt``, when no major takes it, one error gives
    every major's reason.
    """
    path = os.fspath(path)
    # Every major's library is open before any of them loads the plugin library: on 7 and 8 it is loaded
    # with RTLD_GLOBAL, which puts the TensorRT it links ahead of the own TensorRT of every library
    # opened after it.
    libraries, load_failures = [], []
    for major in tensorrt_majors():
        try:
            libraries.append(open_library(major))
        except InternalError as failure:
            load_failures.append(str(failure))
    if trt is not None:
        open_library(int(trt)).load_plugins(path)
        return int(trt)
    if not libraries:
        raise InternalError(load_failures[0])
    refusals = []
    for library in libraries:
        try:
            library.load_plugins(path)
            return library.major
        except Error as refusal:
            refusals.append((library.major, refusal))
    codes = {refusal.code for _, refusal in refusals}
    raise make_error(
        codes.pop() if len(codes) == 1 else Code.INVALID_ARGUMENT,
        f"no TensorRT of this build ({majors_in_words()}) takes the plugin library: "
        + "; ".join(f"TensorRT {major}: {refusal.message}" for major, refusal in refusals),
    )
