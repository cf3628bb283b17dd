"""A baseline of a SARIF log: one ``suppress`` directive for each tool, rule and
file that has findings, written so that it matches exactly that tool, rule and
file.

Rule ids and paths become globs that match only themselves: every character
that a glob or the directive parser would read as syntax is escaped with a
backslash, and blanks at either end, which the parser trims, are wrapped in a
brace group without alternatives (``{ }`` matches one blank). The tool becomes
the ``<KIND>``, whose escapes the parser removes.
"""

from __future__ import annotations

from collections import Counter
from dataclasses import dataclass

from tarnwick._tarnwick import _trimmed
from tarnwick._text import plural
from tarnwick.sarif.fold import recorded_level, suppressed
from tarnwick.sarif.log import Obj, SarifError
from tarnwick.sarif.target import Targets

_GLOB_OR_DELIMITER = frozenset("\\*?[]{},@=:<>")
_KIND_DELIMITER = frozenset("\\>=:@<*")

NOTE = "baseline"

Key = tuple[str, str, "str | None"]  # (tool, rule id, path); no path for a result without a location


def glob_literal(text: str) -> str | None:
    """A glob to use as NAME or PATH that matches *text* and nothing else, or
    None when no directive line can hold it (it has a line break)."""
    if "\n" in text:
        return None
    kept = _trimmed(text)  # what the parser keeps: it starts with no blank, so its first match is its place
    start = text.find(kept) if kept else len(text)
    end = start + len(kept)
    middle = "".join("\\" + c if c in _GLOB_OR_DELIMITER else c for c in text[start:end])
    lead, trail = text[:start], text[end:]
    if not middle:  # empty, or blanks only
        return "{" + text + "}"
    return (f"{{{lead}}}" if lead else "") + middle + (f"{{{trail}}}" if trail else "")


def kind_literal(tool: str) -> str | None:
    """*tool* written as the text of a ``<KIND>`` filter, or None when it cannot be:
    the parser trims the kind before removing escapes, so a kind cannot be
    empty or end in a blank, and no line holds a line break."""
    if not tool or not _trimmed(tool[-1]) or "\n" in tool:
        return None
    escaped = "".join("\\" + c if c in _KIND_DELIMITER else c for c in tool)
    return "\\" + escaped if not _trimmed(tool[0]) else escaped


def baseline_line(key: Key, count: int) -> str | None:
    """The directive that suppresses the findings of *key*, or None when it cannot be written."""
    tool, rule, path = key
    kind, name = kind_literal(tool), glob_literal(rule)
    where = "" if path is None else glob_literal(path)
    if kind is None or name is None or where is None:
        return None
    where = "" if path is None else "@" + where
    return f"suppress:<{kind}>{name}{where}={NOTE}: {plural(count, 'finding')}"


def findings(log: Obj, roots: list[str]) -> Counter[Key]:
    """The findings of *log* that count, by (tool, rule id, path of the first location).

    A finding counts at a level other than "none" and without a suppression in force."""
    found: Counter[Key] = Counter()
    for i, run in enumerate(log["runs"]):
        targets = Targets(run, roots)
        for j, result in enumerate(run.get("results") or ()):
            try:
                key = finding_key(result, targets)
            except SarifError as exc:
                raise SarifError(f"runs[{i}].results[{j}]{exc}") from None
            if key is not None:
                found[key] += 1
    return found


def finding_key(result: Obj, targets: Targets) -> Key | None:
    """The key of one result of a run, or None when it does not count (see `findings`)."""
    level, names = targets.of(result)
    if (recorded_level(result) or level) == "none" or suppressed(result):
        return None
    scopes = targets.scopes.of(result)
    return targets.qualifier, names[0], scopes[0] if scopes else None


@dataclass
class Baseline:
    lines: list[str]  # one directive per key, sorted by tool, path and rule
    findings: int  # in the lines
    tools: int  # with lines
    left_out: list[tuple[Key, int]]  # what no directive line can name exactly


def make_baseline(found: Counter[Key]) -> Baseline:
    lines, left_out, tools, count = [], [], set(), 0
    for key in sorted(found, key=lambda k: (k[0], k[2] is not None, k[2] or "", k[1])):
        line = baseline_line(key, found[key])
        if line is None:
            left_out.append((key, found[key]))
            continue
        lines.append(line)
        tools.add(key[0])
        count += found[key]
    return Baseline(lines, count, len(tools), left_out)
