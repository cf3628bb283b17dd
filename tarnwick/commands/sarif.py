"""``tarnwick sarif``: apply directives to a SARIF 2.1.0 log."""

from __future__ import annotations

import argparse
import sys
from typing import Any

from tarnwick._command import (
    CommandError,
    add_command,
    add_log_arguments,
    add_values_option,
    large_json,
    log_roots,
    one_line,
    open_input,
    origin_text,
    shown,
    shown_name,
    sourced_directives,
    usage_error,
    write_stdout,
)
from tarnwick._tarnwick import Policy, _lint_effect
from tarnwick.sarif import Fold, SarifError, gate
from tarnwick.sarif.stream import fold_stream
from tarnwick.sarif.summary import failure_lines, summary_lines


def register(subparsers: Any) -> None:
    p = add_command(
        subparsers,
        "sarif",
        run,
        help="apply directives to a SARIF 2.1.0 log",
        description="Fold every result of a SARIF 2.1.0 log with lint directives and write the log "
        "to stdout, then a summary to stderr. Names: rule id and rule name; kind: the tool's driver "
        "name; scopes: the result's file paths, relative to --root. Exit status: 0, or 1 when results "
        "at or above --fail-on remain or, with --unused error, a directive matched no result; "
        "2 for a bad -D value, a bad log, or a failure to read or write.",
    )
    add_log_arguments(p)
    add_values_option(p, "a lint directive or @FILE (@- for stdin when the log is a file); repeatable")
    p.add_argument(
        "--fail-on",
        choices=("error", "warning", "note", "info"),
        help="exit 1 when a result at or above this level remains (info and note are the same)",
    )
    p.add_argument(
        "--unused",
        choices=("ignore", "warn", "error"),
        default="ignore",
        help="report every lint directive that matched no result on stderr (warn), and exit 1 "
        "if there is one (error); default: ignore",
    )
    p.add_argument("--quiet", "-q", action="store_true", help="no summary on stderr")
    p.add_argument(
        "--remove-dropped",
        action="store_true",
        help="leave dropped results out of the output instead of marking them suppressed",
    )


def _unused(fold: Fold) -> list[str]:
    """``ORIGIN: DIRECTIVE: matched no result`` for every lint directive (not a setting) that matched no result."""
    return [
        one_line(f"{origin_text(origin)}: {shown(str(d))}: matched no result")
        for d, origin in fold.policy.unused()
        if (effect := _lint_effect(d.action)) is None or effect[0] != "set"
    ]


def run(args: argparse.Namespace) -> int:
    if args.log == "-" and "@-" in args.values:
        usage_error(
            args,
            "-D @-: standard input already carries the SARIF log; put the directives in a file",
        )
    sourced = sourced_directives(args, lint=True)
    roots = log_roots(args)
    try:
        with large_json(), open_input(args.log) as log:
            fold = fold_stream(
                log,
                Policy(sourced),
                roots=roots,
                write=write_stdout,
                remove_dropped=args.remove_dropped,
            )
    except SarifError as exc:
        raise CommandError(f"{shown_name(args.log)}: {exc}") from None
    sys.stdout.flush()
    status = gate(fold.severities, args.fail_on)
    unused = [] if args.unused == "ignore" else _unused(fold)
    if unused and args.unused == "error":
        status = 1
    failing_unused = len(unused) if args.unused == "error" else 0
    report = unused + (
        [] if args.quiet else failure_lines(fold, args.fail_on) + summary_lines(fold, args.fail_on, failing_unused)
    )
    if report:
        print("\n".join(report), file=sys.stderr)
    return status
