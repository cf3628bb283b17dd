"""Every example in README.md runs in examples/: python blocks in order in one namespace, console blocks
as commands whose output must match. The sh blocks are the set-up commands and are not run."""

import re
import shlex
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
