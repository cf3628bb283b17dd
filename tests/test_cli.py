"""The `tarnwick` command, driven as a subprocess the way a user runs it."""

import json
import shlex
import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

from helpers import tarnwick
from tarnwick import expand, glob_match, lint_fold

RULES = """\
# team policy
suppress:<py>unused-*@tests/*=fixtures

de-escalate:line-too-long=legacy
escalate:*except*
note:*=seen
set:max-line=100
"""


@pytest.fixture
def tool(tmp_path):
    (tmp_path / "rules.txt").write_text(RULES, encoding="utf-8")
    (tmp_path / "bad.txt").write_text("# ok\nnote:x\n\nallow:<>x\n", encoding="utf-8")

    return lambda *args, stdin="": tarnwick(*args, stdin=stdin, cwd=tmp_path, encoding="utf-8")


@pytest.mark.parametrize("command", ["baseline", "check", "explain", "glob", "sarif", None])
def test_help(tool, command):
    run = tool(*[command] if command else [], "--help")
    assert run.returncode == 0 and run.stdout.startswith(f"usage: tarnwick {command or ''}")
    if command is None:  # no command at all is a usage error
        assert (run := tool()).returncode == 2 and "required: COMMAND" in run.stderr


def test_check_prints_directives_with_their_value(tool):
    run = tool("check", "-D", "@rules.txt", "-D", " allow : x ", "-D", "@-", stdin="note:x=\x1b[2J\rhidden\n")
    assert run.returncode == 0 and run.stderr == ""
    assert run.stdout == (
        "-D @rules.txt\n  suppress:<py>unused-*@tests/*=fixtures\n  de-escalate:line-too-long=legacy\n"
        "  escalate:*except*\n  note:*=seen\n  set:max-line=100\n-D  allow : x \n  allow:x\n"
        '-D @-\n  "note:x=\\u{1b}[2J\\rhidden"\n'  # control characters escaped, as in messages
    )


@pytest.mark.parametrize(
    ("args", "stderr"),
    [
        (["-D", "@bad.txt"], "-D @bad.txt: bad.txt:4: empty `<>` kind filter\n"),
        (["-D", "@-"], "-D @-: <stdin>:2: empty name pattern\n"),
        (["-D", "nope", "-D", "note:x"], "-D nope: <inline>: expected `ACTION:…` (no `:` found)\n"),
        (["-D", "@rules.txt", "--actions", "note,suppress"],
         '-D @rules.txt: rules.txt:4: unknown action "de-escalate"; allowed: ["note", "suppress"]\n'),
        (["-D", "x:y", "--actions", ""], '-D x:y: <inline>: unknown action "x"; allowed: []\n'),
    ],
)
def test_check_reports_bad_values_and_exits_1(tool, args, stderr):
    run = tool("check", *args, stdin="a:b\nallow:\n")
    assert (run.returncode, run.stderr) == (1, stderr)
    # the other values are still checked and printed
    assert run.stdout == ("-D note:x\n  note:x\n" if "note:x" in args else "")


def test_check_json(tool):
    run = tool("check", "-D", "deny:<fn>foo*@src/*=legacy API", "-D", "@missing.txt", "rules.txt", "--json")
    assert run.returncode == 1 and run.stderr == ""
    good, bad, from_file = json.loads(run.stdout)["values"]
    assert good["error"] is None and good["directives"] == [{"text": "deny:<fn>foo*@src/*=legacy API", "action": "deny",
                                                              "kind": "fn", "name": "foo*", "path": "src/*",
                                                              "note": "legacy API", "origin": None}]
    assert bad["directives"] == [] and bad["error"].startswith("missing.txt: ")
    # a FILE argument is read as -D @FILE; each directive says where it came from
    assert from_file["value"] == "@rules.txt"
    assert [d["origin"] for d in from_file["directives"]] == [{"file": "rules.txt", "line": n} for n in (2, 4, 5, 6, 7)]


@pytest.mark.parametrize(
    ("args", "message"),
    [
        (["-D", "@bad.txt", "--severity", "info", "--name", "x"], "bad.txt:4: empty `<>` kind filter"),
        (["--severity", "fatal", "--name", "x"], 'unknown severity "fatal"; expected "error", "warning", or "info"'),
        (["--severity", "info", "--name", "x", "--drop", "v"], "--step and --drop need --ladder"),
        (["--severity", "info", "--name", "x", "--ladder", "a", "--step", "v=2147483648"], "argument --step: expected VERB=N"),
        (["--severity", "info"], "the following arguments are required: --name"),
        (["-D", "supress:x", "--severity", "info", "--name", "x"],
         '<inline>: unknown action "supress"; allowed: ["de-escalate"'),
    ],
)
def test_explain_usage_errors_exit_2(tool, args, message):
    run = tool("explain", *args)
    assert run.returncode == 2 and run.stdout == ""
    assert run.stderr.startswith("usage: tarnwick explain") and f"tarnwick explain: error: {message}" in run.stderr


@pytest.mark.parametrize(
    ("severity", "names", "kind", "scopes"),
    [
        ("warning", ["unused-import"], "py", ["tests/a.py"]), ("Warning", ["unused-import"], None, ["tests/a.py"]),
        ("error", ["line-too-long", "bare-except"], None, []), ("info", ["unused-x"], "PY", ["src/x"]),
    ],
)
def test_explain_agrees_with_lint_fold(tool, tmp_path, severity, names, kind, scopes):
    args = ["explain", "-D", "@rules.txt", "--severity", severity, "--name", *names]
    args += ["--kind", kind] if kind else []
    args += ["--scope", *scopes] if scopes else []
    report = json.loads(tool(*args, "--json").stdout)
    directives = expand(f"@{tmp_path / 'rules.txt'}")
    assert tuple(report["result"]) == lint_fold(severity, directives, names, qualifier=kind, scopes=scopes)
    human = tool(*args).stdout
    assert human.splitlines()[-1] == f"folded: {tuple(report['result'])!r}"
    for row, d in zip(report["directives"], directives, strict=True):
        assert row["matched"] == (row["effect"] is not None) == (not row["why_not"])
        if row["matched"]:  # the verb's effect is what lint_fold does with the directive alone
            effect = row["effect"]
            alone = ({-1: "error", 0: "warning", 1: "info"}[effect["step"]], effect["drops"], [d.note] if d.note else [])
            assert lint_fold("warning", [d], names, qualifier=kind, scopes=scopes) == alone
        assert ("action" in row["why_not"]) == (row["directive"]["action"] == "set")
        assert row["directive"]["origin"]["file"] == "rules.txt"
    if kind == "PY":
        why_not = report["directives"][0]["why_not"]
        assert set(why_not) == {"kind", "path"} and why_not["kind"] == 'wants kind "py", target has kind "PY"'
    assert "setting: set:max-line=100\n  from rules.txt:7\n  action: a setting (set:KEY=VALUE); settings never take part" in human


@pytest.mark.parametrize(("pattern", "texts"), [("src/*", ["src/a/b", "Src/a", "src"]), ("[!a]?", ["ab", "bé", "é"])])
def test_glob(tool, pattern, texts):
    verdicts = [glob_match(pattern, t) for t in texts]
    report = json.loads(tool("glob", "--json", pattern, *texts).stdout)
    assert report["texts"] == [{"text": t, "matches": v} for t, v in zip(texts, verdicts)]


def test_console_script():
    script = shutil.which("tarnwick", path=str(Path(sys.executable).parent)) or pytest.skip("no tarnwick script")
    run = subprocess.run([script, "glob", "[!a]?", "abc", "bé", "é"], capture_output=True, text=True)
    assert (run.returncode, run.stdout) == (0, "no match  abc\nno match  bé\nmatch     é\n")


@pytest.mark.parametrize(
    "args",
    [["check", "-D", "@many.txt"], ["check", "-D", "@many.txt", "--json"], ["explain", "-D", "@many.txt",
     "--severity", "info", "--name", "x"], ["glob", "*", "x"], ["sarif", "-D", "note:*=n", "log.sarif"]],
)
def test_output_that_cannot_be_written_is_one_line_and_never_success(tmp_path, args):
    (tmp_path / "many.txt").write_text("note:*=n\n" * 5_000, encoding="utf-8")
    log = {"version": "2.1.0", "runs": [{"tool": {"driver": {"name": "t"}}, "results": [{"ruleId": "x"}] * 5_000}]}
    (tmp_path / "log.sarif").write_text(json.dumps(log), encoding="utf-8")
    command = [sys.executable, "-m", "tarnwick", *args]
    read, write = os.pipe()
    os.close(read)  # the reader has gone before the first write
    with os.fdopen(write, "wb") as closed, open("/dev/full", "wb") as full:
        for stdout, status, message in [(closed, 141, "standard output was closed before all output was written"),
                                        (full, 2, "writing standard output: No space left on device")]:
            run = subprocess.run(command, cwd=tmp_path, stdout=stdout, stderr=subprocess.PIPE, text=True)
            assert (run.returncode, run.stderr) == (status, f"tarnwick {args[0]}: error: {message}\n")


def test_a_reader_that_stops_early_and_a_closed_stderr(tmp_path):
    log = {"version": "2.1.0", "runs": [{"tool": {"driver": {"name": "t"}}, "results": [{"ruleId": "x"}] * 50_000}]}
    (tmp_path / "log.sarif").write_text(json.dumps(log), encoding="utf-8")
    sarif = f"{shlex.quote(sys.executable)} -m tarnwick sarif log.sarif"
    # a pipe may take part of a large write before its reader goes: still a failure
    cut = subprocess.run(["bash", "-c", sarif + ' | head -c1 >/dev/null; exit "${PIPESTATUS[0]}"'], cwd=tmp_path)
    assert cut.returncode == 141
    # with stderr closed, the summary must not end up in the log on stdout
    run = subprocess.run(["bash", "-c", sarif + " 2>&-"], cwd=tmp_path, capture_output=True)
    assert run.returncode == 0 and len(json.loads(run.stdout)["runs"][0]["results"]) == 50_000


@pytest.mark.parametrize(
    ("args", "env", "status", "out"),
    [
        ([b"check", b"-D", b"allow:caf\xe9"], {}, 2, b'argument -D: not valid UTF-8: "allow:caf\\xe9"'),
        ([b"explain", b"--severity", b"info", b"--name", b"\xff"], {}, 2, b'argument --name: not valid UTF-8: "\\xff"'),
        ([b"glob", b"*", b"\xff"], {}, 2, b'argument TEXT: not valid UTF-8: "\\xff"'),
        ([b"sarif", b"--root", b"\xff", b"caf\xe9.sarif"], {}, 2, b"caf\\xe9.sarif: No such file or directory"),
        # control characters are never written raw, argparse's own messages included
        ([b"check", b"a\x1b]0;TITLE\x07\x1b[2J\xff-policy.txt"], {}, 2,
         b'argument FILE: not valid UTF-8: "a\\u{1b}]0;TITLE\\u{7}\\u{1b}[2J\\xff-policy.txt"'),
        ([b"check", b"-\x1b[2Jx\xff-policy.txt"], {}, 2, b"unrecognized arguments: -\\u{1b}[2Jx\\xff-policy.txt"),
        ([b"\x1b[2J"], {}, 2, b"argument COMMAND: invalid choice: "),  # (its quoting varies by version)
        # valid UTF-8 that a C locale decoded as ASCII is taken as the UTF-8 it is
        ([b"check", b"-D", b"allow:caf\xc3\xa9"], {"LC_ALL": "C", "PYTHONUTF8": "0"}, 0, b"  allow:caf\xc3\xa9\n"),
        ([b"glob", b"caf*", "café".encode()], {"LC_ALL": "C", "PYTHONUTF8": "0"}, 0, "match     café".encode()),
    ],
)
def test_arguments_that_are_not_utf8_or_not_printable(tmp_path, args, env, status, out):
    run = tarnwick(*args, cwd=tmp_path, env={**os.environ, **env})
    assert run.returncode == status and out in (run.stdout if status == 0 else run.stderr.splitlines()[-1])
    assert b"\x1b" not in run.stdout + run.stderr
