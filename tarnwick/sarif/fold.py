"""Applying one directive policy to the SARIF 2.1.0 log of any analyser.

Every result of the log is folded with a `Policy` of lint directives, as
`lint_fold` folds it: its names are the rule id and the rule's name, its
qualifier is the tool's driver name, its scopes are the paths of its
locations, and its severity comes from its SARIF level. The policy finds
each result's candidate directives by lookup and remembers which directives
matched a result. The
log is written back whole, with new levels, suppressions for dropped results
and the directive notes under ``properties.tarnwick``. A result that already
carries that record is folded again from the level it records, so applying
the same policy twice gives what applying it once gives.
"""

from __future__ import annotations

import os
from collections.abc import Callable, Iterator
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any
from urllib.parse import quote

from tarnwick._tarnwick import Policy, _directive, _lint_effect
from tarnwick.sarif.log import Obj, SarifError
from tarnwick.sarif.target import (
    LEVEL_OF_SEVERITY,
    RANK,
    SEVERITY_OF_LEVEL,
    Targets,
    _dict,
    _list,
)

Folded = tuple[str, bool, list[str]]  # what a lint fold returns

DEFAULT_JUSTIFICATION = "suppressed by a tarnwick directive"
OWN = "tarnwick"  # the property that marks what tarnwick wrote into a result


def suppressed(result: Obj) -> bool:
    """True when the result carries a suppression in force (not under review, not rejected)."""
    entries = result.get("suppressions")
    return isinstance(entries, list) and any(
        isinstance(s, dict) and s.get("status", s.get("state", "accepted")) == "accepted" for s in entries
    )


def recorded_level(result: Obj) -> str | None:
    """The level that tarnwick's record in the result says it came in with, if it has one."""
    props = result.get("properties")
    record = props.get(OWN) if isinstance(props, dict) else None
    level = record.get("originalLevel") if isinstance(record, dict) else None
    return level if isinstance(level, str) and level in SEVERITY_OF_LEVEL else None


def _remove_own_suppression(result: Obj) -> None:
    entries = result.get("suppressions")
    if not isinstance(entries, list):
        return
    others = [
        s
        for s in entries
        if not (isinstance(s, dict) and isinstance(s.get("properties"), dict) and OWN in s["properties"])
    ]
    if len(others) < len(entries):
        if others:
            result["suppressions"] = others
        else:
            del result["suppressions"]


def mark(result: Obj, level: str, folded: Folded) -> None:
    """Write a fold into the result: new level, notes and original level, suppression.

    The suppression a previous run added is replaced, not added to."""
    new, dropped, notes = folded
    props = _dict(result.setdefault("properties", {}), ".properties")
    props[OWN] = {"originalLevel": level, "notes": list(notes)}
    result["level"] = LEVEL_OF_SEVERITY[new]
    _remove_own_suppression(result)
    if dropped:
        entry = {
            "kind": "external",
            "justification": "; ".join(notes) or DEFAULT_JUSTIFICATION,
            "properties": {OWN: True},
        }
        _list(result.setdefault("suppressions", []), ".suppressions").append(entry)


def unmark(result: Obj, level: str) -> None:
    """Take a previous run's fold out of a result that this run leaves as it came in."""
    result["level"] = level
    props = result["properties"]
    del props[OWN]
    if not props:
        del result["properties"]
    _remove_own_suppression(result)


def reindex(run: Obj, moved: dict[int, int], count: int) -> None:
    """After results were removed from `run`, point every `resultIndex` in it at its result's new place.

    `moved` maps the old index of each kept result to its new one; `count` is
    the old number of results. An array element whose `resultIndex` points at
    a removed result is removed with it; any other such `resultIndex` is
    deleted. Indices that pointed at no result stay as they are. The walk uses
    its own stack, so nesting depth costs memory, not recursion.
    """

    def gone(node: Any) -> bool:
        index = node.get("resultIndex") if isinstance(node, dict) else None
        return type(index) is int and 0 <= index < count and index not in moved

    stack: list[Any] = [value for key, value in run.items() if key != "results"]
    stack += run["results"]
    while stack:
        node = stack.pop()
        if isinstance(node, list):
            node[:] = [item for item in node if not gone(item)]
            stack += node
        elif isinstance(node, dict):
            index = node.get("resultIndex")
            if type(index) is int and 0 <= index < count:
                if index in moved:
                    node["resultIndex"] = moved[index]
                else:
                    del node["resultIndex"]
            stack += node.values()


# ---------------------------------------------------------------- the fold


class Remaining:
    """The results of a run that still count for a gate, as ``(severity, result)``
    pairs appended in order: how many there are of each severity, and the pairs
    themselves, all of them or (``keep`` given) the first `keep` of each
    severity, which is enough to list the first `keep` at or above any level."""

    def __init__(self, keep: int | None = None):
        self.keep = keep
        self.counts = dict.fromkeys(RANK, 0)
        self.kept: list[tuple[int, str, Obj]] = []  # (place among the remaining, severity, result)
        self.last: tuple[str, Obj] | None = None

    def append(self, pair: tuple[str, Obj]) -> None:
        severity, result = pair
        count = self.counts[severity]
        if self.keep is None or count < self.keep:
            self.kept.append((sum(self.counts.values()), severity, result))
        self.counts[severity] = count + 1
        self.last = pair

    def retract(self, result: Obj) -> None:
        """Take back *result* if it is the last one appended (a step after the fold dropped it)."""
        if self.last is None or self.last[1] is not result:
            return
        severity = self.last[0]
        self.counts[severity] -= 1
        if self.kept and self.kept[-1][2] is result:
            self.kept.pop()
        self.last = None

    def __iter__(self) -> Iterator[tuple[str, Obj]]:
        """The pairs kept, in order."""
        return ((severity, result) for _, severity, result in self.kept)

    def count(self, at_or_above: Callable[[str], bool]) -> int:
        return sum(n for severity, n in self.counts.items() if at_or_above(severity))

    def severities(self) -> list[str]:
        """Every severity in order; only one of each that occurs when not all are kept."""
        if self.keep is None:
            return [severity for _, severity, _ in self.kept]
        return [severity for severity, n in self.counts.items() if n]


@dataclass
class RunTally:
    """What the fold did to the results of one run."""

    targets: Targets
    read: int = 0  # every result, level "none" included
    dropped: int = 0
    up: int = 0  # moved towards "error", not dropped
    down: int = 0  # moved towards "info", not dropped
    annotated: int = 0  # only notes added
    remaining: Remaining = field(default_factory=Remaining)  # (severity, result) still counting

    @property
    def tool(self) -> str:
        return self.targets.qualifier


@dataclass
class Fold:
    """What `fold_log` did: a tally per run, and the policy, which knows the directives that matched no result."""

    runs: list[RunTally]
    policy: Policy

    @property
    def severities(self) -> list[str]:
        """The severity of every result that still counts for a gate."""
        return [severity for tally in self.runs for severity in tally.remaining.severities()]


def _count(tally: RunTally, severity: str, folded: Folded) -> None:
    new, dropped, notes = folded
    if dropped:
        tally.dropped += 1
    elif new != severity:
        if RANK[new] < RANK[severity]:
            tally.up += 1
        else:
            tally.down += 1
    elif notes:
        tally.annotated += 1


Read = tuple[str, list[str], list[str]]  # what the fold reads of a result: level, names, scopes


def read_result(result: Obj, targets: Targets) -> Read:
    """The level a result came in with (as tarnwick's record says, if it has
    one), its names and, unless the level is "none", its scopes: read once
    for the fold and the baseline check."""
    level, names = targets.of(result)
    level = recorded_level(result) or level
    return level, names, [] if level == "none" else targets.scopes.of(result)


def fold_result(
    result: Obj,
    targets: Targets,
    policy: Policy,
    tally: RunTally,
    locator: Locator | None = None,
    read: Read | None = None,
) -> bool:
    """Fold one result of a run in place and count it in `tally`; True when it is dropped.

    Results at level "none" pass untouched; results that no directive changes
    keep their JSON as it was, or, folded by an earlier run, go back to the
    level they came in with. An error names the place below the result; the
    caller puts the run and the result in front.
    """
    level, names, scopes = read or read_result(result, targets)
    if level == "none":
        return False
    recorded = "properties" in result and recorded_level(result)
    severity = SEVERITY_OF_LEVEL[level]
    folded = policy.fold(severity, names, qualifier=targets.qualifier, scopes=scopes)
    new, dropped, notes = folded
    if new != severity or dropped or notes:
        mark(result, level, folded)
        _count(tally, severity, folded)
        if dropped and locator is not None:
            locator.locate(result, targets.qualifier, names, scopes)
    elif recorded:
        unmark(result, level)
    if not dropped and not ("suppressions" in result and suppressed(result)):
        tally.remaining.append((new, result))
    return dropped


def origin_location(origin: tuple[str, int]) -> Obj:
    """A SARIF location naming line *origin[1]* of file *origin[0]*."""
    file, line = origin
    uri = Path(file).as_uri() if os.path.isabs(file) else quote(file.replace(os.sep, "/"))
    return {"physicalLocation": {"artifactLocation": {"uri": uri}, "region": {"startLine": line}}}


class Locator:
    """Which `suppress` directive of a policy wrote a suppression: the first
    one that matches the result. A second policy holds each suppress
    directive as a `note` whose text is its position, so that its lookup (not
    a scan) finds the candidates, and the first note of its fold names the
    first match. Without a suppress directive from a file there is nothing to
    name, and no second policy. Both are made when first asked for (a run
    that drops nothing, or whose results `_ResultFolder` folds, needs neither)."""

    def __init__(self, policy: Policy):
        self.source = policy
        self.origins: list[tuple[str, int] | None] | None = None  # built on the first `locate`
        self.policy: Policy | None = None

    def _build(self) -> list[tuple[str, int] | None]:
        self.origins = []
        notes = []
        for d, origin in self.source.directives:
            effect = _lint_effect(d.action)
            if effect is not None and effect[0] == "suppress":
                notes.append(_directive("note", d.kind, d.name, d.path, str(len(self.origins))))
                self.origins.append(None if origin is None else (origin[0], origin[1]))
        self.policy = Policy(notes) if any(self.origins) else None
        return self.origins

    def locate(self, result: Obj, qualifier: str, names: list[str], scopes: list[str]) -> None:
        """Give tarnwick's suppression on a dropped result the `location` of the directive that wrote it."""
        origins = self._build() if self.origins is None else self.origins
        if self.policy is None:
            return
        notes = self.policy.fold("warning", names, qualifier=qualifier, scopes=scopes)[2]
        origin = origins[int(notes[0])] if notes else None
        if origin is None:
            return  # the first match is an inline directive
        location = origin_location(origin)
        for entry in result.get("suppressions", ()):
            if isinstance(entry, dict) and entry.get("properties") == {OWN: True} and "location" not in entry:
                entry["location"] = location


def fold_log(
    log: Obj,
    policy: Policy,
    *,
    roots: list[str],
    remove_dropped: bool = False,
    baseline: Any = None,
) -> Fold:
    """Fold every result of `log` in place with `policy` (see `fold_result`);
    say what was done. The policy remembers which directives matched a result;
    a suppression says which directive file and line wrote it (`Locator`).
    A `baseline` (a `tarnwick.sarif.baseline.BaselineCheck`) then compares each result."""
    fold = Fold([], policy)
    locator = Locator(policy)
    for i, run in enumerate(log["runs"]):
        targets = Targets(run, roots)
        tally = RunTally(targets)
        fold.runs.append(tally)
        results = run.get("results")
        if not results:
            continue
        tally.read = len(results)
        moved: dict[int, int] = {}
        for j, result in enumerate(results):
            try:
                if baseline is not None:
                    baseline.forget(result)
                read = read_result(result, targets)
                dropped = fold_result(result, targets, policy, tally, locator, read)
                if baseline is not None:
                    dropped = baseline.check(result, targets, tally, dropped, read)[0]
            except SarifError as exc:
                raise SarifError(f"runs[{i}].results[{j}]{exc}") from None
            if not (dropped and remove_dropped):
                moved[j] = len(moved)
        if len(moved) < len(results):
            run["results"] = [results[j] for j in moved]
            reindex(run, moved, len(results))
    return fold


def gate(remaining: list[str], fail_on: str | None) -> int:
    """Exit status 1 when a remaining severity is at or above `fail_on`, else 0."""
    if fail_on is None:
        return 0
    limit = RANK[SEVERITY_OF_LEVEL.get(fail_on, fail_on)]
    return int(any(RANK[s] <= limit for s in remaining))
