"""Applying one directive policy to the SARIF 2.1.0 log of any analyser.

Every result of the log is folded with `lint_fold`: its names are the rule id
and the rule's name, its qualifier is the tool's driver name, its scopes are
the paths of its locations, and its severity comes from its SARIF level. The
log is written back whole, with new levels, suppressions for dropped results
and the directive notes under ``properties.tarnwick``. A result that already
carries that record is folded again from the level it records, so applying
the same policy twice gives what applying it once gives.
"""

from __future__ import annotations

import os
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any
from urllib.parse import quote

from tarnwick._lint_verbs import lint_verb
from tarnwick._tarnwick import Directive
from tarnwick.sarif.index import Folded, Index, RunIndex
from tarnwick.sarif.log import Obj, SarifError
from tarnwick.sarif.target import (
    LEVEL_OF_SEVERITY,
    RANK,
    SEVERITY_OF_LEVEL,
    Targets,
    _dict,
    _list,
)

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


@dataclass
class RunTally:
    """What the fold did to the results of one run."""

    targets: Targets
    read: int = 0  # every result, level "none" included
    dropped: int = 0
    up: int = 0  # moved towards "error", not dropped
    down: int = 0  # moved towards "info", not dropped
    annotated: int = 0  # only notes added
    remaining: list[tuple[str, Obj]] = field(default_factory=list)  # (severity, result) still counting

    @property
    def tool(self) -> str:
        return self.targets.qualifier


@dataclass
class Fold:
    """What `fold_log` did: a tally per run and the positions of the directives that matched a result."""

    runs: list[RunTally]
    used: set[int]

    @property
    def severities(self) -> list[str]:
        """The severity of every result that still counts for a gate."""
        return [severity for tally in self.runs for severity, _ in tally.remaining]


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


def fold_result(result: Obj, targets: Targets, pick: RunIndex, tally: RunTally) -> bool:
    """Fold one result of a run in place and count it in `tally`; True when it is dropped.

    Results at level "none" pass untouched; results that no directive changes
    keep their JSON as it was, or, folded by an earlier run, go back to the
    level they came in with. An error names the place below the result; the
    caller puts the run and the result in front.
    """
    level, names = targets.of(result)
    recorded = recorded_level(result)
    level = recorded or level
    if level == "none":
        return False
    severity = SEVERITY_OF_LEVEL[level]
    folded = pick.fold(severity, names, targets.scopes.of, result)
    new, dropped, notes = folded
    if new != severity or dropped or notes:
        mark(result, level, folded)
        _count(tally, severity, folded)
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


def locate_suppression(result: Obj, targets: Targets, pick: RunIndex, origins: list[Any]) -> None:
    """Give the suppression that the fold added to a dropped result the
    `location` of the first `suppress` directive that matched it, when that
    directive came from a file (`origins` holds each directive's (file, line) or None)."""
    names, scopes = targets.of(result)[1], targets.scopes.of(result)
    ds = pick.index.directives
    matched = pick.sure(names, scopes) + [k for k in pick.named(names) if pick.path_matches(k, scopes)]
    first = min((k for k in matched if lint_verb(ds[k].action) == "suppress"), default=None)
    if first is None or origins[first] is None:
        return
    for entry in result.get("suppressions", ()):
        if isinstance(entry, dict) and entry.get("properties") == {OWN: True} and "location" not in entry:
            entry["location"] = origin_location(origins[first])


def fold_log(
    log: Obj,
    directives: list[Directive],
    *,
    roots: list[str],
    remove_dropped: bool = False,
    baseline: Any = None,
    origins: list[Any] | None = None,
) -> Fold:
    """Fold every result of `log` in place (see `fold_result`); say what was
    done and which directives matched. With `origins` (each directive's
    (file, line), or None), a suppression says which directive wrote it (see
    `locate_suppression`). A `baseline` (a
    `tarnwick.sarif.baseline.BaselineCheck`) then compares each result."""
    index = Index(directives)
    fold = Fold([], index.used)
    for i, run in enumerate(log["runs"]):
        targets = Targets(run, roots)
        tally = RunTally(targets)
        fold.runs.append(tally)
        results = run.get("results")
        if not results:
            continue
        tally.read = len(results)
        pick = index.for_run(targets.qualifier)
        moved: dict[int, int] = {}
        for j, result in enumerate(results):
            try:
                if baseline is not None:
                    baseline.forget(result)
                dropped = fold_result(result, targets, pick, tally)
                if dropped and origins is not None:
                    locate_suppression(result, targets, pick, origins)
                if baseline is not None:
                    dropped = baseline.check(result, targets, tally, dropped)
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
