"""Directives for command-line tools and linters.

A directive is one line ``ACTION:[<KIND>]NAME[@PATH][=NOTE]``. This package
parses directives, matches them against targets with its own glob matcher,
folds matching directives onto a finding's severity (or onto any ladder of
levels you define) and collects ``set:KEY=VALUE`` settings.
"""

from tarnwick._tarnwick import (
    Directive,
    DirectiveError,
    Ladder,
    expand,
    glob_match,
    lint_fold,
    lint_settings,
    parse,
)

__all__ = [
    "parse",
    "glob_match",
    "expand",
    "lint_fold",
    "lint_settings",
    "Directive",
    "Ladder",
    "DirectiveError",
]
