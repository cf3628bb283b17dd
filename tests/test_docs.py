"""Every example in README.md and docs/ runs, and the map of the tree matches the tree.

A page's python blocks run in order in one namespace; a console block runs as one
shell session (`$ ` starts a command, the lines after it are its output, stdout and
stderr together, as a terminal shows them); json blocks must parse. A marker
`<!-- run in: DIR -->` says where the examples after it run (the text says it too);
they run in a fresh copy of DIR, so nothing is left behind. sh and yaml blocks are
set-up commands and configuration, run by CI itself or by their tools, not here.
"""

import json
import os
import re
import shlex
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
PAGES = [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md"))]
MAPS = [ROOT / name for name in ("ARCHITECTURE.md", "CONTRIBUTING.md", "CHANGELOG.md")]
MARK = re.compile(r"^<!-- run in: (\S+) -->$|^```(\w*)\n(.*?)^```$", re.M | re.S)
RUN = {"python", "console", "json"}
NOT_RUN = {"sh", "yaml", "text", ""}
TOOLS = ("ruff", "bandit")  # linters a console example may run; without them it is skipped


def blocks(page):
    """(folder, language, code) for every fenced block of a page, in order."""
    folder = "examples"
    for mark in MARK.finditer(page.read_text(encoding="utf-8")):
        if mark[1]:
            folder = mark[1]
        else:
            yield folder, mark[2], mark[3]


def rel(page):
    return page.relative_to(ROOT).as_posix()


def in_copy(tmp_path, folder):
    """A fresh copy of the repository folder `folder`, as a Path to run in."""
    copy = tmp_path / folder
    shutil.copytree(ROOT / folder, copy, ignore=shutil.ignore_patterns("__pycache__"))
    return copy


def shell_env(tmp_path):
    """The environment of a console session: `tarnwick` is this interpreter's package,
    and this interpreter's scripts (ruff, bandit) come before everything else. A
    preloaded sanitizer runtime (scripts/sanitize) is kept for `tarnwick` alone:
    the shell and the linters are not the code under test."""
    env = {**os.environ, "PYTHONUNBUFFERED": "1", "COLUMNS": "80"}
    preload = env.pop("LD_PRELOAD", None)
    bin_dir = tmp_path / "bin"
    bin_dir.mkdir(exist_ok=True)
    shim = bin_dir / "tarnwick"
    export = f"export LD_PRELOAD={shlex.quote(preload)}\n" if preload else ""
    shim.write_text(f'#!/bin/sh\n{export}exec "{sys.executable}" -m tarnwick "$@"\n')
    shim.chmod(0o755)
    env["PATH"] = os.pathsep.join([str(bin_dir), str(Path(sys.executable).parent), env.get("PATH", "")])
    return env


def has_script(tool):
    """Whether this interpreter has the linter `tool` installed beside it."""
    return shutil.which(tool, path=str(Path(sys.executable).parent)) is not None


def sessions(code):
    """The commands of a console block and the output expected of all of them together."""
    parts = [p for p in re.split(r"^\$ ", code, flags=re.M) if p]
    commands, outputs = zip(*(p.partition("\n")[::2] for p in parts), strict=True)
    return list(commands), "".join(outputs)


@pytest.mark.parametrize("page", PAGES, ids=rel)
def test_examples(page, tmp_path, monkeypatch):
    languages = {language for _, language, _ in blocks(page)}
    assert languages <= RUN | NOT_RUN, f"{rel(page)}: unknown block languages {languages - RUN - NOT_RUN}"
    namespace = {"__name__": "docs"}
    for number, (folder, language, code) in enumerate(blocks(page), 1):
        where = f"{rel(page)} block {number} ({language}, in {folder})"
        if language == "json":
            json.loads(code)
        elif language == "python":
            monkeypatch.chdir(in_copy(tmp_path / str(number), folder))
            exec(compile(code, where, "exec"), namespace)
        elif language == "console":
            if shutil.which("bash") is None:
                pytest.skip("console examples need bash")
            for tool in TOOLS:
                if re.search(rf"(^|\| ){tool} ", code, re.M) and not has_script(tool):
                    pytest.skip(f"{where} needs {tool}")
            commands, expected = sessions(code)
            script = "exec 2>&1\n" + "".join(f"{command}\n" for command in commands)
            run = subprocess.run(["bash", "-c", script], cwd=in_copy(tmp_path / str(number), folder),
                                 env=shell_env(tmp_path), capture_output=True, text=True, encoding="utf-8")
            assert run.stdout == expected, where


# ---------------------------------------------------------------- the map of the tree

PATH_LIKE = re.compile(r"`((?:\.?[\w-]+/)+(?:[\w.*-]+)?|[\w-]+\.(?:md|toml|yaml|txt|py|cpp|h|cc|sarif))`")
LINK = re.compile(r"\]\(((?!https?:|#|mailto:)[^)#\s]+)(?:#[^)]*)?\)")


def named_paths(page):
    """Repository paths a page names: backquoted paths and relative links."""
    text = page.read_text(encoding="utf-8")
    for found in PATH_LIKE.findall(text):
        yield found
    for link in LINK.findall(text):
        yield (page.parent / link).resolve().relative_to(ROOT).as_posix()


# Texts that look like this tree's paths but are a user's, in examples of globs and scopes.
EXAMPLE_PATHS = {"src/a/b.c", "src/*.py", "src/a.py", "src/app.py"}


def exists(name):
    if any(c in name for c in "*?["):
        return any(ROOT.glob(name))
    return (ROOT / name).exists()


def tracked(*folders):
    """The files git tracks (below `folders`), or a skip outside a checkout."""
    listed = subprocess.run(["git", "ls-files", *folders], cwd=ROOT, capture_output=True, text=True)
    if listed.returncode != 0 or not (ROOT / "src").is_dir():
        pytest.skip("not a checkout of the source tree (a wheel's test run)")
    return listed.stdout.splitlines()


@pytest.mark.parametrize("page", [p for p in PAGES + MAPS if p.exists()], ids=rel)
def test_named_paths_exist(page):
    tops = {p.split("/")[0] for p in tracked()}
    missing = [n for n in named_paths(page) if n.split("/")[0] in tops and n not in EXAMPLE_PATHS]
    missing = [n for n in missing if not exists(n)]
    assert not missing, f"{rel(page)} names paths that do not exist: {missing}"


def architecture_entries():
    """Paths the map names: rows `` | `name` | `` (or `` | `a.h`, `a.cpp` | ``) under a heading `` ### `folder/` ``."""
    folder = ""
    for line in (ROOT / "ARCHITECTURE.md").read_text(encoding="utf-8").splitlines():
        heading = re.match(r"^#+ `([^`]+/)`", line)
        if heading:
            folder = heading[1]
        if line.startswith("| `"):  # the first cell names one file or more: `a.h`, `a.cpp`
            yield from (folder + name for name in re.findall(r"`([^`]+)`", line.split("|")[1]))


SOURCE_FOLDERS = ("src", "tarnwick", "scripts", "bench", "fuzz", "cmake", "tests", ".ci")


def test_architecture_names_every_source_file():
    files = tracked(*SOURCE_FOLDERS)
    entries = set(architecture_entries())
    assert entries and all(exists(e) for e in entries), sorted(e for e in entries if not exists(e))

    def named(path):  # code is named file by file; data, corpora and tests may be named by folder
        if path in entries or re.match(r"(src|tarnwick|scripts|bench|cmake)/|fuzz/[^/]+\.(cc|h)$", path):
            return path in entries
        parts = path.split("/")
        return any("/".join(parts[:i]) + "/" in entries for i in range(1, len(parts)))

    unnamed = [p for p in files if not named(p)]
    assert not unnamed, f"ARCHITECTURE.md does not name: {unnamed}"
