"""Directives for command-line tools and linters.

A directive is one line ``ACTION:[<KIND>]NAME[@PATH][=NOTE]``. This package
parses directives, matches them against targets with its own glob matcher,
folds matching directives onto a finding's severity (or onto any ladder of
levels you define) and collects ``set:KEY=VALUE`` settings.

``Policy`` compiles directives with their origins once for the many
findings of a tool: folds, settings per kind and path, paths read relative to
a root, and the directives that matched nothing. ``add_directive_option``
adds a ``-D`` option to an argparse parser; the ``tarnwick`` command
(``python -m tarnwick``) checks and explains directives.
"""

from tarnwick._tarnwick import (
    Directive,
    DirectiveError,
    Ladder,
    Policy,
    expand,
    expand_sourced,
    glob_match,
    lint_fold,
    lint_settings,
    parse,
)
from tarnwick._verbs import lint_verb
from tarnwick.argparse_helper import add_directive_option

__all__ = [
    "parse",
    "glob_match",
    "expand",
    "expand_sourced",
    "lint_fold",
    "lint_settings",
    "Directive",
    "Ladder",
    "DirectiveError",
    "Policy",
    "add_directive_option",
    "lint_verb",
]
