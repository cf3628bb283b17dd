"""Types of the compiled module.

A single ``str`` is a ``Sequence[str]`` to a type checker, but the module
refuses it at run time wherever a list of texts is expected (``TypeError``).
"""

from collections.abc import Sequence
from typing import SupportsIndex, final

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

def parse(spec: str, *, actions: set[str] | frozenset[str] | None = None) -> Directive: ...
def glob_match(pattern: str, text: str) -> bool: ...
def _glob_match_as(engine: str, pattern: str, text: str) -> bool | None: ...  # test hook
def expand(value: str, *, actions: set[str] | frozenset[str] | None = None) -> list[Directive]: ...
def expand_sourced(
    value: str, *, actions: set[str] | frozenset[str] | None = None
) -> list[tuple[Directive, tuple[str, int] | None]]: ...
def lint_fold(
    current: str,
    directives: Sequence[Directive],
    names: Sequence[str],
    *,
    qualifier: str | None = None,
    scopes: Sequence[str] | None = None,
) -> tuple[str, bool, list[str]]: ...
def lint_settings(directives: Sequence[Directive]) -> list[tuple[str, str]]: ...

@final
class Directive:
    """One parsed directive; made only by `parse` and `expand`."""

    @property
    def action(self) -> str: ...
    @property
    def kind(self) -> str | None: ...
    @property
    def name(self) -> str: ...
    @property
    def path(self) -> str | None: ...
    @property
    def note(self) -> str | None: ...
    def matches(
        self,
        names: Sequence[str],
        *,
        qualifier: str | None = None,
        scopes: Sequence[str] | None = None,
    ) -> bool: ...

@final
class Ladder:
    def __new__(cls, levels: Sequence[str]) -> Ladder: ...
    @property
    def levels(self) -> list[str]: ...
    def position(self, level: str) -> int | None: ...
    def step(self, level: str, delta: SupportsIndex) -> str: ...
    def fold(
        self,
        current: str,
        directives: Sequence[Directive],
        names: Sequence[str],
        *,
        qualifier: str | None = None,
        scopes: Sequence[str] | None = None,
        steps: dict[str, int] | None = None,
        drop: set[str] | frozenset[str] | None = None,
        notes: bool = True,
    ) -> tuple[str, bool, list[str]]: ...

class DirectiveError(ValueError): ...
