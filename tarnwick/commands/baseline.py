"""``tarnwick baseline``: record every finding of SARIF logs in a baseline file, or prune one."""

from __future__ import annotations

import argparse
import sys
from collections import Counter
from typing import Any

from tarnwick._command import (
    CommandError,
    add_command,
    add_log_arguments,
    add_output_option,
    large_json,
    log_roots,
    one_line,
    path,
    plural,
    read_input,
    shown_name,
    write_file,
    write_stdout,
)
from tarnwick.commands.sarif import log_error, open_logs
from tarnwick.sarif import SarifError
from tarnwick.sarif.baseline import (
    Baseline,
    BaselineError,
    Entry,
    Matcher,
    entries_of,
    is_baseline_file,
    make_baseline,
    read_baseline,
    write_baseline,
)
from tarnwick.sarif.identity import Identities
from tarnwick.sarif.renames import renamed_files
from tarnwick.sarif.stream import LogError, findings_stream, identified_stream


def register(subparsers: Any) -> None:
    p = add_command(
        subparsers,
        "baseline",
        run,
        help="record every finding of SARIF logs in a baseline file, or prune one",
        description="Write a baseline of SARIF 2.1.0 logs for tarnwick sarif --baseline: a first line "
        "naming the format, then one sorted line per finding, TOOL, PATH, RULE and IDENTITY separated by "
        "tabs (IDENTITY from the producer's fingerprints, or from the finding's source line under --root; "
        "count:N for the findings of a tool, path and rule that have neither). Findings are results at "
        "levels other than none, not already suppressed. With --output FILE, what changed against the "
        "FILE it replaces is summed up on stderr. With --prune FILE, the entries of FILE that no finding "
        "of the logs matches are removed, and nothing is added. Exit status: 0; 2 for a bad log or "
        "baseline, or a failure to read or write.",
    )
    add_log_arguments(p)
    add_output_option(p, "the baseline")
    p.add_argument(
        "--prune",
        type=path,
        metavar="FILE",
        help="rewrite baseline FILE without the entries that no finding of the logs matches (or with "
        "lower counts); never adds one",
    )
    p.add_argument(
        "--format",
        choices=("baseline", "directives"),
        default="baseline",
        help="baseline (the default): the file for --baseline; directives: one "
        "suppress:<TOOL>RULE@PATH=baseline: N findings line per tool, rule and file, for -D @FILE",
    )


def _directives_header(source: str, made: Baseline) -> list[str]:
    counts = f"{plural(made.findings, 'finding')} of {plural(made.tools, 'tool')} in {plural(len(made.lines), 'line')}"
    return [
        f"# Baseline of {one_line(source)}, written by `tarnwick baseline`: {counts}.",
        "# Each line suppresses the findings of one rule of one tool in one file. Apply it with",
        "# `tarnwick sarif -D @THIS_FILE --unused error` and delete the lines it reports as unused.",
    ]


def _directives(args: argparse.Namespace, found: Counter[Any]) -> bytes:
    made = make_baseline(found)
    for (tool, rule, file), count in made.left_out:
        where = "" if file is None else f" in {file!r}"
        print(
            one_line(
                f"{args.command_parser.prog}: warning: {count} finding(s) of rule {rule!r}{where} of tool "
                f"{tool!r} left out: no directive line can name exactly that tool, rule and file"
            ),
            file=sys.stderr,
        )
    source = ", ".join(shown_name(name) for name in args.logs)
    return ("\n".join([*_directives_header(source, made), *made.lines]) + "\n").encode("utf-8")


def _units(entries: list[Entry]) -> Counter[tuple[Any, ...]]:
    return Counter({(e.key, e.identity): e.count for e in entries if e.identity is None}) + Counter(
        (e.key, e.identity) for e in entries if e.identity is not None
    )


def _changes(old: list[Entry], new: list[Entry]) -> str:
    before, after = _units(old), _units(new)
    added, removed = sum((after - before).values()), sum((before - after).values())
    return f"{plural(added, 'finding')} added, {removed:,} removed ({sum(before.values()):,} before, {sum(after.values()):,} now)"


def _previous(name: str) -> list[Entry] | None:
    """The entries of the baseline file that --output replaces, if it is one."""
    try:
        with open(name, "rb") as f:
            data = f.read()
    except OSError:
        return None
    return read_baseline(data, shown_name(name)) if is_baseline_file(data) else None


def _prune(name: str, found: list[Any], root: str) -> tuple[list[Entry], list[Entry]]:
    """The entries of baseline *name* before and after pruning them with these
    findings; an entry matched in a renamed file moves to its new path."""
    old = read_baseline(read_input(name), shown_name(name))
    matcher = Matcher(old, renamed_files(root, name))
    for key, identity in found:
        matcher.match(key, identity)
    kept = [Entry(e.moved_to or e.key, e.identity, e.used) for e in old if e.used]
    moved = [Entry(e.moved_to or e.key, e.identity, e.count) for e in old]  # a move adds and removes nothing
    return moved, kept


def _each(logs: list[Any], read: Any, total: Any) -> Any:
    """What *read* gives for each log, added up in order; a fault names its log."""
    for k, f in enumerate(logs):
        try:
            total += read(f)
        except SarifError as exc:
            raise LogError(str(exc), k) from None
    return total


def _say(args: argparse.Namespace, message: str) -> None:
    print(one_line(f"{args.command_parser.prog}: {message}"), file=sys.stderr)


def run(args: argparse.Namespace) -> int:
    roots = log_roots(args)
    if args.prune is not None and args.format != "baseline":
        raise CommandError("--prune works on baseline files; a directive file is pruned by deleting its lines")
    if args.prune == "-":
        raise CommandError("--prune -: the baseline is rewritten in place, so it must be a file")
    try:
        with large_json(), open_logs(args) as logs:
            if args.format == "directives":
                out = _directives(args, _each(logs, lambda f: findings_stream(f, roots), Counter()))
                found = []
            else:
                identities = Identities(roots[0])
                found = _each(logs, lambda f: identified_stream(f, roots, identities), [])
    except SarifError as exc:
        raise log_error(args, exc) from None
    try:
        if args.prune is not None:
            old, entries = _prune(args.prune, found, roots[0])
            write_file(args.prune if args.output is None else args.output, write_baseline(entries).encode())
            _say(args, f"{shown_name(args.prune)}: {_changes(old, entries)}")
            return 0
        if args.format == "baseline":
            entries = entries_of(found)
            out = write_baseline(entries).encode("utf-8")
            previous = None if args.output is None else _previous(args.output)
    except BaselineError as exc:
        raise CommandError(str(exc)) from None
    if args.output is None:
        write_stdout(out)
        return 0
    write_file(args.output, out)
    if args.format == "baseline":
        name = shown_name(args.output)
        _say(args, f"{name}: " + ("new baseline, " + plural(len(found), "finding") if previous is None else _changes(previous, entries)))
    return 0
