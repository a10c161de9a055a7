"""The round trip that README.md and docs/python.md show (the same five lines in both): run as it stands
there, in the engines directory it names, printing the line its last comment says."""

import re
import subprocess
import sys

import pytest

import inferlet
from conftest import REPO, engine_dir

DOCUMENTS = ("README.md", "docs/python.md")


def snippets(document):
    text = (REPO / document).read_text()
    return [block for block in re.findall(r"```python\n(.*?)```", text, re.S) if "inferlet.Session(" in block]


def test_the_documents_show_one_round_trip():
    found = {document: snippets(document) for document in DOCUMENTS}
    assert all(len(blocks) == 1 for blocks in found.values()), found
    readme, manual = (found[document][0] for document in DOCUMENTS)
    assert readme == manual
    assert len(readme.splitlines()) == 5


def test_the_round_trip_runs_and_prints_what_it_says():
    if 8 not in inferlet.tensorrt_majors():
        pytest.skip("the snippet loads a TensorRT 8 engine")
    snippet = snippets("docs/python.md")[0]
    printed = subprocess.run(
        [sys.executable, "-c", snippet], cwd=engine_dir(), capture_output=True, text=True, timeout=60
    )
    assert printed.returncode == 0, printed.stderr
    assert printed.stdout == snippet.splitlines()[-1].split("# ", 1)[1] + "\n"
