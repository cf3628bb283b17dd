"""``tarnwick explain``: show how directives fold onto one finding."""

from __future__ import annotations

import argparse
from collections.abc import Sequence
from typing import Any

from tarnwick._command import (
    Origin,
    add_command,
    add_json_flag,
    add_values_option,
    directive_json,
    origin_text,
    print_json,
    quoted,
    shown,
    sourced_directives,
    split_list,
    text,
    usage_error,
)
from tarnwick._tarnwick import Directive, DirectiveError, Ladder, _lint_effect, glob_match, lint_fold

NEVER_FOLDS = "a setting (set:KEY=VALUE); settings never take part in a fold"


def _quoted(value: str | Sequence[str]) -> str:
    """A text, or a list of texts, in the quoted form of the module's messages."""
    return quoted(value) if isinstance(value, str) else "[" + ", ".join(map(quoted, value)) + "]"


def _step(arg: str) -> tuple[str, int]:
    verb, _, count = text(arg).rpartition("=")
    try:
        n = int(count)
    except ValueError:
        n = None
    if not verb or n is None or not -(2**31) <= n < 2**31:
        raise argparse.ArgumentTypeError(f"expected VERB=N with N a 32-bit integer, got {_quoted(arg)}")
    return verb, n


def register(subparsers: Any) -> None:
    p = add_command(
        subparsers,
        "explain",
        run,
        help="show how directives fold onto one finding",
        description="Show, directive by directive, whether it matches the target and why not, "
        "then the folded (level, dropped, notes): by the lint policy (lint_fold), "
        "or with --ladder by your own levels and verbs (Ladder.fold).",
    )
    add_values_option(
        p,
        "an inline directive, @FILE or @- (stdin); repeatable; lint verbs only without --ladder",
    )
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
        "--kind",
        dest="qualifier",
        metavar="KIND",
        help="the target's kind, compared exactly with <KIND>",
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
        "--ladder",
        type=split_list,
        metavar="L1,L2,...",
        help="fold on these levels, most significant first",
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
        "--drop",
        action="append",
        default=[],
        metavar="VERB",
        help="with --ladder: VERB drops the target",
    )
    add_json_flag(p)


def _why_not(d: Directive, names: list[str], qualifier: str | None, scopes: list[str]) -> dict[str, str]:
    reasons = {}
    if d.kind is not None and d.kind != qualifier:
        has = "no --kind" if qualifier is None else f"kind {_quoted(qualifier)}"
        reasons["kind"] = f"wants kind {_quoted(d.kind)}, target has {has}"
    if not any(glob_match(d.name, n) for n in names):
        reasons["name"] = f"{_quoted(d.name)} matches none of the names {_quoted(names)}"
    if d.path is not None and not any(glob_match(d.path, s) for s in scopes):
        reasons["path"] = f"{_quoted(d.path)} matches none of the scopes {_quoted(scopes)}"
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


def _row(args: argparse.Namespace, d: Directive, origin: Origin) -> dict[str, Any]:
    """Whether *d* matches the target, what it does if so, and why not otherwise."""
    target: dict[str, Any] = {"qualifier": args.qualifier, "scopes": args.scopes}
    effect: dict[str, Any] | None = None
    why_not: dict[str, str] = {}
    lint = None if args.ladder is not None else _lint_effect(d.action)
    if lint is not None and lint[0] == "set":
        why_not = {"action": NEVER_FOLDS}
    elif d.matches(args.names, **target):
        if lint is not None:
            _, step, drops = lint
        else:
            step, drops = dict(args.steps).get(d.action, 0), d.action in args.drop
        effect = {"step": step, "drops": drops, "note": d.note}
    else:
        why_not = _why_not(d, args.names, args.qualifier, args.scopes)
    return {
        "directive": directive_json(d, origin),
        "matched": effect is not None,
        "why_not": why_not,
        "effect": effect,
    }


def run(args: argparse.Namespace) -> int:
    if args.ladder is None and (args.steps or args.drop):
        usage_error(args, "--step and --drop need --ladder")
    sourced = sourced_directives(args, lint=args.ladder is None)
    found = [d for d, _ in sourced]
    target: dict[str, Any] = {"qualifier": args.qualifier, "scopes": args.scopes}
    if args.ladder is None:
        try:
            result = lint_fold(args.current, found, args.names, **target)
        except DirectiveError as exc:
            usage_error(args, str(exc))
    else:
        steps, drop = dict(args.steps), set(args.drop)
        result = Ladder(args.ladder).fold(args.current, found, args.names, steps=steps, drop=drop, **target)
    rows = [_row(args, d, origin) for d, origin in sourced]

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
        status = "setting" if "action" in row["why_not"] else "match" if row["matched"] else "no match"
        print(f"{status}: {shown(row['directive']['text'])}")
        if origin := row["directive"]["origin"]:
            print(f"  from {shown(origin_text((origin['file'], origin['line'])))}")
        if row["effect"] is not None:
            print(f"  {_describe(row['effect'])}")
        for part, reason in row["why_not"].items():
            print(f"  {part}: {reason}")
    print(f"folded: {result!r}")
    return 0
