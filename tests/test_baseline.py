"""Baselines: each line names exactly its tool, rule and file; with real ruff, the ratchet from end to end."""

import json
import shutil
import subprocess
import tempfile
from pathlib import Path
from urllib.parse import quote

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from helpers import RUFF, tarnwick
from tarnwick import expand, sarif
from tarnwick.sarif.baseline import findings, make_baseline

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
    fold = sarif.fold_log(log, directives, roots=["/root"])
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
