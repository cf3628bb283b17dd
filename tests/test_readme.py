"""Every example in README.md runs in examples/: python blocks in order in one namespace, console blocks
as commands whose output must match. shellsession blocks run in one shell in a copy of the sample project,
each command's output matching. The sh blocks are the set-up commands and are not run."""

import os
import re
import shlex
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

from helpers import tarnwick

ROOT = Path(__file__).resolve().parent.parent
README = (ROOT / "README.md").read_text(encoding="utf-8")
BLOCKS = re.findall(r"^```(\w+)\n(.*?)^```$", README, flags=re.M | re.S)
PYTHON = [code for lang, code in BLOCKS if lang == "python"]
CONSOLE = [code for lang, code in BLOCKS if lang == "console"]


def test_python_examples(monkeypatch):
    assert len(PYTHON) >= 5
    monkeypatch.chdir(ROOT / "examples")
    namespace = {"__name__": "readme"}
    for number, code in enumerate(PYTHON, 1):
        exec(compile(code, f"README.md python block {number}", "exec"), namespace)


def _sessions():  # (command, expected output) for every `$ tarnwick ...` line
    for block in CONSOLE:
        for session in re.split(r"^(?=\$ )", block, flags=re.M):
            if session.strip():
                command, _, output = session.partition("\n")
                yield command.removeprefix("$ "), output


@pytest.mark.parametrize(("command", "expected"), list(_sessions()))
def test_console_examples(command, expected):
    argv = shlex.split(command)
    assert argv[0] == "tarnwick"
    run = tarnwick(*argv[1:], stdin=None, cwd=ROOT / "examples", encoding="utf-8")
    assert run.stdout + run.stderr == expected


SESSIONS = [code for lang, code in BLOCKS if lang == "shellsession"]
MARK = "--- next command ---"


@pytest.mark.parametrize("block", SESSIONS)
def test_shell_sessions_with_real_linters(tmp_path, block):
    # Run in one shell, in a copy of the sample project, with this environment's ruff and tarnwick first on PATH.
    pytest.importorskip("ruff")
    shutil.copytree(ROOT / "tests" / "data" / "sarif" / "project", tmp_path, dirs_exist_ok=True)
    steps = [s.partition("\n") for s in re.split(r"^(?=\$ )", block, flags=re.M) if s.strip()]
    keep_status = f"status=$?; echo '{MARK}'; (exit $status)"  # so that `echo $?` sees the command before
    script = "exec 2>&1\n" + "".join(f"{keep_status}\n{command.removeprefix('$ ')}\n" for command, _, _ in steps)
    path = os.path.dirname(sys.executable) + os.pathsep + os.environ.get("PATH", "")
    run = subprocess.run(["bash", "-c", script], cwd=tmp_path, capture_output=True, text=True, env={**os.environ, "PATH": path})
    outputs = run.stdout.split(MARK + "\n")[1:]
    assert [(command, out) for (command, _, _), out in zip(steps, outputs, strict=True)] == [
        (command, expected) for command, _, expected in steps
    ]
