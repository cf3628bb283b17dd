"""Baselines: each line names exactly its tool, rule and file; with real ruff, the ratchet from end to end."""

import importlib.util
import json
import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path
from urllib.parse import quote

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from helpers import RUFF, tarnwick
from tarnwick import Policy, expand, sarif
from tarnwick.sarif.baseline import Matcher, entries_of, findings, make_baseline, read_baseline, write_baseline
from tarnwick.sarif.identity import Identities

SARIF = Path(__file__).parent / "data" / "sarif"

# Everything the parser or a glob could read as syntax, blanks it trims, a line break and a comment mark.
HOSTILE = st.text("ab*?[]{},!-\\@=:<> \t\u3000\r#\né", max_size=6)


def hostile_result(rule, path, level, suppressed):
    r = {"ruleId": rule, "message": {"text": "m"}, "level": level}
    if path is not None:
        r["locations"] = [{"physicalLocation": {"artifactLocation": {"uri": quote(path, safe="")}}}]
    if suppressed:
        r["suppressions"] = [{"kind": "inSource"}]
    return r


RESULTS = st.lists(
    st.builds(hostile_result, HOSTILE, st.none() | HOSTILE, st.sampled_from(["error", "note", "none"]), st.booleans()),
    max_size=5,
)
LOGS = st.lists(st.tuples(HOSTILE, RESULTS, st.integers(0, 5)), min_size=1, max_size=3)


@settings(max_examples=300, deadline=None)
@given(LOGS)
def test_a_baseline_drops_exactly_what_it_was_made_from(runs):
    # Made from the first results of each run and applied to all of them, a baseline drops a result exactly
    # when its tool and rule have a line for its file, or a line without a file.
    made_from = {"version": "2.1.0", "runs": [{"tool": {"driver": {"name": t}}, "results": rs[:k]} for t, rs, k in runs]}
    log = {"version": "2.1.0", "runs": [{"tool": {"driver": {"name": t}}, "results": rs} for t, rs, _ in runs]}
    found = findings(made_from, ["/root"])
    made = make_baseline(found)
    assert sum(found.values()) == made.findings + sum(n for _, n in made.left_out)
    for (tool, rule, path), _ in made.left_out:  # only what no line can hold
        assert "\n" in tool + rule + (path or "") or not tool or tool[-1].isspace()
    lines = set(found) - {key for key, _ in made.left_out}
    with tempfile.TemporaryDirectory() as tmp:
        file = Path(tmp) / "baseline.txt"
        file.write_text("\n".join(made.lines) + "\n", encoding="utf-8")
        directives = expand(f"@{file}")
    assert len(directives) == len(made.lines)
    fold = sarif.fold_log(log, Policy(directives), roots=["/root"])
    for (tool, results, _), tally in zip(runs, fold.runs, strict=True):
        for r in results:
            if r["level"] == "none":
                continue
            path = tally.targets.scopes.of(r)
            dropped = any(s.get("properties") == {"tarnwick": True} for s in r.get("suppressions", []))
            expected = (tool, r["ruleId"], None) in lines or any((tool, r["ruleId"], p) in lines for p in path)
            assert dropped == expected, (r, made.lines)




def test_directive_baseline_with_ruff(tmp_path):
    pytest.importorskip("ruff")
    project = tmp_path / "project"
    shutil.copytree(SARIF / "project", project)

    def ruff():
        return subprocess.run(RUFF, cwd=project, capture_output=True).stdout

    made = tarnwick("baseline", "--format", "directives", cwd=project, stdin=ruff())
    assert made.returncode == 0 and made.stderr == b""
    (project / "lint-baseline.txt").write_bytes(made.stdout)
    lines = made.stdout.decode().splitlines()
    assert lines[0].startswith("# Baseline of <stdin>, written by `tarnwick baseline`: 2 findings of 1 tool in 2 lines")
    assert lines[3:] == [
        "suppress:<ruff>F401@app/core.py=baseline: 1 finding",
        "suppress:<ruff>E501@app/legacy.py=baseline: 1 finding",
    ]
    gate = ["sarif", "-D", "@lint-baseline.txt", "--fail-on", "warning", "--unused", "error"]

    # Every old finding is dropped: the gate passes.
    run = tarnwick(*gate, cwd=project, stdin=ruff())
    assert run.returncode == 0, run.stderr
    results = json.loads(run.stdout)["runs"][0]["results"]
    assert len(results) == 2 and all(r["suppressions"][0]["justification"] == "baseline: 1 finding" for r in results)

    # A new finding fails it, and is listed.
    (project / "app" / "new.py").write_text("import sys\n", encoding="utf-8")
    run = tarnwick(*gate, cwd=project, stdin=ruff())
    assert run.returncode == 1
    assert run.stderr.decode().splitlines()[0] == "app/new.py:1:8: error: F401 `sys` imported but unused [ruff]"
    (project / "app" / "new.py").unlink()

    # A fixed finding leaves its line unused: an error with --unused error, a warning with --unused warn.
    core = project / "app" / "core.py"
    core.write_text(core.read_text(encoding="utf-8").replace("import os\n", ""), encoding="utf-8")
    stale = b"lint-baseline.txt:4: suppress:<ruff>F401@app/core.py=baseline: 1 finding: matched no result\n"
    run = tarnwick(*gate, cwd=project, stdin=ruff())
    assert run.returncode == 1 and run.stderr.startswith(stale)
    run = tarnwick(*gate[:-1], "warn", "--quiet", cwd=project, stdin=ruff())
    assert (run.returncode, run.stderr) == (0, stale)
    assert tarnwick(*gate[:-2], cwd=project, stdin=ruff()).returncode == 0  # ignore, the default


def test_baseline_of_a_bad_log_is_exit_2(tmp_path):
    run = tarnwick("baseline", "missing.sarif", cwd=tmp_path)
    assert (run.returncode, run.stdout) == (2, b"")
    assert run.stderr == b"tarnwick baseline: error: missing.sarif: No such file or directory\n"


# ---------------------------------------------------------------- baselines of single findings

BANDIT = [sys.executable, "-m", *"bandit -q -r -f sarif .".split()]
RUFF_S = [*RUFF[:-5], "--select", "E,F,S", *RUFF[-3:]]


def scan(project):
    """The logs of ruff (and bandit, where it writes SARIF) over *project*, as files in it."""
    logs = []
    tools = [("ruff.sarif", RUFF_S)]
    if importlib.util.find_spec("bandit") and importlib.util.find_spec("sarif_om"):
        tools.append(("bandit.sarif", BANDIT))
    for name, command in tools:
        out = subprocess.run(command, cwd=project, capture_output=True).stdout
        (project / name).write_bytes(out)
        logs.append(name)
    return logs


def edit(file, old, new):
    file.write_text(file.read_text(encoding="utf-8").replace(old, new, 1), encoding="utf-8")


def test_ratchet_with_real_linters(tmp_path):
    pytest.importorskip("ruff")
    project = tmp_path / "project"
    shutil.copytree(SARIF / "project", project)
    logs = scan(project)
    made = tarnwick("baseline", *logs, "--output", "lint-baseline.txt", cwd=project)
    assert made.returncode == 0 and made.stdout == b""
    text = (project / "lint-baseline.txt").read_text(encoding="utf-8").splitlines()
    assert text[0] == "tarnwick-baseline 1" and text[1:] == sorted(text[1:])
    assert all(line.split("\t")[3].startswith("line:") for line in text[1:])
    gate = ["sarif", *logs, "--baseline", "lint-baseline.txt", "--fail-on", "warning", "--unused", "error", "-q"]

    # Lines inserted above every finding, and edits elsewhere, leave every finding unchanged.
    for file in ("app/core.py", "app/legacy.py", "tools/check.py"):
        edit(project / file, "", '"""A new docstring."""\n\n\n')
    logs = scan(project)
    run = tarnwick(*gate, cwd=project)
    assert (run.returncode, run.stderr) == (0, b"")
    states = {r["baselineState"] for run_ in json.loads(run.stdout)["runs"] for r in run_["results"]}
    assert states == {"unchanged"}

    # One more occurrence of baselined rules in baselined files fails the gate and is listed.
    edit(project / "tools" / "check.py", "    assert", '    assert evaluate("1 + 1") == 2\n    assert')
    edit(project / "app" / "core.py", "import os\n", "import os\nimport sys\n")
    logs = scan(project)
    run = tarnwick(*gate, cwd=project)
    assert run.returncode == 1
    assert run.stderr.decode().splitlines() == [
        "app/core.py:5:8: error: F401 `sys` imported but unused [ruff]",
        "tools/check.py:9:5: error: S101 Use of `assert` detected [ruff]",  # the second of two equal lines
    ]
    new = [
        (tool["tool"]["driver"]["name"], r["ruleId"])
        for tool in json.loads(run.stdout)["runs"]
        for r in tool["results"]
        if r["baselineState"] == "new"
    ]
    assert sorted(new) == sorted([("ruff", "S101"), ("ruff", "F401")] + [("Bandit", "B101")] * (len(logs) == 2))
    edit(project / "tools" / "check.py", '    assert evaluate("1 + 1") == 2\n', "")
    edit(project / "app" / "core.py", "import sys\n", "")

    # A fixed finding: --unused error fails, naming the entry; --prune removes exactly it.
    edit(project / "app" / "core.py", "import os\n", "")
    logs = scan(project)
    run = tarnwick(*gate, cwd=project)
    stale = [line for line in text if "\tF401\t" in line]
    assert run.returncode == 1 and len(stale) == 1
    number = text.index(stale[0]) + 1
    assert run.stderr.decode().startswith(f"lint-baseline.txt:{number}: <ruff>F401@app/core.py line:")
    pruned = tarnwick("baseline", "--prune", "lint-baseline.txt", *logs, cwd=project)
    assert pruned.returncode == 0
    assert pruned.stderr.decode() == f"tarnwick baseline: lint-baseline.txt: 0 findings added, 1 removed ({len(text) - 1} before, {len(text) - 2} now)\n"
    assert (project / "lint-baseline.txt").read_text(encoding="utf-8").splitlines() == [
        line for line in text if line != stale[0]
    ]
    assert tarnwick(*gate, cwd=project).returncode == 0


FIELD = st.text("ab\\\t\n\r\u2028 #é", max_size=4)
FINDINGS = st.lists(
    st.tuples(
        st.tuples(FIELD, st.none() | FIELD.filter(bool), FIELD),
        st.none() | st.sampled_from(["line:0a:0", "line:0a:1", "fingerprint:k=\tv"]),
    ),
    max_size=12,
)


@settings(max_examples=300, deadline=None)
@given(FINDINGS, st.data())
def test_a_baseline_file_holds_its_findings_exactly(found, data):
    # Read back, a baseline matches every finding it was made from once, and a part of them leaves the rest absent.
    text = write_baseline(entries_of(found))
    lines = text.split("\n")
    assert lines[0] == "tarnwick-baseline 1" and lines[-1] == "" and lines[1:-1] == sorted(lines[1:-1])
    taken = data.draw(st.sets(st.sampled_from(range(len(found))))) if found else set()
    part = [f for i, f in enumerate(found) if i in taken]
    rest = [f for i, f in enumerate(found) if i not in taken]
    matcher = Matcher(read_baseline(text.encode(), "b"))
    assert all(matcher.match(key, identity) is not None for key, identity in part)
    assert sum(e.count - e.used for e in matcher.absent()) == len(rest)
    assert all(matcher.match(key, identity) is not None for key, identity in rest)
    assert matcher.absent() == [] and all(matcher.match(key, identity) is None for key, identity in found)


@pytest.mark.parametrize(("text", "message"), [
    (b"", 'b:1: not a baseline file of this version: expected "tarnwick-baseline 1" as the first line'),
    (b"suppress:x\n", 'b:1: not a baseline file of this version: expected "tarnwick-baseline 1" as the first line'),
    (b"tarnwick-baseline 1\n# ok\n\na\tb\tc\n", "b:4: expected 4 fields separated by tabs, found 3"),
    (b"tarnwick-baseline 1\na\tb\tc\tcount:x\n", "b:2: count:N needs a whole number N of findings"),
    (b"tarnwick-baseline 1\na\tb\tc\t\n", "b:2: the fourth field (the identity) is empty"),
    (b"tarnwick-baseline 1\na\\x\tb\tc\td\n", "b:2: unknown escape '\\\\x'"),
    (b"tarnwick-baseline 1\n\xff", "b: not UTF-8 (byte 20)"),
])
def test_a_bad_baseline_file_is_exit_2(tmp_path, text, message):
    (tmp_path / "b").write_bytes(text)
    log = b'{"version": "2.1.0", "runs": []}'
    run = tarnwick("sarif", "--baseline", "b", cwd=tmp_path, stdin=log)
    assert (run.returncode, run.stdout, run.stderr.decode()) == (2, b"", f"tarnwick sarif: error: {message}\n")
    run = tarnwick("baseline", "--prune", "b", cwd=tmp_path, stdin=log)
    assert (run.returncode, run.stderr.decode(), (tmp_path / "b").read_bytes()) == (2, f"tarnwick baseline: error: {message}\n", text)


def test_a_renamed_file_keeps_its_findings_with_git(tmp_path):
    pytest.importorskip("ruff")
    if shutil.which("git") is None:
        pytest.skip("git is not installed")
    project = tmp_path / "project"
    shutil.copytree(SARIF / "project", project)
    logs = scan(project)
    assert tarnwick("baseline", *logs, "-o", "lint-baseline.txt", cwd=project).returncode == 0
    gate = ["sarif", *logs, "--baseline", "lint-baseline.txt", "--fail-on", "note", "--unused", "error", "-q"]

    def git(*args):
        subprocess.run(["git", "-c", "user.name=t", "-c", "user.email=t@t", *args], cwd=project, check=True, capture_output=True)

    git("init", "-q")
    git("add", "-A")
    git("commit", "-qm", "baseline")
    git("mv", "app/legacy.py", "app/old_code.py")
    logs = scan(project)
    run = tarnwick(*gate, cwd=project)
    assert (run.returncode, run.stderr) == (0, b""), run.stderr
    # Pruned, the entries move to the new path; committed, they match there without git's help.
    assert tarnwick("baseline", "--prune", "lint-baseline.txt", *logs, cwd=project).returncode == 0
    assert "app/old_code.py" in (project / "lint-baseline.txt").read_text(encoding="utf-8")
    git("commit", "-qam", "renamed")
    assert tarnwick(*gate, cwd=project).returncode == 0
    # Without git (the same tree, no repository), the renamed file's findings are new.
    git("mv", "app/old_code.py", "app/older.py")
    logs = scan(project)
    shutil.rmtree(project / ".git")
    run = tarnwick(*gate, cwd=project)
    assert run.returncode == 1 and b"app/older.py" in run.stderr


def test_identities_read_only_regular_files_under_the_root(tmp_path):
    (tmp_path / "root").mkdir()
    (tmp_path / "root" / "a.py").write_text("x = 1\n  x  =  1\ny = 2\n", encoding="utf-8")
    (tmp_path / "outside.py").write_text("x = 1\n", encoding="utf-8")
    if hasattr(os, "mkfifo"):
        os.mkfifo(tmp_path / "root" / "pipe.py")  # opening it for reading would wait for a writer
    ids = Identities(str(tmp_path / "root"))

    def of(path, line, **more):
        region = {"startLine": line} if line else {}
        r = {"locations": [{"physicalLocation": {"artifactLocation": {"uri": path}, "region": region}}], **more}
        return ids.of(r, ("t", path, "R"))

    first, second = of("a.py", 1), of("a.py", 2)  # the same text but for blanks: told apart by occurrence
    assert first.startswith("line:") and first[:-1] == second[:-1] and (first[-1], second[-1]) == ("0", "1")
    assert of("a.py", 3) != first
    assert [of(p, n) for p, n in [("../outside.py", 1), (str(tmp_path / "outside.py"), 1), ("pipe.py", 1),
                                  ("a.py", 4), ("a.py", None), ("missing.py", 1), ("file:///a.py", 1)]] == [None] * 7
    assert of("a.py", 1, partialFingerprints={"b/v1": "2", "a/v1": "1"}) == "fingerprint:a/v1=1"
    assert of("a.py", 1, fingerprints={"k": "v"}, partialFingerprints={"a": "1"}) == "fingerprint:k=v"
