"""Types of the compiled module.

A single ``str`` is a ``Sequence[str]`` to a type checker, but the module
refuses it at run time wherever a list of texts is expected (``TypeError``).
"""

from collections.abc import Callable, Sequence
from typing import SupportsIndex, final

_Origin = tuple[str, int] | None  # (file, line) of a directive read from @file or @-; None inline

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
) -> list[tuple[Directive, _Origin]]: ...
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

@final
class Policy:
    def __new__(
        cls,
        directives: Sequence[Directive | tuple[Directive, _Origin]],
        *,
        ladder: Ladder | None = None,
        steps: dict[str, int] | None = None,
        drop: set[str] | frozenset[str] | None = None,
        root: str | None = None,
    ) -> Policy: ...
    @classmethod
    def from_values(
        cls,
        values: Sequence[str],
        *,
        actions: set[str] | frozenset[str] | None = None,
        ladder: Ladder | None = None,
        steps: dict[str, int] | None = None,
        drop: set[str] | frozenset[str] | None = None,
        root: str | None = None,
    ) -> Policy: ...
    @property
    def directives(self) -> list[tuple[Directive, _Origin]]: ...
    def fold(
        self,
        current: str,
        names: Sequence[str],
        *,
        qualifier: str | None = None,
        scopes: Sequence[str] | None = None,
        notes: bool = True,
    ) -> tuple[str, bool, list[str]]: ...
    def settings(
        self, *, qualifier: str | None = None, scopes: Sequence[str] | None = None
    ) -> list[tuple[str, str]]: ...
    def unused(self) -> list[tuple[Directive, _Origin]]: ...

# Private helpers of the package.
def _lint_effect(action: str) -> tuple[str, int, bool] | None: ...
def _quoted(text: str) -> str: ...
def _literal(pattern: str) -> str | None: ...
def _scope_path(path: str, roots: Sequence[str]) -> str: ...
def _trimmed(text: str) -> str: ...
def _policy(
    directives: Sequence[tuple[Directive, _Origin]],
    ladder: Ladder | None,
    steps: dict[str, int] | None,
    drop: frozenset[str] | None,
    root: str | None,
) -> Policy: ...
def _directive(action: str, kind: str | None, name: str, path: str | None, note: str | None) -> Directive: ...
def _ladder(levels: Sequence[str]) -> Ladder: ...
def _directive_error(*args: object) -> DirectiveError: ...

@final
class _JsonScanner:
    """Private: the SARIF reader's scanner (checks JSON fed in chunks, reports value spans)."""

    def __new__(cls, report_depth: int) -> _JsonScanner: ...
    def feed(self, data: bytes, /) -> list[tuple[int, int, int, int, int, int, int, bool]]: ...
    def finish(self, /) -> list[tuple[int, int, int, int, int, int, int, bool]]: ...

@final
class _ResultFolder:
    """Private: the SARIF reader's fold of results of the common shape, without building them."""

    def __new__(
        cls,
        policy: Policy,
        qualifier: str,
        names: Callable[[str, int | None], tuple[tuple[str, ...], str]],
        scope: Callable[[str | None, str | None, int | None], tuple[str, ...]],
        tail: Callable[[str, str, bool, list[str]], bytes],
        location: Callable[[str], tuple[bytes, bytes]] | None,
    ) -> _ResultFolder: ...
    def fold(
        self, data: bytes, elements: list[tuple[int, int, int, bool]], start: int, keeping: int
    ) -> tuple[int, bytes, tuple[int, int, int, int, int, int, int]]: ...
