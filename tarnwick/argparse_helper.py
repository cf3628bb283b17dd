"""A ``-D`` option for argparse-based host tools.

``add_directive_option(parser)`` adds an option that takes one ``-D`` value
per use (an inline directive, ``@file`` or ``@-`` for standard input),
expands it with :func:`tarnwick.expand_sourced` while the command line is
parsed and appends the directives, in command-line order, to one list on the
namespace (or, with ``policy=True``, keeps them with their origins in one
:class:`tarnwick.Policy`). A value that fails to expand, or a directive whose
action is refused, is reported like any other argparse usage error: usage
line, ``prog: error: <message>`` on stderr, exit status 2, the message as
``DirectiveError`` carries it, after the directive's origin when the module's
message does not name it (``rules.txt:3: unknown action "x"; ...``,
``<inline>: ...``). A value whose bytes are not UTF-8 is a usage error
naming the option: ``argument -D: not valid UTF-8: "caf\\xe9"``.
"""

from __future__ import annotations

import argparse
from collections.abc import Sequence
from typing import Any

from tarnwick._tarnwick import DirectiveError, Policy, expand_sourced
from tarnwick._verbs import refusal
from tarnwick._text import utf8_argument

__all__ = ["add_directive_option"]


def _origin_text(origin: tuple[str, int] | None) -> str:
    return "<inline>" if origin is None else f"{origin[0]}:{origin[1]}"


class _DirectiveAction(argparse.Action):
    def __init__(
        self,
        option_strings: Sequence[str],
        dest: str,
        *,
        allowed: set[str] | frozenset[str] | None = None,
        lint: bool = False,
        policy: bool = False,
        root: str | None = None,
        **kwargs: Any,
    ) -> None:
        super().__init__(option_strings, dest, **kwargs)
        self.allowed, self.lint, self.policy, self.root = allowed, lint, policy, root

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
            found = expand_sourced(value)
        except DirectiveError as exc:
            # No argument name: the message stays exactly as the module words it.
            raise argparse.ArgumentError(None, str(exc)) from exc
        for d, origin in found:  # after the whole value parsed: a parse error comes first
            if (refused := refusal(d.action, self.allowed, lint=self.lint)) is not None:
                raise argparse.ArgumentError(None, f"{_origin_text(origin)}: {refused}")
        collected = getattr(namespace, self.dest, None)
        if self.policy:
            before = collected.directives if isinstance(collected, Policy) else []
            setattr(namespace, self.dest, Policy([*before, *found], root=self.root))
        else:  # a new list each time, so the default list is never mutated
            setattr(namespace, self.dest, [*(collected or []), *(d for d, _ in found)])


def add_directive_option(
    parser: argparse.ArgumentParser,
    *flags: str,
    dest: str = "directives",
    actions: set[str] | frozenset[str] | None = None,
    lint: bool = False,
    policy: bool = False,
    root: str | None = None,
    metavar: str = "DIRECTIVE",
    help: str | None = None,
) -> argparse.Action:
    """Add a repeatable directive option (``-D`` unless *flags* are given).

    Each value is expanded with ``expand_sourced(value)``; a directive whose
    action is not in *actions* (when given), or with *lint* is not a lint verb
    in a spelling the folds accept, is refused. The directives of all values
    are collected in order into ``namespace.<dest>``: a list (empty when the
    option is not used), or with *policy* a ``Policy`` that keeps each
    directive's origin and reads paths relative to *root*. A
    ``DirectiveError`` becomes an argparse usage error (exit status 2)
    carrying the module's message, after the origin it comes from.

    Raises ``ValueError`` if both *actions* and *lint* are given, or if the
    parser's ``fromfile_prefix_chars`` contains ``@``: argparse would then
    replace ``-D @rules.txt`` by the file's lines itself, one argument per
    line with comments and blank lines included, before this option ever saw
    the ``@file`` reference.
    """
    if actions is not None and lint:
        raise ValueError("add_directive_option: give actions= or lint=True, not both")
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
        lint=lint,
        policy=policy,
        root=root,
        default=Policy([], root=root) if policy else [],
        metavar=metavar,
        help=help,
    )
