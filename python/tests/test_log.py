"""The log hook: every message of every major at or below the threshold, on the thread whose call wrote
it, with the levels as LogLevel; the library's two info lines as it writes them; a callback that raises
neither fails the call nor stops the log; None turns it off."""

import sys
import threading

import pytest

import inferlet
from conftest import engine_path
from inferlet import LogLevel


@pytest.fixture
def lines():
    received = []
    yield received
    inferlet.set_log(None)


def recorder(received):
    return lambda level, message: received.append((level, message, threading.get_ident()))


def test_the_librarys_lines_reach_the_hook_at_info(lines, major):
    inferlet.set_log(recorder(lines), LogLevel.INFO)
    engine = inferlet.Engine(engine_path("smoke", major), trt=major)
    session = inferlet.Session(engine)
    memory, total = engine.device_memory, session.device_memory
    session.close()
    engine.close()
    me = threading.get_ident()
    assert [(level, text) for level, text, thread in lines if thread == me] == [
        (
            LogLevel.INFO,
            f"engine 'smoke' loaded on device 0: 3 tensors, 1 profile, {memory.engine} bytes of device "
            f"memory, {memory.context} bytes per execution context",
        ),
        (
            LogLevel.INFO,
            f"session on profile 0 of engine 'smoke': {total} bytes of device memory (execution "
            f"context {memory.context}, buffers {total - memory.context})",
        ),
    ]
    assert all(thread == me for _, _, thread in lines)


def test_the_threshold_filters_and_none_turns_it_off(lines, major):
    inferlet.set_log(recorder(lines), LogLevel.WARNING)
    inferlet.Engine(engine_path("smoke", major), trt=major).close()
    assert lines == []
    with pytest.raises(inferlet.EngineRefusedError):
        inferlet.Engine(b"no engine", trt=major)
    assert lines and {level for level, _, _ in lines} == {LogLevel.ERROR}  # TensorRT's own refusal
    inferlet.set_log(None)
    count = len(lines)
    with pytest.raises(inferlet.EngineRefusedError):
        inferlet.Engine(b"no engine", trt=major)
    assert len(lines) == count


def test_lines_come_on_the_thread_that_made_the_call(lines, major):
    inferlet.set_log(recorder(lines), LogLevel.INFO)
    made = []
    worker = threading.Thread(
        target=lambda: made.append(inferlet.Engine(engine_path("smoke", major), trt=major))
    )
    worker.start()
    worker.join()
    made[0].close()
    assert [thread for _, _, thread in lines] == [worker.ident]


def test_a_callback_that_raises_fails_nothing(lines, major, monkeypatch):
    unraisable = []
    monkeypatch.setattr(sys, "unraisablehook", unraisable.append)

    def failing(level, message):
        lines.append(message)
        raise RuntimeError("the host's own bug")

    inferlet.set_log(failing, LogLevel.INFO)
    engine = inferlet.Engine(engine_path("smoke", major), trt=major)
    inferlet.Session(engine).close()
    assert len(lines) == 2 and len(unraisable) == 2
    assert isinstance(unraisable[0].exc_value, RuntimeError)
