"""``tarnwick sarif``: apply directives to a SARIF 2.1.0 log."""

from __future__ import annotations

import argparse
import os
import sys
from typing import Any

from tarnwick._command import (
    CommandError,
    add_command,
    add_values_option,
    directives,
    path,
    usage_error,
)
from tarnwick.sarif import SarifError, dump_log, fold_log, gate, load_log


def register(subparsers: Any) -> None:
    p = add_command(
        subparsers,
        "sarif",
        run,
        help="apply directives to a SARIF 2.1.0 log",
        description="Fold every result of a SARIF 2.1.0 log with lint directives and write the log "
        "to stdout. Names: rule id and rule name; kind: the tool's driver name; scopes: the "
        "result's file paths, relative to --root. Exit status: 0, or 1 when results at or above "
        "--fail-on remain; 2 for a bad -D value, a bad log, or a failure to read or write.",
    )
    p.add_argument(
        "log",
        nargs="?",
        default="-",
        type=path,
        help="the SARIF log to read (default: - for stdin)",
    )
    add_values_option(p, "a lint directive or @FILE (@- for stdin when the log is a file); repeatable")
    p.add_argument(
        "--fail-on",
        choices=("error", "warning", "note", "info"),
        help="exit 1 when a result at or above this level remains (info and note are the same)",
    )
    p.add_argument(
        "--root",
        default=".",
        type=path,
        help="file paths under this directory become relative to it (default: .)",
    )
    p.add_argument(
        "--remove-dropped",
        action="store_true",
        help="leave dropped results out of the output instead of marking them suppressed",
    )


def _read(name: str) -> bytes:
    try:
        if name == "-":
            if sys.stdin is None:
                raise CommandError("<stdin>: standard input is closed")
            return sys.stdin.buffer.read()
        with open(name, "rb") as f:
            return f.read()
    except OSError as exc:
        raise CommandError(f"{_shown_name(name)}: {exc.strerror or exc}") from None


def _shown_name(name: str) -> str:
    return "<stdin>" if name == "-" else os.fsencode(name).decode("utf-8", "backslashreplace")


def run(args: argparse.Namespace) -> int:
    if args.log == "-" and "@-" in args.values:
        usage_error(
            args,
            "-D @-: standard input already carries the SARIF log; put the directives in a file",
        )
    found = directives(args, lint=True)
    root = os.path.abspath(args.root)
    roots = list(dict.fromkeys([root, os.path.realpath(root)]))
    try:
        log = load_log(_read(args.log))
        remaining = fold_log(log, found, roots=roots, remove_dropped=args.remove_dropped)
        out = dump_log(log)
    except SarifError as exc:
        raise CommandError(f"{_shown_name(args.log)}: {exc}") from None
    sys.stdout.buffer.write(out)
    return gate(remaining, args.fail_on)
