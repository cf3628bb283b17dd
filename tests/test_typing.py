"""The stubs match the compiled module, and typed code using the package passes
`mypy --strict`. Skipped where mypy is not installed."""

import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import tarnwick

PACKAGE = Path(tarnwick.__file__).resolve().parent
EXAMPLE = Path(__file__).resolve().parent.parent / "examples" / "typed_usage.py"


@pytest.fixture(scope="module")
def mypy(tmp_path_factory):
    """Runs a mypy tool on a copy of the installed package's Python files and stubs (without the compiled
    module), found through MYPYPATH and outside the source tree: the same files whether the package is
    installed normally or in editable mode. The runtime side of stubtest imports the installed module."""
    pytest.importorskip("mypy")
    work = tmp_path_factory.mktemp("typing")
    copy = work / "path" / "tarnwick"
    copy.mkdir(parents=True)
    for pattern in ("*.py", "*.pyi", "py.typed"):
        for file in PACKAGE.glob(pattern):
            shutil.copy(file, copy)

    def run(*args):
        return subprocess.run(
            [sys.executable, "-m", *args],
            cwd=work,
            env={**os.environ, "MYPYPATH": str(copy.parent)},
            capture_output=True,
            text=True,
        )

    return run


def test_stubs_ship_and_match_the_module(mypy):
    assert (PACKAGE / "py.typed").is_file() and (PACKAGE / "_tarnwick.pyi").is_file()
    run = mypy("mypy.stubtest", "tarnwick._tarnwick")
    assert run.returncode == 0, run.stdout + run.stderr


STRICT = ("mypy", "--strict", "--python-version", "3.10", "--no-incremental")


@pytest.mark.parametrize("target", [[str(EXAMPLE)], ["-p", "tarnwick"]], ids=["example", "package"])
def test_mypy_strict(mypy, target):
    run = mypy(*STRICT, *target)
    assert run.returncode == 0, run.stdout + run.stderr


def test_example_runs():
    run = subprocess.run([sys.executable, EXAMPLE.name], cwd=EXAMPLE.parent, capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert run.stdout.splitlines()[1] == "WARNING True 2 {'max-line-length': '100'}"
