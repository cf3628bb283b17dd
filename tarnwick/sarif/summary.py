"""What ``tarnwick sarif`` says on stderr after the log: the results that fail
the gate, the way compilers print them, and a tally of what the fold did."""

from __future__ import annotations

from typing import Any

from tarnwick._text import one_line, plural
from tarnwick.sarif.fold import Fold, RunTally
from tarnwick.sarif.log import Obj
from tarnwick.sarif.target import LEVEL_OF_SEVERITY, RANK, SEVERITY_OF_LEVEL

SHOWN_FAILURES = 50  # failing results listed one a line; the rest are counted


def _at_or_above(severity: str, fail_on: str | None) -> bool:
    return fail_on is None or RANK[severity] <= RANK[SEVERITY_OF_LEVEL.get(fail_on, fail_on)]


def _int(value: Any) -> int | None:
    return value if type(value) is int else None


def _where(tally: RunTally, result: Obj) -> str:
    """``path:line:col`` of the result's first location, as much of it as the log gives."""
    scopes = tally.targets.scopes.of(result)
    if not scopes:
        return "<no location>"
    first = result["locations"][0] if isinstance(result.get("locations"), list) else None
    physical = first.get("physicalLocation") if isinstance(first, dict) else None
    region = physical.get("region") if isinstance(physical, dict) else None
    region = region if isinstance(region, dict) else {}
    line, column = _int(region.get("startLine")), _int(region.get("startColumn"))
    where = scopes[0]
    if line is not None:
        where += f":{line}" + (f":{column}" if column is not None else "")
    return where


def _message(result: Obj) -> str:
    message = result.get("message")
    text = message.get("text", message.get("id")) if isinstance(message, dict) else None
    return text if isinstance(text, str) else ""


def _failing(fold: Fold, fail_on: str | None) -> list[tuple[RunTally, str, Obj]]:
    if fail_on is None:
        return []
    return [
        (tally, severity, result)
        for tally in fold.runs
        for severity, result in tally.remaining
        if _at_or_above(severity, fail_on)
    ]


def failure_lines(fold: Fold, fail_on: str | None) -> list[str]:
    """``path:line:col: level: RULE message [tool]`` for each result that fails the gate
    (the first `SHOWN_FAILURES` of them, then a count of the rest)."""
    if fail_on is None:
        return []
    failing = _failing(fold, fail_on)[:SHOWN_FAILURES]
    count = sum(t.remaining.count(lambda s: _at_or_above(s, fail_on)) for t in fold.runs)
    lines = []
    for tally, severity, result in failing:
        rule = tally.targets.of(result)[1][0]
        level = LEVEL_OF_SEVERITY[severity]
        lines.append(one_line(f"{_where(tally, result)}: {level}: {rule} {_message(result)} [{tally.tool}]"))
    if count > len(failing):
        lines.append(f"... and {count - len(failing)} more")
    return lines


# GitHub Actions' workflow commands: the command for each severity, and the escapes.
_COMMAND_OF_SEVERITY = {"error": "error", "warning": "warning", "info": "notice"}
_MESSAGE_ESCAPES = str.maketrans({"%": "%25", "\r": "%0D", "\n": "%0A"})
_PROPERTY_ESCAPES = str.maketrans({"%": "%25", "\r": "%0D", "\n": "%0A", ":": "%3A", ",": "%2C"})


def _region(result: Obj) -> Obj:
    first = result["locations"][0] if isinstance(result.get("locations"), list) and result["locations"] else None
    physical = first.get("physicalLocation") if isinstance(first, dict) else None
    region = physical.get("region") if isinstance(physical, dict) else None
    return region if isinstance(region, dict) else {}


def annotation_lines(fold: Fold, fail_on: str | None) -> list[str]:
    """The results that fail the gate as GitHub Actions workflow commands
    (``::error file=PATH,line=L,col=C,title=RULE [tool]::MESSAGE``): those the
    fold keeps, the first of each level in each run (more than the runner
    shows of a step)."""
    lines = []
    for tally, severity, result in _failing(fold, fail_on):
        props = []
        scopes = tally.targets.scopes.of(result)
        if scopes:
            props.append(("file", scopes[0]))
            region = _region(result)
            for name, field in (("line", "startLine"), ("col", "startColumn"), ("endLine", "endLine"),
                                ("endColumn", "endColumn")):
                if _int(region.get(field)) is not None:
                    props.append((name, str(region[field])))
        props.append(("title", f"{tally.targets.of(result)[1][0]} [{tally.tool}]"))
        shown = ",".join(f"{name}={value.translate(_PROPERTY_ESCAPES)}" for name, value in props)
        message = _message(result).translate(_MESSAGE_ESCAPES)
        lines.append(f"::{_COMMAND_OF_SEVERITY[severity]} {shown}::{message}")
    return lines


def baseline_summary(name: str, check: Any) -> str:
    """``tarnwick sarif: baseline FILE: U unchanged, N new, A absent`` (a `BaselineCheck`)."""
    return f"tarnwick sarif: baseline {name}: {check.unchanged:,} unchanged, {check.new:,} new, {check.absent:,} absent"


def _tally_text(tallies: list[RunTally], fail_on: str | None) -> str:
    def total(field: str) -> int:
        return sum(getattr(t, field) for t in tallies)

    left = sum(t.remaining.count(lambda s: _at_or_above(s, fail_on)) for t in tallies)
    text = (
        f"{plural(total('read'), 'result')} read, {total('dropped'):,} dropped, {total('up'):,} moved up, "
        f"{total('down'):,} moved down, {total('annotated'):,} annotated; {left:,} "
        + ("remains" if left == 1 else "remain")
    )
    if fail_on is not None:
        text += f" at or above {fail_on}: the gate " + ("fails" if left else "passes")
    return text


def _unused_text(unused_failing: int, fail_on: str | None) -> str:
    """Why the status is 1 when the results alone would not make it so (``--unused error``)."""
    if not unused_failing:
        return ""
    verb = "fails" if unused_failing == 1 else "fail"
    return f"; {plural(unused_failing, 'unused directive')} {verb} " + ("the gate" if fail_on is None else "it")


def summary_lines(fold: Fold, fail_on: str | None, unused_failing: int = 0) -> list[str]:
    """One line of totals, after one line per run when the log has several; `unused_failing`
    counts the unused directives that fail the gate (``--unused error``)."""
    lines = []
    if len(fold.runs) > 1:
        lines = [one_line(f"  {t.tool}: {_tally_text([t], fail_on)}") for t in fold.runs]
    return [*lines, f"tarnwick sarif: {_tally_text(fold.runs, fail_on)}{_unused_text(unused_failing, fail_on)}"]
