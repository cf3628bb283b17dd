"""``tarnwick check``: expand -D values and directive files and print their directives."""

from __future__ import annotations

import argparse
import sys
from typing import Any

from tarnwick._command import (
    add_command,
    add_json_flag,
    add_values_option,
    directive_json,
    expand_values,
    print_json,
    split_list,
)
from tarnwick._text import shown


def register(subparsers: Any) -> None:
    p = add_command(
        subparsers,
        "check",
        run,
        help="expand -D values and directive files and print their directives",
        description="Expand every -D value, then every FILE (read as -D @FILE), and print its "
        "directives in canonical form. Exit status 1 if any fails (each failure is printed on stderr).",
    )
    add_values_option(p, "an inline directive, @FILE or @- (stdin); repeatable")
    p.add_argument("files", nargs="*", metavar="FILE", help="a directive file, checked as -D @FILE")
    p.add_argument(
        "--actions",
        type=lambda arg: frozenset(split_list(arg)),
        metavar="A,B,...",
        help="allowed action tokens, compared exactly (default: any action)",
    )
    add_json_flag(p)


def run(args: argparse.Namespace) -> int:
    values = [*args.values, *(f"@{name}" for name in args.files)]
    results = list(expand_values(values, args.actions))
    ok = all(error is None for _, _, error in results)
    if args.json:
        report = [
            {"value": v, "directives": [directive_json(d, o) for d, o in ds], "error": e}
            for v, ds, e in results
        ]
        print_json({"ok": ok, "values": report})
        return 0 if ok else 1
    for value, directives, error in results:
        if error is not None:
            print(f"-D {shown(value)}: {shown(error)}", file=sys.stderr)
            continue
        print(f"-D {shown(value)}")
        for directive, _ in directives:
            print(f"  {shown(str(directive))}")
        if not directives:
            print("  (no directives)")
    return 0 if ok else 1
