"""A ``-D`` option for argparse-based host tools.

``add_directive_option(parser)`` adds an option that takes one ``-D`` value
per use (an inline directive, ``@file`` or ``@-`` for standard input),
expands it with :func:`tarnwick.expand` while the command line is parsed and
appends the directives, in command-line order, to one list on the namespace.
A value that fails to expand is reported like any other argparse usage
error: usage line, ``prog: error: <message>`` on stderr, exit status 2, the
message exactly as ``DirectiveError`` carries it (so ``rules.txt:3: ...``
for a bad line of a file). A value whose bytes are not UTF-8 is a usage
error naming the option: ``argument -D: not valid UTF-8: "caf\\xe9"``.
"""

from __future__ import annotations

import argparse
from collections.abc import Sequence
from typing import Any

from tarnwick._tarnwick import DirectiveError, expand
from tarnwick._text import utf8_argument

__all__ = ["add_directive_option"]


class _DirectiveAction(argparse.Action):
    def __init__(
        self,
        option_strings: Sequence[str],
        dest: str,
        *,
        allowed: set[str] | frozenset[str] | None = None,
        **kwargs: Any,
    ) -> None:
        super().__init__(option_strings, dest, **kwargs)
        self.allowed = allowed

    def __call__(
        self,
        parser: argparse.ArgumentParser,
        namespace: argparse.Namespace,
        values: str | Sequence[Any] | None,
        option_string: str | None = None,
    ) -> None:
        assert isinstance(values, str)
        try:
            value = utf8_argument(values)
        except ValueError as exc:  # bytes that are not UTF-8 in the host tool's argv
            raise argparse.ArgumentError(self, str(exc)) from None
        try:
            found = expand(value, actions=self.allowed)
        except DirectiveError as exc:
            # No argument name: the message stays exactly as the module words it.
            raise argparse.ArgumentError(None, str(exc)) from exc
        # A new list each time, so the default list is never mutated.
        collected = getattr(namespace, self.dest, None) or []
        setattr(namespace, self.dest, [*collected, *found])


def add_directive_option(
    parser: argparse.ArgumentParser,
    *flags: str,
    dest: str = "directives",
    actions: set[str] | frozenset[str] | None = None,
    metavar: str = "DIRECTIVE",
    help: str | None = None,
) -> argparse.Action:
    """Add a repeatable directive option (``-D`` unless *flags* are given).

    Each value is expanded with ``expand(value, actions=actions)``; the
    directives of all values are collected in order into ``namespace.<dest>``,
    a list (empty when the option is not used). A ``DirectiveError`` becomes
    an argparse usage error (exit status 2) carrying the module's message.

    Raises ``ValueError`` if the parser's ``fromfile_prefix_chars`` contains
    ``@``: argparse would then replace ``-D @rules.txt`` by the file's lines
    itself, one argument per line with comments and blank lines included,
    before this option ever saw the ``@file`` reference.
    """
    if "@" in (parser.fromfile_prefix_chars or ""):
        raise ValueError(
            "add_directive_option: this parser has '@' in fromfile_prefix_chars, "
            "so argparse would expand '-D @file' itself (one argument per line, "
            "comments included); remove '@' from fromfile_prefix_chars"
        )
    if help is None:
        help = (
            "a directive ACTION:[<KIND>]NAME[@PATH][=NOTE], @FILE of directives, or @- for stdin; repeatable"
        )
    return parser.add_argument(
        *(flags or ("-D",)),
        dest=dest,
        action=_DirectiveAction,
        allowed=actions,
        default=[],
        metavar=metavar,
        help=help,
    )
