"""``tarnwick check``: expand -D values and directive files and print their directives."""

from __future__ import annotations

import argparse
import sys
from typing import Any

from tarnwick._command import (
    CommandError,
    Sourced,
    add_command,
    add_json_flag,
    add_values_option,
    directive_json,
    expand_values,
    print_json,
    read_input,
    shown_name,
    split_list,
)
from tarnwick._verbs import refusal
from tarnwick._text import one_line, shown
from tarnwick.sarif.baseline import BaselineError, is_baseline_file, read_baseline


def register(subparsers: Any) -> None:
    p = add_command(
        subparsers,
        "check",
        run,
        help="expand -D values and directive files and print their directives",
        description="Expand every -D value, then every FILE (read as -D @FILE), and print its "
        "directives in canonical form; a FILE that is a baseline file (written by tarnwick baseline) "
        "is checked as one. Exit status 1 if any fails (each failure is printed on stderr; for a FILE, "
        "the message starts with its name).",
    )
    add_values_option(p, "an inline directive, @FILE or @- (stdin); repeatable")
    p.add_argument("files", nargs="*", metavar="FILE", help="a directive file, checked as -D @FILE")
    p.add_argument(
        "--actions",
        type=lambda arg: frozenset(split_list(arg)),
        metavar="A,B,...",
        help="allowed action tokens, compared exactly (default: any action)",
    )
    p.add_argument(
        "--lint",
        action="store_true",
        help="every action must be a lint verb (suppress, de-escalate, escalate, note, set; any case, "
        "hyphens ignored), as tarnwick sarif requires",
    )
    add_json_flag(p)


def _lint_error(directives: list[Sourced]) -> str | None:
    """The message for the first directive whose action is no lint verb, or None."""
    for d, origin in directives:
        message = refusal(d.action, None, lint=True)
        if message is not None:
            where = "" if origin is None else f"{origin[0]}:{origin[1]}: "
            return f"{where}{message}"
    return None


def _checked(
    value: str, lint: bool, actions: frozenset[str] | None, baselines: dict[str, int]
) -> tuple[str, list[Sourced], str | None]:
    """What `expand_values` gives for one value, checked as a baseline file when it names one
    (its number of entries then goes into *baselines*)."""
    if value.startswith("@") and value != "@-":
        try:
            data = read_input(value[1:])
        except CommandError:  # unreadable: the expansion says so in its own words
            data = b""
        if is_baseline_file(data):
            try:
                baselines[value] = len(read_baseline(data, shown_name(value[1:])))
            except BaselineError as exc:
                return value, [], str(exc)
            return value, [], None
    _, directives, error = next(expand_values([value], actions))
    if error is None and lint:
        error = _lint_error(directives)
    return value, directives, error


def run(args: argparse.Namespace) -> int:
    values = [*args.values, *(f"@{name}" for name in args.files)]
    baselines: dict[str, int] = {}
    results = [_checked(value, args.lint, args.actions, baselines) for value in values]
    files = len(args.values)
    ok = all(error is None for _, _, error in results)
    if args.json:
        report = [
            {"value": v, "directives": [directive_json(d, o) for d, o in ds], "error": e}
            for v, ds, e in results
        ]
        print_json({"ok": ok, "values": report})
        return 0 if ok else 1
    for k, (value, directives, error) in enumerate(results):
        if error is not None:
            if k >= files:  # a FILE: its messages already start with its name
                print(one_line(error if error.startswith(value[1:] + ":") else f"{value[1:]}: {error}"), file=sys.stderr)
            else:
                print(f"-D {shown(value)}: {shown(error)}", file=sys.stderr)
            continue
        print(f"-D {shown(value)}")
        for directive, _ in directives:
            print(f"  {shown(str(directive))}")
        if value in baselines:
            print(f"  (a baseline file of {baselines[value]:,} entries)")
        elif not directives:
            print("  (no directives)")
    return 0 if ok else 1
