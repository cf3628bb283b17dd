"""The ``tarnwick`` command (also ``python -m tarnwick``).

Commands: ``baseline`` writes directives that suppress every finding of a
SARIF log, ``check`` expands ``-D`` values and prints their directives,
``explain`` shows how directives fold onto one finding, ``glob`` tests a glob,
``sarif`` applies directives to a SARIF log. Each lives in its own module of
``tarnwick.commands`` and is listed in ``COMMANDS``; what they share, and the
exit path that turns expected failures into one line on stderr, is in
``tarnwick._command``.
"""

from __future__ import annotations

import argparse
from collections.abc import Callable, Sequence
from typing import Any

from tarnwick._command import CommandParser, QuotingParser, run_command, use_utf8_streams
from tarnwick.commands import baseline, check, explain, glob, sarif

# The registrar of each command, in the order --help lists them.
COMMANDS: tuple[Callable[[Any], None], ...] = (
    baseline.register,
    check.register,
    explain.register,
    glob.register,
    sarif.register,
)

_EPILOG = """\
exit status:
  0    success
  1    check: a -D value failed to expand; sarif: a result at or above --fail-on
       remains, or with --unused error a directive or baseline entry matched no result
  2    usage error (including a bad -D value for every command but check, and an
       argument that is not UTF-8), a bad input file, or a failure to read or write
  130  interrupted
  141  standard output was closed before all output was written
"""


def build_parser() -> argparse.ArgumentParser:
    """The ``tarnwick`` parser with every command of ``COMMANDS``."""
    parser = QuotingParser(
        prog="tarnwick",
        description="Check, explain and test ACTION:[<KIND>]NAME[@PATH][=NOTE] directives.",
        epilog=_EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    # Only the commands' parsers check their arguments: the top level passes them on untouched.
    subparsers = parser.add_subparsers(
        title="commands",
        dest="command",
        required=True,
        metavar="COMMAND",
        parser_class=CommandParser,
    )
    parser.add_argument("--version", action=_VersionAction)
    for register in COMMANDS:
        register(subparsers)
    return parser


class _VersionAction(argparse._VersionAction):
    """``--version``, with the version looked up only when asked for:
    importing `importlib.metadata` is about a quarter of the start-up time."""

    def __call__(self, parser: argparse.ArgumentParser, *args: Any) -> None:
        self.version = f"tarnwick {_version()}"
        super().__call__(parser, *args)


def _version() -> str:
    from importlib import metadata

    try:
        return metadata.version("tarnwick")
    except metadata.PackageNotFoundError:  # run from a source tree that was never installed
        return "(version unknown: not installed)"


def main(argv: Sequence[str] | None = None) -> int:
    """Run the ``tarnwick`` command line; returns the exit status."""
    use_utf8_streams()
    args = build_parser().parse_args(argv)
    return run_command(args)
