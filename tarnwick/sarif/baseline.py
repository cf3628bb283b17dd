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
from collections.abc import Callable, Iterable, Iterator
from typing import TypeVar
from dataclasses import dataclass, replace

from tarnwick._tarnwick import _trimmed
from tarnwick._text import plural
from tarnwick.sarif.fold import OWN, Read, RunTally, origin_location, read_result, recorded_level, suppressed
from tarnwick.sarif.identity import Identities
from tarnwick.sarif.log import Obj, SarifError
from tarnwick.sarif.target import Targets, _list

K = TypeVar("K")

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


def each_result(log: Obj, roots: list[str]) -> Iterator[tuple[int, int, Targets, Obj]]:
    """(run index, result index, the run's targets, result) for every result of a loaded log."""
    for i, run in enumerate(log["runs"]):
        targets = Targets(run, roots)
        for j, result in enumerate(run.get("results") or ()):
            yield i, j, targets, result


def keyed(results: Iterable[tuple[int, int, Targets, Obj]], key_of: Callable[[Obj, Targets], K | None]
          ) -> Iterator[tuple[K, Obj]]:
    """(key, result) for each result that counts; an error names its run and result."""
    for i, j, targets, result in results:
        try:
            key = key_of(result, targets)
        except SarifError as exc:
            raise SarifError(f"runs[{i}].results[{j}]{exc}") from None
        if key is not None:
            yield key, result


def findings(log: Obj, roots: list[str]) -> Counter[Key]:
    """The findings of *log* that count, by (tool, rule id, path of the first location).

    A finding counts at a level other than "none" and without a suppression in force."""
    return Counter(key for key, _ in keyed(each_result(log, roots), directive_key))


def directive_key(result: Obj, targets: Targets) -> Key | None:
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


# ---------------------------------------------------------------- the baseline file
#
# The first line names the format and its version; then one line per finding,
# four fields separated by tabs: TOOL, PATH (empty without a location), RULE
# and IDENTITY (see `tarnwick.sarif.identity`), or ``count:N`` for N findings
# of that tool, path and rule that have no identity. A backslash, tab, line
# feed or carriage return in a field is written ``\\``, ``\t``, ``\n``, ``\r``, and a
# ``#`` that starts a line ``\#``.
# Lines are sorted, so the file depends only on the findings, and two branches
# that each fix or add findings change different lines. Blank lines and lines
# starting with ``#`` are ignored.

FORMAT_LINE = "tarnwick-baseline 1"
COUNT = "count:"
_ESCAPES = {"\\": "\\\\", "\t": "\\t", "\n": "\\n", "\r": "\\r"}
_UNESCAPES = {"\\": "\\", "t": "\t", "n": "\n", "r": "\r", "#": "#"}

IdKey = tuple[str, "str | None", str]  # (tool, path, rule), the key of `tarnwick.sarif.identity`


class BaselineError(ValueError):
    """A baseline file that cannot be read; the message names the line."""


def _escape(field: str) -> str:
    return field if not any(c in field for c in _ESCAPES) else "".join(_ESCAPES.get(c, c) for c in field)


def _unescape(field: str, where: str) -> str:
    if "\\" not in field:
        return field
    out, i = [], 0
    while i < len(field):
        c = field[i]
        if c == "\\":
            plain = _UNESCAPES.get(field[i + 1 : i + 2])
            if plain is None:
                raise BaselineError(f"{where}: unknown escape {field[i : i + 2]!r}")
            out.append(plain)
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


@dataclass
class Entry:
    """One line of a baseline file: a finding (`identity`), or `count` findings without one."""

    key: IdKey
    identity: str | None
    count: int = 1
    line: int = 0  # in the file it was read from; 0 for one being written
    used: int = 0  # findings of a log it matched
    moved_to: IdKey | None = None  # the key of a finding in a renamed file that matched it

    def text(self) -> str:
        tool, path, rule = self.key
        last = self.identity if self.identity is not None else f"{COUNT}{self.count}"
        line = "\t".join(_escape(f) for f in (tool, path or "", rule, last))
        return "\\" + line if line.startswith("#") else line  # not a comment


def entries_of(found: list[tuple[IdKey, str | None]]) -> list[Entry]:
    """The entries of a baseline of these findings: one per identity, one count per key of the rest."""
    counted: Counter[IdKey] = Counter()
    entries = []
    for key, identity in found:
        if identity is None:
            counted[key] += 1
        else:
            entries.append(Entry(key, identity))
    entries += [Entry(key, None, n) for key, n in counted.items()]
    return entries


def write_baseline(entries: list[Entry]) -> str:
    """The text of a baseline file holding *entries* (sorted, see above)."""
    return "\n".join([FORMAT_LINE, *sorted(e.text() for e in entries if e.count > 0)]) + "\n"


def is_baseline_file(data: bytes) -> bool:
    """True when *data* starts with the first line of a baseline file of any version."""
    return data.startswith(FORMAT_LINE.rsplit(" ", 1)[0].encode() + b" ")


def read_baseline(data: bytes, name: str) -> list[Entry]:
    """The entries of a baseline file; `BaselineError` names the file and line of what is wrong."""
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as exc:
        raise BaselineError(f"{name}: not UTF-8 (byte {exc.start})") from None
    lines = [line.removesuffix("\r") for line in text.split("\n")]  # only LF ends a line (CR LF too)
    first = lines[0]
    if first != FORMAT_LINE:
        expected = f'expected "{FORMAT_LINE}" as the first line'
        raise BaselineError(f"{name}:1: not a baseline file of this version: {expected}")
    entries = []
    for number, line in enumerate(lines[1:], 2):
        if not line or line.startswith("#"):
            continue
        fields = line.split("\t")
        if len(fields) != 4:
            raise BaselineError(f"{name}:{number}: expected 4 fields separated by tabs, found {len(fields)}")
        if "\\" in line:
            tool, path, rule, last = (_unescape(f, f"{name}:{number}") for f in fields)
        else:
            tool, path, rule, last = fields
        if last.startswith(COUNT):
            digits = last[len(COUNT) :]
            if not (digits.isascii() and digits.isdigit() and 0 < len(digits) <= 18):
                raise BaselineError(f"{name}:{number}: {COUNT}N needs a whole number N of findings")
            entries.append(Entry((tool, path or None, rule), None, int(digits), number))
        elif last:
            entries.append(Entry((tool, path or None, rule), last, 1, number))
        else:
            raise BaselineError(f"{name}:{number}: the fourth field (the identity) is empty")
    return entries


class Matcher:
    """Matches findings against the entries of a baseline, each entry at most
    as many times as it counts. A finding matches an entry of its identity;
    failing that, a count entry of its key; a finding without identity also
    matches any entry of its key (a log read without the sources). Constant
    time per finding, except that last case, linear in the entries of the key."""

    def __init__(self, entries: list[Entry], renamed: dict[str, str] | None = None):
        self.entries = entries
        self.renamed = renamed or {}  # new path -> old path of renamed files
        self.exact: dict[tuple[IdKey, str], list[Entry]] = {}
        self.counted: dict[IdKey, list[Entry]] = {}
        self.of_key: dict[IdKey, list[Entry]] = {}
        for e in reversed(entries):  # popped from the end: the first line first
            if e.identity is None:
                self.counted.setdefault(e.key, []).append(e)
            else:
                self.exact.setdefault((e.key, e.identity), []).append(e)
                self.of_key.setdefault(e.key, []).append(e)

    def match(self, key: IdKey, identity: str | None) -> Entry | None:
        """The entry that this finding uses up, or None when it is new. A
        finding in a renamed file that matches nothing under its own path may
        match under the old path (the entry then says where it moved)."""
        found = self._match(key, identity)
        old = self.renamed.get(key[1]) if found is None and key[1] is not None else None
        if old is not None:
            found = self._match((key[0], old, key[2]), identity)
            if found is not None:
                found.moved_to = key
        return found

    def _match(self, key: IdKey, identity: str | None) -> Entry | None:
        found = None
        if identity is not None:
            found = self._take(self.exact.get((key, identity)))
        if found is None:
            found = self._take(self.counted.get(key))
        if found is None and identity is None:
            found = self._take(self.of_key.get(key))
        return found

    @staticmethod
    def _take(entries: list[Entry] | None) -> Entry | None:
        """Use up the first entry of *entries* with room left, dropping those without."""
        while entries:
            entry = entries[-1]
            if entry.used < entry.count:
                entry.used += 1
                return entry
            entries.pop()
        return None

    def absent(self) -> list[Entry]:
        """The entries, in file order, that matched fewer findings than they count."""
        return [e for e in self.entries if e.used < e.count]


# ---------------------------------------------------------------- findings and their identities


def _own(suppression: object) -> bool:
    props = suppression.get("properties") if isinstance(suppression, dict) else None
    return isinstance(props, dict) and OWN in props


def suppressed_by_others(result: Obj) -> bool:
    """True when a suppression in force that tarnwick did not add is on the result."""
    entries = result.get("suppressions")
    return isinstance(entries, list) and suppressed({"suppressions": [s for s in entries if not _own(s)]})


def finding_key(result: Obj, targets: Targets, read: Read | None = None) -> IdKey | None:
    """(tool, path, rule) of a result that is a finding (a level other than
    "none", no suppression in force other than tarnwick's), else None; `read`
    is what `read_result` gave for it, when the fold has read it already."""
    level, names, scopes = read or read_result(result, targets)
    if level == "none" or "suppressions" in result and suppressed_by_others(result):
        return None
    return targets.qualifier, scopes[0] if scopes and scopes[0] else None, names[0]


def identified(log: Obj, roots: list[str], identities: Identities) -> list[tuple[IdKey, str | None]]:
    """Every finding of *log* with its identity, in the log's order."""
    return [(key, identities.of(result, key)) for key, result in keyed(each_result(log, roots), finding_key)]


class BaselineCheck:
    """The step after `fold_result` that compares each finding with a baseline.

    Every finding gets SARIF's `baselineState`: "unchanged" when it uses up an
    entry of the baseline, else "new". An unchanged finding that the policy
    did not drop is dropped: a suppression with the justification "baseline"
    and, as its `location`, the baseline file and the line of the entry."""

    def __init__(self, matcher: Matcher, identities: Identities, name: str):
        self.matcher = matcher
        self.identities = identities
        self.name = name  # the baseline file, as its suppressions' location names it
        self.artifact = origin_location((name, 1))["physicalLocation"]["artifactLocation"]
        self.unchanged = 0
        self.new = 0

    def copy(self) -> BaselineCheck:
        """A check that goes on from where this one is without changing it (for a
        pass that only asks which results are dropped)."""
        entries = [replace(e) for e in self.matcher.entries]
        other = BaselineCheck(Matcher(entries, self.matcher.renamed), self.identities.copy(), self.name)
        other.artifact = self.artifact
        return other

    @staticmethod
    def forget(result: Obj) -> bool:
        """Remove what an earlier run of tarnwick suppressed: the fold and this
        step add it again. True when there was something to remove."""
        entries = result.get("suppressions") if isinstance(result, dict) else None
        if isinstance(entries, list) and any(_own(s) for s in entries):
            kept = [s for s in entries if not _own(s)]
            if kept:
                result["suppressions"] = kept
            else:
                del result["suppressions"]
            return True
        return False

    def check(
        self, result: Obj, targets: Targets, tally: RunTally, dropped: bool, read: Read | None = None
    ) -> tuple[bool, bool]:
        """Compare one folded result with the baseline: whether it is dropped
        (by the fold or here), and whether this step changed it; `read` as for `finding_key`."""
        key = finding_key(result, targets, read)
        if key is None:
            return dropped, False
        entry = self.matcher.match(key, self.identities.of(result, key))
        if entry is None:
            result["baselineState"] = "new"
            self.new += 1
            return dropped, True
        result["baselineState"] = "unchanged"
        self.unchanged += 1
        if dropped:
            return True, True
        location = {"physicalLocation": {"artifactLocation": self.artifact, "region": {"startLine": entry.line}}}
        suppression = {"kind": "external", "justification": NOTE, "location": location, "properties": {OWN: True}}
        _list(result.setdefault("suppressions", []), ".suppressions").append(suppression)
        tally.remaining.retract(result)
        tally.dropped += 1
        return True, True

    @property
    def absent(self) -> int:
        return sum(e.count - e.used for e in self.matcher.absent())
