"""The interface's result codes and the exception every failure raises."""

from __future__ import annotations

import enum


class Code(enum.IntEnum):
    """inferlet_code of include/inferlet_sessions.h."""

    OK = 0
    INVALID_ARGUMENT = 1
    OUT_OF_MEMORY = 2
    ENGINE_REFUSED = 3
    UNSUPPORTED_TENSOR = 4
    PROFILE_IN_USE = 5
    SHAPE_OUT_OF_PROFILE = 6
    BUFFER_TOO_SMALL = 7
    BUSY = 8
    NOT_RUNNING = 9
    TENSORRT_ERROR = 10
    CUDA_ERROR = 11
    CUDA_STICKY = 12
    INTERNAL_ERROR = 13


class Error(Exception):
    """A refusal or failure: ``code`` (a Code) and ``message`` (the library's text).

    Each code has its subclass (InvalidArgumentError, BusyError, ...), so that ``except`` can pick
    one; ``Error`` itself catches them all.
    """

    def __init__(self, code: int, message: str):
        super().__init__(code, message)
        self.code = _known(code)
        self.message = message

    def __str__(self) -> str:
        return self.message

    def __repr__(self) -> str:
        return f"{type(self).__name__}({self.code!r}, {self.message!r})"

    def __reduce__(self):
        return make_error, (int(self.code), self.message)


def _known(code: int):
    try:
        return Code(code)
    except ValueError:
        return code


class _CodedError(Error):
    _code = Code.INTERNAL_ERROR

    def __init__(self, message: str):
        Error.__init__(self, self._code, message)


class InvalidArgumentError(_CodedError):
    """A null or closed object, an unknown, missing or repeated tensor name, a wrong dtype, a value out of
    range."""

    _code = Code.INVALID_ARGUMENT


class OutOfMemoryError(_CodedError):
    """Host or device memory could not be had."""

    _code = Code.OUT_OF_MEMORY


class EngineRefusedError(_CodedError):
    """The bytes are no engine that the TensorRT tried can deserialize."""

    _code = Code.ENGINE_REFUSED


class UnsupportedTensorError(_CodedError):
    """A tensor of the profile is not dense and row-major in device memory."""

    _code = Code.UNSUPPORTED_TENSOR


class ProfileInUseError(_CodedError):
    """Another live session holds the profile (the engine has dynamic shapes)."""

    _code = Code.PROFILE_IN_USE


class ShapeOutOfProfileError(_CodedError):
    """An input's shape is outside the session's profile."""

    _code = Code.SHAPE_OUT_OF_PROFILE


class BufferTooSmallError(_CodedError):
    """An array has fewer bytes than its tensor at the call's shape."""

    _code = Code.BUFFER_TOO_SMALL


class BusyError(_CodedError):
    """The session is running a call, or another thread's call uses the object."""

    _code = Code.BUSY


class NotRunningError(_CodedError):
    """wait() with no call enqueued."""

    _code = Code.NOT_RUNNING


class TensorRTError(_CodedError):
    """TensorRT refused a step (its own message went to the log)."""

    _code = Code.TENSORRT_ERROR


class CudaError(_CodedError):
    """A CUDA call failed; the device is still usable."""

    _code = Code.CUDA_ERROR


class CudaStickyError(_CodedError):
    """The device has had a sticky fault: nothing more runs on it."""

    _code = Code.CUDA_STICKY


class InternalError(_CodedError):
    """A failure that no other code describes, a sessions library that cannot be loaded among them."""

    _code = Code.INTERNAL_ERROR


_BY_CODE = {cls._code: cls for cls in _CodedError.__subclasses__()}


def make_error(code: int, message: str) -> Error:
    """The exception of code: its subclass, or Error itself for a code this package does not know."""
    cls = _BY_CODE.get(code)
    return cls(message) if cls else Error(code, message)
