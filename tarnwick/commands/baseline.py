"""``tarnwick baseline``: write a directive file that suppresses every finding of a SARIF log."""

from __future__ import annotations

import argparse
import sys
from typing import Any

from tarnwick._command import (
    CommandError,
    add_command,
    add_log_arguments,
    large_json,
    log_roots,
    one_line,
    open_input,
    plural,
    shown_name,
    write_stdout,
)
from tarnwick.sarif import SarifError
from tarnwick.sarif.baseline import Baseline, make_baseline
from tarnwick.sarif.stream import findings_stream


def register(subparsers: Any) -> None:
    p = add_command(
        subparsers,
        "baseline",
        run,
        help="write a directive file that suppresses every finding of a SARIF log",
        description="Write to stdout one suppress:<TOOL>RULE@PATH=baseline: N findings line for each "
        "tool, rule and file with findings in a SARIF 2.1.0 log (levels other than none, not already "
        "suppressed), sorted by tool, path and rule. Paths are read as by tarnwick sarif. "
        "Exit status: 0; 2 for a bad log or a failure to read or write.",
    )
    add_log_arguments(p)


def _header(source: str, made: Baseline) -> list[str]:
    counts = f"{plural(made.findings, 'finding')} of {plural(made.tools, 'tool')} in {plural(len(made.lines), 'line')}"
    return [
        f"# Baseline of {one_line(source)}, written by `tarnwick baseline`: {counts}.",
        "# Each line suppresses the findings of one rule of one tool in one file. Apply it with",
        "# `tarnwick sarif -D @THIS_FILE --unused error` and delete the lines it reports as unused.",
    ]


def run(args: argparse.Namespace) -> int:
    roots = log_roots(args)
    source = shown_name(args.log)
    try:
        with large_json(), open_input(args.log) as log:
            found = findings_stream(log, roots)
    except SarifError as exc:
        raise CommandError(f"{source}: {exc}") from None
    made = make_baseline(found)
    out = "\n".join([*_header(source, made), *made.lines]) + "\n"
    write_stdout(out.encode("utf-8"))
    for (tool, rule, file), count in made.left_out:
        where = "" if file is None else f" in {file!r}"
        print(
            one_line(
                f"{args.command_parser.prog}: warning: {count} finding(s) of rule {rule!r}{where} of tool "
                f"{tool!r} left out: no directive line can name exactly that tool, rule and file"
            ),
            file=sys.stderr,
        )
    return 0
