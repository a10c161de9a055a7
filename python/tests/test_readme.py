"""The round trip that README.md shows (in "Quick start" and in "Python", the same five lines): run as it
stands there, in the engines directory it names, printing the line its last comment says."""

import re
import subprocess
import sys

import pytest

import inferlet
from conftest import REPO, engine_dir


def snippets():
    text = (REPO / "README.md").read_text()
    return [block for block in re.findall(r"```python\n(.*?)```", text, re.S) if "inferlet.Session(" in block]


def test_the_readme_round_trip_runs_and_prints_what_it_says():
    found = snippets()
    assert len(found) == 2 and found[0] == found[1]
    snippet = found[0]
    assert len(snippet.splitlines()) == 5
    if 8 not in inferlet.tensorrt_majors():
        pytest.skip("the snippet loads a TensorRT 8 engine")
    printed = subprocess.run(
        [sys.executable, "-c", snippet], cwd=engine_dir(), capture_output=True, text=True, timeout=60
    )
    assert printed.returncode == 0, printed.stderr
    assert printed.stdout == snippet.splitlines()[-1].split("# ", 1)[1] + "\n"
