"""The ``tarnwick`` command (also ``python -m tarnwick``).

Commands: ``check`` expands ``-D`` values and prints their directives,
``explain`` shows how directives fold onto one finding, ``glob`` tests a glob.

Exit status: 0 on success; 1 when ``check`` finds a bad ``-D`` value; 2 on a
usage error, which for every command other than ``check`` includes a ``-D``
value that fails to expand. Errors go to stderr.

Each command is registered by a function that takes the subparsers object,
adds the command's parser and binds its run function with :func:`set_command`;
``_COMMANDS`` lists these registrars in the order ``--help`` shows them. The
helpers above ``_COMMANDS`` are shared by commands defined in other modules.
"""

from __future__ import annotations

import argparse
import json
import sys
from collections.abc import Callable, Sequence
from typing import Any, NoReturn

from tarnwick._tarnwick import Directive, DirectiveError, Ladder, expand, glob_match, lint_fold
from tarnwick.argparse_helper import add_directive_option
from tarnwick.sarif import add_parser as _add_sarif

# --- shared helpers ---------------------------------------------------------


def set_command(parser: argparse.ArgumentParser, run: Callable[[argparse.Namespace], int]) -> None:
    """Make *run* the function that ``main`` calls (with the parsed namespace)
    when this sub-parser's command is chosen; its return value is the exit
    status. :func:`usage_error` reports against this parser."""
    parser.set_defaults(run=run, command_parser=parser)


def usage_error(args: argparse.Namespace, message: str) -> NoReturn:
    """Report *message* as a usage error of the running command: usage line and
    ``tarnwick CMD: error: MESSAGE`` on stderr, exit status 2."""
    parser: argparse.ArgumentParser = args.command_parser
    parser.error(message)


def split_list(text: str) -> list[str]:
    """Argparse ``type`` for a comma-separated list: ``"a, b,c"`` -> ``["a", "b", "c"]``
    (items trimmed, empty items dropped)."""
    return [item.strip() for item in text.split(",") if item.strip()]


def action_set(text: str) -> frozenset[str]:
    """Argparse ``type`` for ``--actions a,b,...``: the allowed action tokens.
    An empty text gives the empty set, which allows no action."""
    return frozenset(split_list(text))


def add_values_option(parser: argparse.ArgumentParser, help: str) -> None:
    """A repeatable -D option collecting the raw values in `args.values`, for
    commands that expand them with `expand_values`."""
    parser.add_argument("-D", dest="values", action="append", default=[], metavar="VALUE", help=help)


def add_json_flag(parser: argparse.ArgumentParser) -> None:
    """Add ``--json`` (``args.json``): print one JSON document instead of text."""
    parser.add_argument(
        "--json", action="store_true", help="print one JSON document on stdout instead of text"
    )


def expand_values(
    args: argparse.Namespace,
    values: Sequence[str],
    *,
    actions: set[str] | frozenset[str] | None = None,
) -> list[tuple[str, list[Directive]]]:
    """Expand each ``-D`` value in order into ``(value, directives)`` pairs.

    For ``-D`` values collected raw (``action="append"``) and expanded after
    parsing, e.g. because ``--actions`` may follow them on the command line.
    A ``DirectiveError`` is a usage error (see :func:`usage_error`). To expand
    while parsing instead, use :func:`tarnwick.add_directive_option`.
    """
    try:
        return [(value, expand(value, actions=actions)) for value in values]
    except DirectiveError as exc:
        usage_error(args, str(exc))


def directive_json(directive: Directive) -> dict[str, str | None]:
    """A directive as a JSON-ready object: its canonical ``text`` and its fields."""
    return {
        "text": str(directive),
        "action": directive.action,
        "kind": directive.kind,
        "name": directive.name,
        "path": directive.path,
        "note": directive.note,
    }


def print_json(data: Any) -> None:
    """Write *data* to stdout as indented JSON (non-ASCII kept as is)."""
    json.dump(data, sys.stdout, indent=2, ensure_ascii=False)
    sys.stdout.write("\n")


def _quoted(text: str) -> str:
    return json.dumps(text, ensure_ascii=False)


def _quoted_list(texts: Sequence[str]) -> str:
    return json.dumps(list(texts), ensure_ascii=False)


# --- check ------------------------------------------------------------------


def _add_check(subparsers: Any) -> None:
    p = subparsers.add_parser(
        "check",
        help="expand -D values and print their directives",
        description="Expand every -D value and print its directives in canonical form. "
        "Exit status 1 if any value fails (each failure is printed on stderr).",
    )
    add_values_option(p, "an inline directive, @FILE or @- (stdin); repeatable")
    p.add_argument(
        "--actions",
        type=action_set,
        metavar="A,B,...",
        help="allowed action tokens, compared exactly (default: any action)",
    )
    add_json_flag(p)
    set_command(p, _run_check)


def _run_check(args: argparse.Namespace) -> int:
    results: list[tuple[str, list[Directive], str | None]] = []
    for value in args.values:
        try:
            results.append((value, expand(value, actions=args.actions), None))
        except DirectiveError as exc:
            results.append((value, [], str(exc)))
    ok = all(error is None for _, _, error in results)
    if args.json:
        print_json(
            {
                "ok": ok,
                "values": [
                    {"value": v, "directives": [directive_json(d) for d in ds], "error": e}
                    for v, ds, e in results
                ],
            }
        )
    else:
        for value, directives, error in results:
            if error is not None:
                print(f"-D {value}: {error}", file=sys.stderr)
                continue
            print(f"-D {value}")
            for directive in directives:
                print(f"  {directive}")
            if not directives:
                print("  (no directives)")
    return 0 if ok else 1


# --- explain ----------------------------------------------------------------


def _step(text: str) -> tuple[str, int]:
    verb, _, count = text.rpartition("=")
    try:
        n = int(count)
    except ValueError:
        n = None
    if not verb or n is None or not -(2**31) <= n < 2**31:
        raise argparse.ArgumentTypeError(f"expected VERB=N with N a 32-bit integer, got {_quoted(text)}")
    return verb, n


def _add_explain(subparsers: Any) -> None:
    p = subparsers.add_parser(
        "explain",
        help="show how directives fold onto one finding",
        description="Show, directive by directive, whether it matches the target and why not, "
        "then the folded (level, dropped, notes): by the lint policy (lint_fold), "
        "or with --ladder by your own levels and verbs (Ladder.fold).",
    )
    add_directive_option(p, metavar="VALUE")
    p.add_argument(
        "--severity",
        "--level",
        dest="current",
        required=True,
        metavar="LEVEL",
        help='the current level: "error", "warning" or "info" (any case), or a level of --ladder',
    )
    p.add_argument(
        "--name",
        dest="names",
        action="extend",
        nargs="+",
        required=True,
        metavar="NAME",
        help="the target's names",
    )
    p.add_argument(
        "--kind", dest="qualifier", metavar="KIND", help="the target's kind, compared exactly with <KIND>"
    )
    p.add_argument(
        "--scope",
        dest="scopes",
        action="extend",
        nargs="+",
        default=[],
        metavar="PATH",
        help="the target's scopes",
    )
    p.add_argument(
        "--ladder", type=split_list, metavar="L1,L2,...", help="fold on these levels, most significant first"
    )
    p.add_argument(
        "--step",
        dest="steps",
        action="append",
        type=_step,
        default=[],
        metavar="VERB=N",
        help="with --ladder: VERB moves N rungs (N>0 towards later levels); repeatable, the last one wins",
    )
    p.add_argument(
        "--drop", action="append", default=[], metavar="VERB", help="with --ladder: VERB drops the target"
    )
    add_json_flag(p)
    set_command(p, _run_explain)


def _why_not(d: Directive, names: list[str], qualifier: str | None, scopes: list[str]) -> dict[str, str]:
    reasons = {}
    if d.kind is not None and d.kind != qualifier:
        has = "no --kind" if qualifier is None else f"kind {_quoted(qualifier)}"
        reasons["kind"] = f"wants kind {_quoted(d.kind)}, target has {has}"
    if not any(glob_match(d.name, n) for n in names):
        reasons["name"] = f"{_quoted(d.name)} matches none of the names {_quoted_list(names)}"
    if d.path is not None and not any(glob_match(d.path, s) for s in scopes):
        reasons["path"] = f"{_quoted(d.path)} matches none of the scopes {_quoted_list(scopes)}"
    return reasons


def _describe(effect: dict[str, Any]) -> str:
    parts = []
    if effect["step"]:
        parts.append(f"moves {effect['step']:+d}")
    if effect["drops"]:
        parts.append("drops")
    if effect["note"] is not None:
        parts.append(f"notes {_quoted(effect['note'])}")
    return ", ".join(parts) or "no effect"


def _run_explain(args: argparse.Namespace) -> int:
    if args.ladder is None and (args.steps or args.drop):
        usage_error(args, "--step and --drop need --ladder")
    target: dict[str, Any] = {"qualifier": args.qualifier, "scopes": args.scopes}
    directives: list[Directive] = args.directives
    steps = dict(args.steps)
    drop = set(args.drop)
    if args.ladder is None:
        try:
            result = lint_fold(args.current, directives, args.names, **target)
        except DirectiveError as exc:
            usage_error(args, str(exc))
    else:
        result = Ladder(args.ladder).fold(
            args.current, directives, args.names, steps=steps, drop=drop, **target
        )

    rows: list[dict[str, Any]] = []
    for d in directives:
        matched = d.matches(args.names, **target)
        effect: dict[str, Any] | None = None
        if matched and args.ladder is None:
            # The directive's own contribution, read off a fold of it alone from the middle rung.
            level, dropped, notes = lint_fold("warning", [d], args.names, **target)
            step = {"error": -1, "warning": 0, "info": 1}[level]
            effect = {"step": step, "drops": dropped, "note": notes[0] if notes else None}
        elif matched:
            effect = {"step": steps.get(d.action, 0), "drops": d.action in drop, "note": d.note}
        why_not = {} if matched else _why_not(d, args.names, args.qualifier, args.scopes)
        rows.append(
            {"directive": directive_json(d), "matched": matched, "why_not": why_not, "effect": effect}
        )

    if args.json:
        print_json(
            {
                "mode": "lint" if args.ladder is None else "ladder",
                "ladder": args.ladder,
                "current": args.current,
                "names": args.names,
                "qualifier": args.qualifier,
                "scopes": args.scopes,
                "directives": rows,
                "result": list(result),
            }
        )
        return 0
    for row in rows:
        print(f"{'match' if row['matched'] else 'no match'}: {row['directive']['text']}")
        if row["effect"] is not None:
            print(f"  {_describe(row['effect'])}")
        for part, reason in row["why_not"].items():
            print(f"  {part}: {reason}")
    print(f"folded: {result!r}")
    return 0


# --- glob -------------------------------------------------------------------


def _add_glob(subparsers: Any) -> None:
    p = subparsers.add_parser(
        "glob",
        help="test a glob against texts",
        description="Print each TEXT with whether PATTERN matches it in full "
        "(byte-wise, case-sensitive; * crosses /). Put -- before texts that start with -.",
    )
    p.add_argument("pattern", metavar="PATTERN")
    p.add_argument("texts", nargs="+", metavar="TEXT")
    add_json_flag(p)
    set_command(p, _run_glob)


def _run_glob(args: argparse.Namespace) -> int:
    results = [(text, glob_match(args.pattern, text)) for text in args.texts]
    if args.json:
        print_json({"pattern": args.pattern, "texts": [{"text": t, "matches": m} for t, m in results]})
    else:
        for text, matches in results:
            print(f"{'match   ' if matches else 'no match'}  {text}")
    return 0


# --- entry point --------------------------------------------------------------

_COMMANDS: tuple[Callable[[Any], None], ...] = (_add_check, _add_explain, _add_glob, _add_sarif)

_EPILOG = """\
exit status:
  0  success
  1  check: a -D value failed to expand (its message is on stderr)
  2  usage error, including a bad -D value for every command but check
"""


def build_parser() -> argparse.ArgumentParser:
    """The ``tarnwick`` parser with every command of ``_COMMANDS``."""
    parser = argparse.ArgumentParser(
        prog="tarnwick",
        description="Check, explain and test ACTION:[<KIND>]NAME[@PATH][=NOTE] directives.",
        epilog=_EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    subparsers = parser.add_subparsers(title="commands", dest="command", required=True, metavar="COMMAND")
    for register in _COMMANDS:
        register(subparsers)
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    """Run the ``tarnwick`` command line; returns the exit status."""
    args = build_parser().parse_args(argv)
    status: int = args.run(args)
    return status
