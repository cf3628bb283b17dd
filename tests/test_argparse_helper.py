"""add_directive_option: -D values expanded while argparse parses."""

import argparse
import contextlib
from pathlib import Path

import pytest

from tarnwick import DirectiveError, add_directive_option, expand


@pytest.fixture
def rules(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "rules.txt").write_text("# c\nallow:a\n\ndeny:b=c\n", encoding="utf-8")
    (tmp_path / "bad.txt").write_text("allow:a\n\nallow:@src\n", encoding="utf-8")


def test_files_and_inline_values_interleave(rules):
    parser = argparse.ArgumentParser()
    add_directive_option(parser, "-W", "--rule", dest="rules", actions={"allow", "deny", "x"})
    args = parser.parse_args(["-W", " x : <fn> 1* @ src/* = why ", "--rule", "@rules.txt", "-Wx:2"])
    assert list(map(str, args.rules)) == ["x:<fn>1*@src/*= why ", "allow:a", "deny:b=c", "x:2"]
    # the default is a fresh empty list each time, never the previous result
    assert parser.parse_args([]).rules == []


@pytest.mark.parametrize(("value", "actions", "where"), [
    ("@bad.txt", None, ""), ("@missing.txt", None, ""), ("deny:b", {"allow"}, "<inline>: "),
    ("@rules.txt", set(), "rules.txt:2: "),
])
def test_directive_error_is_a_usage_error(rules, capsys, value, actions, where):
    with pytest.raises(DirectiveError) as expected:
        expand(value, actions=actions)
    parser = argparse.ArgumentParser(prog="lint")
    add_directive_option(parser, actions=actions)
    with pytest.raises(SystemExit) as exit:
        parser.parse_args(["-D", "allow:ok"] * (actions != set()) + ["-D", value])
    assert exit.value.code == 2
    usage, error = capsys.readouterr().err.splitlines()[-2:]
    assert usage.startswith("usage: lint") and error == f"lint: error: {where}{expected.value}"


def test_lint_verbs_in_every_spelling_and_a_policy_with_origins(rules):
    parser = argparse.ArgumentParser(exit_on_error=False)
    add_directive_option(parser, lint=True, policy=True, root="/repo")
    assert parser.parse_args([]).directives.directives == []
    Path("lint.txt").write_text("De-Escalate:E501@src/*\nSUPPRESS:W1\n", encoding="utf-8")
    policy = parser.parse_args(["-D", "@lint.txt", "-D", "note:E501=n"]).directives
    assert policy.fold("error", ["E501"], scopes=["/repo/src/a.py"]) == ("warning", False, ["n"])
    assert [(str(d), origin) for d, origin in policy.unused()] == [("SUPPRESS:W1", ("lint.txt", 2))]
    with pytest.raises(argparse.ArgumentError, match=r'^rules.txt:2: unknown action "allow"; allowed: \["de-escalate"'):
        parser.parse_args(["-D", "@rules.txt"])
    with pytest.raises(ValueError, match="not both"):
        add_directive_option(argparse.ArgumentParser(), actions={"x"}, lint=True)


def test_location_of_a_bad_line(rules):
    parser = argparse.ArgumentParser(exit_on_error=False)
    add_directive_option(parser)
    with pytest.raises(argparse.ArgumentError) as error:
        parser.parse_args(["-D", "@bad.txt"])
    assert str(error.value) == "bad.txt:3: empty name pattern"


@pytest.mark.parametrize(("arg", "outcome"), [  # as Python decodes a host tool's argv (surrogateescape)
    ("allow:caf\udce9", 'argument -D: not valid UTF-8: "allow:caf\\xe9"'),
    ("allow:\x1b[2J\udcff", 'argument -D: not valid UTF-8: "allow:\\u{1b}[2J\\xff"'),
    ("allow:caf\udcc3\udca9", ["allow:café"]),  # UTF-8 that a C locale decoded as ASCII
])
def test_values_that_are_not_utf8(arg, outcome):
    parser = argparse.ArgumentParser(exit_on_error=False)
    add_directive_option(parser)
    with pytest.raises(argparse.ArgumentError) if isinstance(outcome, str) else contextlib.nullcontext() as error:
        assert list(map(str, parser.parse_args(["-D", arg]).directives)) == outcome
    assert error is None or str(error.value) == outcome


def test_sub_command_reports_with_its_own_prog(capsys):
    parser = argparse.ArgumentParser(prog="tool")
    sub = parser.add_subparsers().add_parser("lint")
    add_directive_option(sub)
    assert list(map(str, parser.parse_args(["lint", "-D", "a:b"]).directives)) == ["a:b"]
    with pytest.raises(SystemExit):
        parser.parse_args(["lint", "-D", "a"])
    assert capsys.readouterr().err.endswith("tool lint: error: <inline>: expected `ACTION:…` (no `:` found)\n")


@pytest.mark.parametrize(("prefix", "refused"), [("@", True), ("+@", True), ("+", False), (None, False)])
def test_at_fromfile_prefix_is_refused(prefix, refused):
    parser = argparse.ArgumentParser(fromfile_prefix_chars=prefix)
    with pytest.raises(ValueError, match="fromfile_prefix_chars") if refused else contextlib.nullcontext():
        add_directive_option(parser)
    assert ("-D" in parser._option_string_actions) is not refused
