"""``tarnwick sarif``: apply directives, and a baseline, to SARIF 2.1.0 logs."""

from __future__ import annotations

import argparse
import os
import stat
import sys
from collections.abc import Callable, Iterator
from contextlib import ExitStack, contextmanager
from typing import Any, BinaryIO

from tarnwick._command import (
    CommandError,
    Sourced,
    add_command,
    add_log_arguments,
    add_output_option,
    add_values_option,
    large_json,
    log_roots,
    one_line,
    open_input,
    origin_text,
    path,
    read_input,
    replaced_file,
    shown,
    shown_name,
    sourced_directives,
    split_list,
    usage_error,
    write_file,
    write_stdout,
)
from tarnwick._tarnwick import Policy
from tarnwick._verbs import lint_verb
from tarnwick.sarif import Fold, SarifError, gate
from tarnwick.sarif.baseline import BaselineCheck, BaselineError, Entry, Matcher, is_baseline_file, read_baseline
from tarnwick.sarif.identity import Identities
from tarnwick.sarif.renames import renamed_files
from tarnwick.sarif.stream import LogError, fold_stream
from tarnwick.sarif.summary import annotation_lines, baseline_summary, failure_lines, summary_lines


def register(subparsers: Any) -> None:
    p = add_command(
        subparsers,
        "sarif",
        run,
        help="apply directives to a SARIF 2.1.0 log",
        description="Fold every result of SARIF 2.1.0 logs with lint directives and write the log "
        "to stdout, then a summary to stderr. Names: rule id and rule name; kind: the tool's driver "
        "name; scopes: the result's file paths, relative to --root. With --baseline, findings the "
        "baseline holds are dropped and the others are new. Exit status: 0, or 1 when results "
        "at or above --fail-on remain or, with --unused error, a suppression or a baseline entry "
        "matched no result; 2 for a bad -D value, a bad log or baseline, or a failure to read or write.",
    )
    add_log_arguments(p)
    add_values_option(p, "a lint directive or @FILE (@- for stdin when the log is a file); repeatable")
    p.add_argument(
        "--baseline",
        type=path,
        metavar="FILE",
        help="a baseline file written by tarnwick baseline: the findings it holds are dropped "
        '(justification "baseline"), the others stay; every finding gets its baselineState',
    )
    p.add_argument(
        "--fail-on",
        choices=("error", "warning", "note", "info"),
        help="exit 1 when a result at or above this level remains (info and note are the same)",
    )
    p.add_argument(
        "--unused",
        choices=("ignore", "warn", "error"),
        default="ignore",
        help="report every suppress directive and every baseline entry that matched no result on "
        "stderr (warn), and exit 1 if there is one (error); default: ignore",
    )
    p.add_argument(
        "--unused-verbs",
        type=split_list,
        default=["suppress"],
        metavar="VERB,...",
        help="the lint verbs whose directives --unused reports (default: suppress; "
        "also de-escalate, escalate, note)",
    )
    p.add_argument(
        "--quiet", "-q", action="store_true", help="no summary on stderr; the results that fail the gate are still listed"
    )
    p.add_argument("--silent", action="store_true", help="nothing on stderr but errors; the exit status still tells")
    p.add_argument(
        "--annotations",
        choices=("github",),
        help="also print the results that fail the gate as GitHub Actions workflow commands "
        "(::error file=...::...) on stdout; needs --output",
    )
    add_output_option(p, "the log")
    p.add_argument(
        "--remove-dropped",
        action="store_true",
        help="leave dropped results out of the output instead of marking them suppressed",
    )


# ---------------------------------------------------------------- logs


@contextmanager
def open_logs(args: argparse.Namespace) -> Iterator[list[BinaryIO]]:
    """The LOG files, open and seekable (see `open_input`)."""
    if args.logs.count("-") > 1:
        usage_error(args, "standard input (-) can be read only once")
    with ExitStack() as stack:
        yield [stack.enter_context(open_input(name)) for name in args.logs]


@contextmanager
def _output(args: argparse.Namespace) -> Iterator[Callable[[bytes], None]]:
    """Where the log goes: stdout, or the --output file once it is whole."""
    if args.output is None:
        yield write_stdout
    else:
        with replaced_file(args.output) as write:
            yield write


def log_error(args: argparse.Namespace, exc: SarifError) -> CommandError:
    """*exc* as a `CommandError` naming the log that has it."""
    k = exc.log if isinstance(exc, LogError) else 0
    return CommandError(f"{shown_name(args.logs[k])}: {exc}")


# ---------------------------------------------------------------- the baseline


def load_baseline(args: argparse.Namespace, roots: list[str]) -> BaselineCheck | None:
    if args.baseline is None:
        return None
    name = shown_name(args.baseline)
    try:
        entries = read_baseline(read_input(args.baseline), name)
    except BaselineError as exc:
        raise CommandError(str(exc)) from None
    renamed = renamed_files(roots[0], args.baseline)
    return BaselineCheck(Matcher(entries, renamed), Identities(roots[0]), args.baseline)


def absent_lines(name: str, absent: list[Entry]) -> list[str]:
    """``FILE:LINE: ENTRY: matched no result`` for each baseline entry that matched fewer findings than it holds."""
    lines = []
    for e in absent:
        tool, file, rule = e.key
        entry = f"<{tool}>{rule}" + (f"@{file}" if file is not None else "") + f" {e.identity or ''}".rstrip()
        missing = "matched no result" if e.used == 0 else f"{e.count - e.used} of {e.count} findings matched no result"
        if e.identity is None:
            entry += f" count:{e.count}"
        lines.append(one_line(f"{name}:{e.line}: {entry}: {missing}"))
    return lines


# ---------------------------------------------------------------- the command


def _unused(fold: Fold, verbs: set[str]) -> list[str]:
    """``ORIGIN: DIRECTIVE: matched no result`` for every directive of these verbs that matched no result."""
    return [
        one_line(f"{origin_text(origin)}: {shown(str(d))}: matched no result")
        for d, origin in fold.policy.unused()
        if lint_verb(d.action) in verbs
    ]


def _unused_verbs(args: argparse.Namespace) -> set[str]:
    verbs = {lint_verb(v) for v in args.unused_verbs}
    if not verbs <= {"suppress", "deescalate", "escalate", "note"}:
        usage_error(
            args,
            f"--unused-verbs {', '.join(args.unused_verbs)}: expected lint verbs among "
            "suppress, de-escalate, escalate, note",
        )
    return {v for v in verbs if v is not None}


def _no_baseline_files(args: argparse.Namespace) -> None:
    """A baseline file given as ``-D @FILE`` is a usage error that says how to give it."""
    for value in args.values:
        if value.startswith("@") and value != "@-":
            try:
                if not stat.S_ISREG(os.stat(value[1:]).st_mode):
                    continue  # a pipe (<(...)) is read once, by the expansion
                with open(value[1:], "rb") as f:
                    start = f.read(64)
            except (OSError, ValueError):
                continue  # the expansion reports it
            if is_baseline_file(start):
                usage_error(args, f"-D {value}: a baseline file, not directives: give it as --baseline {value[1:]}")


def run(args: argparse.Namespace) -> int:
    if "-" in args.logs and "@-" in args.values:
        usage_error(
            args,
            "-D @-: standard input already carries the SARIF log; put the directives in a file",
        )
    if args.baseline == "-" and "-" in args.logs:
        usage_error(args, "--baseline -: standard input already carries the SARIF log; give the baseline as a file")
    if args.annotations and args.output is None:
        usage_error(args, "--annotations: the annotations go to stdout, so the log needs --output FILE")
    verbs = _unused_verbs(args)
    _no_baseline_files(args)
    sourced = sourced_directives(args, lint=True)
    roots = log_roots(args)
    baseline = load_baseline(args, roots)
    try:
        with large_json(), open_logs(args) as logs, _output(args) as write:
            fold = fold_stream(
                logs,
                Policy(sourced),
                roots=roots,
                write=write,
                remove_dropped=args.remove_dropped,
                baseline=baseline,
            )
    except SarifError as exc:
        raise log_error(args, exc) from None
    sys.stdout.flush()
    status = gate(fold.severities, args.fail_on)
    unused = [] if args.unused == "ignore" else _unused(fold, verbs)
    if baseline is not None and args.unused != "ignore":
        unused += absent_lines(shown_name(args.baseline), baseline.matcher.absent())
    if unused and args.unused == "error":
        status = 1
    failing = failure_lines(fold, args.fail_on)
    if args.annotations:
        lines = annotation_lines(fold, args.fail_on)
        if lines:
            write_stdout(("\n".join(lines) + "\n").encode("utf-8"))
    report = [] if args.silent else unused + failing
    if not (args.quiet or args.silent):
        report += summary_lines(fold, args.fail_on, len(unused) if args.unused == "error" else 0)
        if baseline is not None:
            report.append(baseline_summary(shown_name(args.baseline), baseline))
    if report:
        print("\n".join(report), file=sys.stderr)
    return status
