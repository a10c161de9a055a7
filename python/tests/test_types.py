"""The package's types, its own and the extension's (the stubs nanobind's stubgen writes, py.typed), as a
type checker sees them: the documents' round trip checks clean, and a wrong argument is caught."""

from pathlib import Path

import pytest

import inferlet
from test_readme import snippets

BAD = """
import inferlet
engine = inferlet.Engine("smoke-trt8.engine")
session = inferlet.Session(engine, profile="first")
"""


def check(tmp_path, source):
    api = pytest.importorskip("mypy.api", reason="mypy is not installed (scripts/install-deps.sh adds it)")
    path = tmp_path / "snippet.py"
    path.write_text(source)
    report, _, status = api.run([str(path), "--no-incremental", "--cache-dir", str(tmp_path / "cache")])
    return report, status


def test_the_package_ships_its_types():
    package = Path(inferlet.__file__).resolve().parent
    assert (package / "py.typed").is_file()
    assert "def open_library(path: str) -> Library:" in (package / "_native.pyi").read_text()


def test_the_documents_round_trip_checks_clean_and_a_wrong_argument_does_not(tmp_path, monkeypatch):
    root = Path(inferlet.__file__).resolve().parent.parent
    if root.name != "site-packages":  # a build tree's package; an installed one mypy finds itself
        monkeypatch.setenv("MYPYPATH", str(root))
    report, status = check(tmp_path, snippets("README.md")[0])
    assert status == 0, report
    report, status = check(tmp_path, BAD)
    assert status == 1
    assert 'Argument "profile" to "Session" has incompatible type "str"; expected "int"' in report
