"""The stubs match the compiled module, and typed code using the package passes `mypy --strict`."""

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
    # A copy of the package's Python files and stubs, found through MYPYPATH: the same files whether the
    # package is installed normally or in editable mode.
    pytest.importorskip("mypy")
    work = tmp_path_factory.mktemp("typing")
    copy = work / "path" / "tarnwick"
    copy.mkdir(parents=True)
    [shutil.copy(file, copy) for pattern in ("*.py", "*.pyi", "py.typed") for file in PACKAGE.glob(pattern)]

    env = {**os.environ, "MYPYPATH": str(copy.parent)}
    return lambda *args: subprocess.run([sys.executable, "-m", *args], cwd=work, env=env, capture_output=True,
                                        text=True)


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
