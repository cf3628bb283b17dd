"""Finding the directives that can match a SARIF result without testing every one.

A directive whose NAME and PATH are literal (no glob syntax once the escapes
are read, as in every line that ``tarnwick baseline`` writes) matches exactly
one name and one path, so it is filed under that pair and looked up. The
others are tested by KIND and NAME once for each distinct rule of a run, and
their PATH is left to the fold. Folding over the candidates gives what folding
over every directive gives: a directive that does not match contributes
nothing, and the combine rule does not depend on order (the notes do, so the
candidates are folded in the order they were given).
"""

from __future__ import annotations

import re
from collections.abc import Callable, Sequence
from typing import Any

from tarnwick._tarnwick import Directive, glob_match, lint_fold

Folded = tuple[str, bool, list[str]]  # what lint_fold returns

_SYNTAX = re.compile(r"[\\*?\[{]")


def _without_groups(pattern: str) -> str | None:
    """*pattern* with every brace group that has no comma replaced by its
    contents (what brace expansion does to it), or None when a group has
    alternatives, holds a ``{``, or is never closed."""
    out: list[str] = []
    i, n = 0, len(pattern)
    while i < n:
        c = pattern[i]
        if c == "\\":
            out.append(pattern[i : i + 2])
            i += 2
        elif c == "{":
            j = i + 1
            while j < n and pattern[j] != "}":
                if pattern[j] in ",{":
                    return None
                j += 2 if pattern[j] == "\\" else 1
            if j >= n:
                return None
            out.append(pattern[i + 1 : j])
            i = j + 1
        else:
            out.append(c)
            i += 1
    return "".join(out)


def literal_text(pattern: str) -> str | None:
    """The only text that glob *pattern* matches, or None when it may match
    others (or when telling would take more than a glance: an unclosed brace).

    Linear in the pattern's length."""
    if not _SYNTAX.search(pattern):
        return pattern
    plain = _without_groups(pattern)
    if plain is None:
        return None
    out: list[str] = []
    i, n = 0, len(plain)
    while i < n:
        c = plain[i]
        if c == "\\":  # escapes the next character; a final one is itself
            out.append(plain[i + 1] if i + 1 < n else c)
            i += 2
        elif c in "*?[":
            return None
        else:
            out.append(c)
            i += 1
    return "".join(out)


class Index:
    """The directives of one fold, filed for lookup: literal ones by (name,
    path), the rest in order. Entries are positions in the directive list;
    `used` collects those that matched a folded result."""

    def __init__(self, directives: Sequence[Directive]):
        self.directives = list(directives)
        self.used: set[int] = set()
        self.kinds = [d.kind for d in self.directives]
        self.exact: dict[tuple[str, str], list[int]] = {}
        self.scanned: list[int] = []
        for i, d in enumerate(self.directives):
            name = literal_text(d.name)
            path = None if d.path is None else literal_text(d.path)
            if name is not None and path is not None:
                self.exact.setdefault((name, path), []).append(i)
            else:
                self.scanned.append(i)

    def for_run(self, qualifier: str) -> RunIndex:
        return RunIndex(self, qualifier)


class RunIndex:
    """The candidates of the results of one run (one tool, so one qualifier)."""

    def __init__(self, index: Index, qualifier: str):
        self.index = index
        self.qualifier = qualifier
        self.by_names: dict[tuple[str, ...], list[int]] = {}
        self.exact: dict[tuple[str, str], list[int]] = {}
        for key, filed in index.exact.items():
            admitted = [i for i in filed if self._admits_kind(i)]
            if admitted:
                self.exact[key] = admitted

    def _admits_kind(self, i: int) -> bool:
        kind = self.index.kinds[i]
        return kind is None or kind == self.qualifier

    def named(self, names: tuple[str, ...]) -> list[int]:
        """The directives not filed by (name, path) whose KIND and NAME admit a
        result with these names; their PATH is still to be tested."""
        found = self.by_names.get(names)
        if found is None:
            ds = self.index.directives
            found = self.by_names[names] = [
                i
                for i in self.index.scanned
                if self._admits_kind(i) and any(glob_match(ds[i].name, n) for n in names)
            ]
        return found

    def sure(self, names: tuple[str, ...], scopes: tuple[str, ...]) -> list[int]:
        """The directives filed under one of these names and one of these
        scopes whose KIND is admitted: each of them matches the result."""
        exact = self.exact
        if not exact:
            return []
        found: list[int] = []
        for name in names:
            for scope in scopes:
                filed = exact.get((name, scope))
                if filed is not None:
                    found += filed
        return found

    def path_matches(self, i: int, scopes: tuple[str, ...]) -> bool:
        path = self.index.directives[i].path
        return path is None or any(glob_match(path, s) for s in scopes)

    def fold(
        self, severity: str, names: tuple[str, ...], scopes_of: Callable[[Any], tuple[str, ...]], result: Any
    ) -> Folded:
        """`lint_fold` of a result of this run over its candidates, in the order
        given (the order of the notes); its scopes, ``scopes_of(result)``, are
        asked for only when a directive could need them. Marks the candidates that match as used."""
        maybe = self.named(names)
        scopes = scopes_of(result) if maybe or self.exact else ()
        sure = self.sure(names, scopes)
        if not (sure or maybe):
            return severity, False, []
        picked = sure + maybe
        if len(picked) > 1:
            picked.sort()
        ds = self.index.directives
        folded = lint_fold(severity, [ds[k] for k in picked], names, qualifier=self.qualifier, scopes=scopes)
        used = self.index.used
        used.update(sure)
        used.update(k for k in maybe if k not in used and self.path_matches(k, scopes))
        return folded
