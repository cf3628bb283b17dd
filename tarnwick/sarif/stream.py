"""Reading a SARIF log one result at a time, in memory that does not grow with its results.

A first scan (`read_frame`) checks that the whole file is JSON and notes
where the members of the log and of each run are, so that `results` may come
before `tool` or `artifacts` and a log cut off anywhere is refused before
anything is written. Then each run's results array is scanned again and each
result is parsed on its own: a result that the fold leaves as it was is
copied byte for byte, a changed one is written as `tarnwick.sarif.log.dumps`
writes it, and every byte outside the results is copied as it is. The
output is equal, as parsed JSON, to what folding the whole loaded log gives.

Kept in memory: the tool, `artifacts` and `originalUriBaseIds` of the run
being folded (and the `Targets` of each run, for the summary), the first
results that remain at each severity (what the summary lists), and with
``--remove-dropped`` one byte per result of a run (which ones are dropped).
"""

from __future__ import annotations

import json
from collections import Counter
from collections.abc import Callable, Iterator
from dataclasses import dataclass, field
from functools import cached_property
from typing import Any, BinaryIO

from tarnwick._tarnwick import Policy, _JsonScanner, _ResultFolder
from tarnwick.sarif.baseline import IdKey, Key, directive_key, finding_key, findings, identified, keyed
from tarnwick.sarif.identity import Identities
from tarnwick.sarif.fold import (
    Fold,
    Locator,
    Remaining,
    RunTally,
    fold_log,
    fold_result,
    mark,
    origin_location,
    read_result,
    reindex,
)
from tarnwick.sarif.log import (
    DUMP_SETTINGS,
    SarifError,
    _float,
    _int,
    _no_constant,
    dumps,
    load_log,
    loads,
)
from tarnwick.sarif.target import RANK, Targets

CHUNK = 1 << 20  # bytes read at a time
HELD = 8 << 20  # output held back before the first write, so that most faults leave stdout empty
SHOWN = 50  # results kept per severity and run: what the summary's list of failures can show
RUN_MEMBERS = ("tool", "artifacts", "originalUriBaseIds")  # what `Targets` reads of a run

Span = tuple[int, int]  # [start, end) in the file


@dataclass
class RunFrame:
    span: Span
    members: dict[str, Span] = field(default_factory=dict)  # the last of each name, as JSON reads it
    results: int = 0  # elements of the results array


@dataclass
class Frame:
    span: Span  # the log's top-level value
    runs: list[RunFrame]
    runs_span: Span = (0, 0)  # the runs array


def _json_fault(exc: ValueError) -> SarifError:
    message, path, offset, too_deep = exc.args
    where = f" at {path}" if path else ""
    if too_deep:
        return SarifError(f"not JSON that tarnwick can read: nested too deeply{where} (byte {offset})")
    return SarifError(f"not JSON: {message}{where} (byte {offset})")


def _read(f: BinaryIO, span: Span) -> bytes:
    f.seek(span[0])
    return f.read(span[1] - span[0])


def _value(f: BinaryIO, span: Span) -> Any:
    return loads(_read(f, span))


def _first_byte(f: BinaryIO, span: Span) -> bytes:
    return _read(f, (span[0], span[0] + 1))


def utf8_start(f: BinaryIO) -> int | None:
    """Where the JSON text starts (after a UTF-8 byte order mark), or None when
    the file is in another encoding that JSON allows (UTF-16, UTF-32)."""
    f.seek(0)
    head = f.read(4)
    encoding = json.detect_encoding(head)
    if encoding == "utf-8-sig":
        return 3
    return 0 if encoding == "utf-8" else None


def _scan(f: BinaryIO, start: int, end: int | None, depth: int) -> Iterator[list[tuple[Any, ...]]]:
    """The events of `_JsonScanner(depth)` over the file from `start` (to `end`
    or the end of the file), chunk by chunk, with offsets into the file."""
    scanner = _JsonScanner(depth)
    pos = start
    try:
        while end is None or pos < end:
            f.seek(pos)  # the caller may read elsewhere between chunks
            chunk = f.read(CHUNK if end is None else min(CHUNK, end - pos))
            if not chunk:
                break
            pos += len(chunk)
            yield _shifted(scanner.feed(chunk), start)
        yield _shifted(scanner.finish(), start)
    except ValueError as exc:
        message, path, offset, too_deep = exc.args
        raise _json_fault(ValueError(message, path, offset + start, too_deep)) from None


def _shifted(events: list[tuple[Any, ...]], by: int) -> list[tuple[Any, ...]]:
    """Events with offsets counted from `by` bytes earlier."""
    if not by:
        return events
    return [
        (d, i, ks + by if ks >= 0 else ks, ke + by if ke >= 0 else ke, s + by, e + by, c, p)
        for d, i, ks, ke, s, e, c, p in events
    ]


def read_frame(f: BinaryIO, start: int) -> Frame:
    """The first scan: the whole file checked as JSON, the places of the log's
    members and of each run's, and the frame that the fold relies on checked
    as `load_log` checks it."""
    top: Span | None = None
    keys: list[tuple[Span, Span]] = []  # the log's members: key, value
    runs: list[list[tuple[Span, Span, int]]] = []  # each run's members: key, value, children
    spans: list[Span] = []  # of each run
    runs_span: Span = (0, 0)
    pending: tuple[list[list[tuple[Span, Span, int]]], list[Span]] = ([], [])
    members: list[tuple[Span, Span, int]] = []
    for events in _scan(f, start, None, 3):
        for depth, _index, key_start, key_end, s, e, children, _plain in events:
            if depth == 3 and key_start >= 0:  # a member of an element of a member of the log
                members.append(((key_start, key_end), (s, e), children))
            elif depth == 2:  # an element of a member of the log
                pending[0].append(members)
                pending[1].append((s, e))
                members = []
            elif depth == 1:
                if key_start >= 0:
                    keys.append(((key_start, key_end), (s, e)))
                    if _key(f, (key_start, key_end)) == "runs":
                        runs, spans, runs_span = *pending, (s, e)
                pending, members = ([], []), []
            elif depth == 0:
                top = (s, e)
    assert top is not None  # the scan refuses a file without one value
    frame = Frame(top, [_run_frame(f, span, run) for span, run in zip(spans, runs, strict=True)], runs_span)
    _check(f, top, {_key(f, key): span for key, span in keys}, frame.runs)
    return frame


def _run_frame(f: BinaryIO, span: Span, members: list[tuple[Span, Span, int]]) -> RunFrame:
    run = RunFrame(span)
    for key_span, value, children in members:
        key = _key(f, key_span)
        run.members[key] = value  # the last of a name counts, as for `json`
        if key == "results":
            run.results = children if _first_byte(f, value) == b"[" else 0
    return run


def _key(f: BinaryIO, span: Span) -> str:
    key = json.loads(_read(f, span))
    assert isinstance(key, str)
    return key


def _check(f: BinaryIO, top: Span, members: dict[str, Span], runs: list[RunFrame]) -> None:
    """The checks of `load_log`, in its order, on the frame (a small stand-in log built of
    the members they look at)."""
    if _first_byte(f, top) != b"{":
        raise SarifError("not a SARIF log: the top level is not a JSON object")
    stand_in: dict[str, Any] = {k: _value(f, members[k]) for k in ("version",) if k in members}
    if "runs" in members:
        if _first_byte(f, members["runs"]) == b"[":
            stand_in["runs"] = [_run_stand_in(f, run) for run in runs]
        else:
            stand_in["runs"] = _value(f, members["runs"])
    load_log(dumps(stand_in))  # raises as it would for the whole log


def _run_stand_in(f: BinaryIO, run: RunFrame) -> Any:
    if _first_byte(f, run.span) != b"{":
        return 0  # not an object: what the check says of it is all that matters
    stand_in = {k: _value(f, run.members[k]) for k in ("tool",) if k in run.members}
    if "results" in run.members:
        results = run.members["results"]
        stand_in["results"] = [] if _first_byte(f, results) == b"[" else _value(f, results)
    return stand_in


def run_view(f: BinaryIO, run: RunFrame) -> dict[str, Any]:
    """The members of a run that `Targets` reads."""
    return {k: _value(f, run.members[k]) for k in RUN_MEMBERS if k in run.members}


@dataclass
class Chunk:
    """Bytes of a results array holding whole results: `elements` are
    (index, start, end, plain) with offsets into `data`."""

    data: bytes
    elements: list[tuple[int, int, int, bool]]

    @cached_property
    def text(self) -> str | None:
        """`data` as a str when it is ASCII (so that offsets are the same in
        both); made when first asked for, as `_ResultFolder` needs none."""
        return self.data.decode("ascii") if self.data.isascii() else None


def results_of(f: BinaryIO, span: Span) -> Iterator[Chunk]:
    """The results array at `span`, a chunk at a time; `plain` tells that
    parsing a result with plain `json` keeps it exactly."""
    scanner = _JsonScanner(1)
    data, base, pos = (
        b"",
        span[0],
        span[0],
    )  # `data`: the bytes from `base` not yet handed out
    while pos < span[1]:
        f.seek(pos)
        chunk = f.read(min(CHUNK, span[1] - pos))
        if not chunk:
            raise SarifError("the log changed while it was read")
        pos += len(chunk)
        try:
            events = scanner.feed(chunk)
        except ValueError as exc:
            raise _json_fault(exc) from None
        data = data + chunk if data else chunk
        shift = span[0] - base
        elements = [
            (j, s + shift, e + shift, plain) for depth, j, _, _, s, e, _, plain in events if depth == 1
        ]
        if not elements:
            continue
        cut = elements[-1][2]
        whole = data[:cut]
        yield Chunk(whole, elements)
        data, base = data[cut:], base + cut


# json's own scanner, called at a place in a str: no slice and no decoding per result.
_SCAN_PLAIN = json.JSONDecoder().scan_once  # type: ignore[attr-defined]
_SCAN_EXACT = json.JSONDecoder(  # type: ignore[attr-defined]
    parse_float=_float, parse_int=_int, parse_constant=_no_constant
).scan_once


def parse_result(raw: bytes, plain: bool) -> Any:
    return json.loads(raw) if plain else loads(raw)


def _tail(level: str, new: str, dropped: bool, notes: list[str]) -> bytes:
    """The members that `mark` writes into a result without properties or
    suppressions, as JSON members (for `_ResultFolder`)."""
    stub: dict[str, Any] = {}
    mark(stub, level, (new, dropped, notes))
    return _dump(stub)[1:-1]


_LINE = b'"startLine":0'


def _location(file: str) -> tuple[bytes, bytes]:
    """The JSON of `origin_location((file, line))` before and after the line
    number (for `_ResultFolder`)."""
    text = _dump(origin_location((file, 0)))
    cut = text.rindex(_LINE) + len(_LINE) - 1  # in a string every quote is escaped: the last is the member
    return text[:cut], text[cut + 1 :]


class Kept:
    """Old index -> new index of the results of a run that stay, from one byte
    per result; the mapping `reindex` asks for."""

    BLOCK = 4096

    def __init__(self, dropped: bytearray):
        self.dropped = dropped
        self.before = [0]  # dropped results before each block
        for b in range(0, len(dropped), self.BLOCK):
            self.before.append(self.before[-1] + dropped.count(1, b, b + self.BLOCK))

    def __contains__(self, index: object) -> bool:
        return type(index) is int and 0 <= index < len(self.dropped) and not self.dropped[index]

    def __getitem__(self, index: int) -> int:
        block = index // self.BLOCK
        return index - self.before[block] - self.dropped.count(1, block * self.BLOCK, index)

    def any(self) -> bool:
        return self.before[-1] > 0


class Output:
    """Writes through `write`, holding back the first `HELD` bytes (so that a
    fault found early leaves nothing written) and then about a chunk at a time."""

    def __init__(self, write: Callable[[bytes], None]):
        self.write_out = write
        self.parts: list[bytes] = []
        self.size = 0
        self.limit = HELD

    def write(self, data: bytes) -> None:
        self.parts.append(data)
        self.size += len(data)
        if self.size >= self.limit:
            self.flush()
            self.limit = CHUNK

    def flush(self) -> None:
        if self.parts:
            self.write_out(b"".join(self.parts))
            self.parts, self.size = [], 0

    def copy(self, f: BinaryIO, span: Span) -> None:
        f.seek(span[0])
        pos = span[0]
        while pos < span[1]:
            chunk = f.read(min(CHUNK, span[1] - pos))
            if not chunk:
                raise SarifError("the log changed while it was read")
            pos += len(chunk)
            self.write(chunk)


_ENCODE = json.JSONEncoder(**DUMP_SETTINGS, allow_nan=False).encode


def _dump(value: Any) -> bytes:
    """*value* as `dumps` writes it, without its final newline; a value without
    numbers kept as text (most) skips the placeholders `dumps` needs for them."""
    try:
        return _ENCODE(value).encode()
    except (TypeError, UnicodeEncodeError, RecursionError):  # a NumberText, a lone surrogate, deep nesting
        return dumps(value)[:-1]


def _reindexed(value: Any, kept: Kept, count: int, *, result: bool) -> Any:
    run = {"results": [value]} if result else {"value": value, "results": []}
    reindex(run, kept, count)  # type: ignore[arg-type]
    return run["results"][0] if result else run["value"]


def _may_hold_index(raw: bytes) -> bool:
    return b"resultIndex" in raw or b"\\u" in raw  # a key may spell it with escapes


class RunFold:
    """The fold of the results of one run."""

    def __init__(
        self,
        f: BinaryIO,
        i: int,
        run: RunFrame,
        policy: Policy,
        roots: list[str],
        steps: Steps | None = None,
    ):
        self.f, self.i, self.run = f, i, run
        self.targets = Targets(run_view(f, run), roots)
        self.tally = RunTally(self.targets, remaining=Remaining(SHOWN))
        self.tally.read = run.results
        self.policy = policy
        self.steps = steps or Steps()

    def results(self) -> Iterator[tuple[Chunk, int, int, Any, bool, bool]]:
        """Each result folded: its chunk and span in it, the result, whether the fold changed it, dropped."""
        for chunk in results_of(self.f, self.run.members["results"]):
            for j, s, e, plain in chunk.elements:
                yield chunk, s, e, *self.fold_one(chunk, j, s, e, plain)

    def fold_one(self, chunk: Chunk, j: int, s: int, e: int, plain: bool) -> tuple[Any, bool, bool]:
        """Result `j` (at [s, e) in the chunk) folded: the result, whether the fold changed it, dropped."""
        tally, data, text = self.tally, chunk.data, chunk.text
        if text is not None:
            result = (_SCAN_PLAIN if plain else _SCAN_EXACT)(text, s)[0]
        else:
            result = parse_result(data[s:e], plain)
        before = tally.dropped + tally.up + tally.down + tally.annotated
        baseline = self.steps.baseline
        try:
            folded_again = type(result) is dict and _recorded(result)
            if baseline is not None and baseline.forget(result):
                folded_again = True
            read = read_result(result, self.targets)  # once, for the fold and the baseline
            dropped = fold_result(result, self.targets, self.policy, tally, self.steps.locator, read)
            if baseline is not None:
                dropped, touched = baseline.check(result, self.targets, tally, dropped, read)
                folded_again = folded_again or touched
        except SarifError as exc:
            raise SarifError(f"runs[{self.i}].results[{j}]{exc}") from None
        changed = folded_again or before != tally.dropped + tally.up + tally.down + tally.annotated
        if not plain and not changed:  # a surrogate is written as an escape
            changed = b"\xed" in data[s:e]
        return result, changed, dropped

    def folder(self) -> _ResultFolder | None:
        """The fold of the results of the common shape without building them
        (see `_write_simple`), or None where only the general fold serves (a
        baseline check, or a policy of other verbs or with a root)."""
        if self.steps.baseline is not None:
            return None
        try:
            return _ResultFolder(
                self.policy,
                self.targets.qualifier,
                self._names,
                self._scope,
                _tail,
                None if self.steps.locator is None else _location,
            )
        except ValueError:
            return None

    def _names(self, rule_id: str, rule_index: int | None) -> tuple[tuple[str, ...], str]:
        """The names and the level (the rule's default) of a result that gives
        only this `ruleId` and `ruleIndex`."""
        stub: dict[str, Any] = {"ruleId": rule_id}
        if rule_index is not None:
            stub["ruleIndex"] = rule_index
        level, names = self.targets.of(stub)
        return names, level

    def _scope(self, uri: str | None, uri_base_id: str | None, index: int | None) -> tuple[str, ...]:
        """The scope of an artifact location that gives these members."""
        given = (("uri", uri), ("uriBaseId", uri_base_id), ("index", index))
        return self.targets.scopes._scope({key: value for key, value in given if value is not None})

    def keeping(self) -> int:
        """Bit i set: a result that remains at the i-th severity is kept for the summary."""
        remaining = self.tally.remaining
        return sum(
            1 << i
            for i, severity in enumerate(RANK)
            if remaining.keep is None or remaining.counts[severity] < remaining.keep
        )

    def count(self, counts: tuple[int, ...]) -> None:
        """Add what `_ResultFolder.fold` counted."""
        tally = self.tally
        tally.dropped += counts[0]
        tally.up += counts[1]
        tally.down += counts[2]
        tally.annotated += counts[3]
        for severity, n in zip(RANK, counts[4:], strict=True):
            tally.remaining.counts[severity] += n

    def dropped(self) -> bytearray:
        """One byte per result, 1 for each that the fold drops (a fold of its own, counted nowhere)."""
        quiet = RunFold.__new__(RunFold)
        quiet.f, quiet.i, quiet.run, quiet.targets, quiet.policy = (
            self.f,
            self.i,
            self.run,
            self.targets,
            self.policy,
        )
        baseline = self.steps.baseline
        quiet.steps = Steps(None if baseline is None else baseline.copy())
        quiet.tally = RunTally(self.targets, remaining=Remaining(0))
        return bytearray(dropped for *_, dropped in quiet.results())


def _recorded(result: dict[str, Any]) -> bool:
    props = result.get("properties")
    return isinstance(props, dict) and "tarnwick" in props


@dataclass
class Steps:
    """What runs with the fold on each result: the locator of policy
    suppressions (`tarnwick.sarif.fold.Locator`) and a baseline check
    (`tarnwick.sarif.baseline.BaselineCheck`), each optional."""

    baseline: Any = None
    locator: Locator | None = None


class LogError(SarifError):
    """A fault of one of several logs: `log` is its position among them."""

    def __init__(self, message: str, log: int):
        super().__init__(message)
        self.log = log


def _in_log(k: int, exc: SarifError) -> LogError:
    return exc if isinstance(exc, LogError) else LogError(str(exc), k)


def fold_stream(
    f: BinaryIO | list[BinaryIO],
    policy: Policy,
    *,
    roots: list[str],
    write: Callable[[bytes], None],
    remove_dropped: bool = False,
    baseline: Any = None,
) -> Fold:
    """Fold the log in file `f` (seekable) as `fold_log` folds a loaded log and
    write the folded log through `write`; see the module's docstring. Given
    several files, the log written is the first one holding the runs of all of
    them in order; a fault is a `LogError` that says which file has it. A
    `baseline` check runs on each result right after its fold."""
    files = f if isinstance(f, list) else [f]
    steps = Steps(baseline, Locator(policy))
    starts = [utf8_start(one) for one in files]
    if None in starts:  # UTF-16 or UTF-32: loaded whole
        log = _load_all(files)
        fold = fold_log(log, policy, roots=roots, remove_dropped=remove_dropped, baseline=baseline)
        write(dumps(log))
        return fold
    frames = []
    for k, (one, start) in enumerate(zip(files, starts, strict=True)):
        try:
            frames.append(read_frame(one, start))  # every log checked before any output
        except SarifError as exc:
            raise _in_log(k, exc) from None
    fold = Fold([], policy)
    out = Output(write)
    first, frame = files[0], frames[0]
    end = frame.span[1] if len(files) == 1 else frame.runs_span[1] - 1  # before the runs array's "]"
    try:
        _fold_runs(out, first, frame, (frame.span[0], end), fold, roots, remove_dropped, steps)
    except SarifError as exc:
        raise _in_log(0, exc) from None
    runs = len(frame.runs)
    for k, (one, more) in enumerate(zip(files[1:], frames[1:], strict=True), 1):
        if not more.runs:
            continue
        out.write(b"," if runs else b"")
        inside = (more.runs_span[0] + 1, more.runs_span[1] - 1)
        try:
            _fold_runs(out, one, more, inside, fold, roots, remove_dropped, steps)
        except SarifError as exc:
            raise _in_log(k, exc) from None
        runs += len(more.runs)
    if len(files) > 1:
        out.copy(first, (end, frame.span[1]))
    out.write(b"\n")
    out.flush()
    return fold


def _load_all(files: list[BinaryIO]) -> Any:
    """The logs loaded whole, as one: the first one's frame holding every log's runs."""
    whole: Any = None
    for k, one in enumerate(files):
        one.seek(0)
        try:
            log = load_log(one.read())
        except SarifError as exc:
            raise _in_log(k, exc) from None
        if whole is None:
            whole = log
        else:
            whole["runs"] += log["runs"]
    return whole


def _fold_runs(
    out: Output,
    f: BinaryIO,
    frame: Frame,
    span: Span,
    fold: Fold,
    roots: list[str],
    remove_dropped: bool,
    steps: Steps,
) -> None:
    """Write the bytes of `f` in `span`, with the results of each run of `frame` folded."""
    pos = span[0]
    for i, run in enumerate(frame.runs):
        results = run.members.get("results")
        folding = RunFold(f, i, run, fold.policy, roots, steps)
        fold.runs.append(folding.tally)
        if not run.results:
            continue
        kept = Kept(folding.dropped()) if remove_dropped else None
        if kept is not None and kept.any():
            for key, member in sorted(run.members.items(), key=lambda item: item[1]):
                if key != "results" and member < results:  # type: ignore[operator]
                    pos = _write_reindexed(out, f, pos, member, kept, run.results)
        out.copy(f, (pos, results[0]))  # type: ignore[index]
        folder = None if remove_dropped else folding.folder()
        if folder is not None:
            _write_simple(out, folding, folder)
        else:
            _write_results(out, folding, kept, remove_dropped)
        pos = results[1]  # type: ignore[index]
        if kept is not None and kept.any():
            for key, member in sorted(run.members.items(), key=lambda item: item[1]):
                if key != "results" and member > results:  # type: ignore[operator]
                    pos = _write_reindexed(out, f, pos, member, kept, run.results)
    out.copy(f, (pos, span[1]))


def _write_reindexed(out: Output, f: BinaryIO, pos: int, span: Span, kept: Kept, count: int) -> int:
    raw = _read(f, span)
    if not _may_hold_index(raw):
        return pos
    out.copy(f, (pos, span[0]))
    out.write(_dump(_reindexed(loads(raw), kept, count, result=False)))
    return span[1]


def _write_results(out: Output, folding: RunFold, kept: Kept | None, remove_dropped: bool) -> None:
    """The folded results array. Results left as they were are copied in runs
    of neighbours (with what lies between them), the others written anew."""
    out.write(b"[")
    written = False  # an element is out: the next one needs a comma
    count = folding.run.results
    reindexing = kept is not None and kept.any()
    copy: tuple[Chunk, int, int] | None = None  # a run of results copied as they are
    for chunk, s, e, result, changed, dropped in folding.results():
        if dropped and remove_dropped:
            new = None
        elif reindexing and _may_hold_index(chunk.data[s:e]):
            base = result if changed else loads(chunk.data[s:e])
            new = _dump(_reindexed(base, kept, count, result=True))  # type: ignore[arg-type]
        elif changed:
            new = _dump(result)
        elif copy is not None and copy[0] is chunk:
            copy = (chunk, copy[1], e)
            continue
        else:
            new = b""
        if copy is not None:
            out.write(b"," if written else b"")
            out.write(copy[0].data[copy[1] : copy[2]])
            written, copy = True, None
        if new == b"":
            copy = (chunk, s, e)
        elif new is not None:
            out.write(b"," + new if written else new)
            written = True
    if copy is not None:
        out.write(b"," if written else b"")
        out.write(copy[0].data[copy[1] : copy[2]])
    out.write(b"]")


def _write_simple(out: Output, folding: RunFold, folder: _ResultFolder) -> None:
    """The folded results array, the results of the common shape folded and
    written by `folder` and the others by `RunFold.fold_one`."""
    out.write(b"[")
    written = False  # an element is out: the next one needs a comma
    for chunk in results_of(folding.f, folding.run.members["results"]):
        elements = chunk.elements
        k = 0
        while k < len(elements):
            stop, text, counts = folder.fold(chunk.data, elements, k, folding.keeping())
            folding.count(counts)
            if stop < len(elements):
                j, s, e, plain = elements[stop]
                result, changed, _ = folding.fold_one(chunk, j, s, e, plain)
                one = _dump(result) if changed else chunk.data[s:e]
                text = text + b"," + one if text else one
            if text:
                out.write(b"," + text if written else text)
                written = True
            k = stop + 1
    out.write(b"]")


def _each_result(f: BinaryIO, start: int, roots: list[str]) -> Iterator[tuple[int, int, Targets, Any]]:
    """(run, index, the run's targets, result) for each result of the log in file `f`."""
    frame = read_frame(f, start)
    for i, run in enumerate(frame.runs):
        targets = Targets(run_view(f, run), roots)
        results = run.members.get("results")
        if results is None or _first_byte(f, results) != b"[":
            continue
        for chunk in results_of(f, results):
            for j, s, e, plain in chunk.elements:
                if chunk.text is not None:
                    result = (_SCAN_PLAIN if plain else _SCAN_EXACT)(chunk.text, s)[0]
                else:
                    result = parse_result(chunk.data[s:e], plain)
                yield i, j, targets, result


def findings_stream(f: BinaryIO, roots: list[str]) -> Counter[Key]:
    """`tarnwick.sarif.baseline.findings` of the log in file `f`, one result at a time."""
    start = utf8_start(f)
    if start is None:
        f.seek(0)
        return findings(load_log(f.read()), roots)
    return Counter(key for key, _ in keyed(_each_result(f, start, roots), directive_key))


def identified_stream(f: BinaryIO, roots: list[str], identities: Identities) -> list[tuple[IdKey, str | None]]:
    """`tarnwick.sarif.baseline.identified` of the log in file `f`, one result at a time."""
    start = utf8_start(f)
    if start is None:
        f.seek(0)
        return identified(load_log(f.read()), roots, identities)
    return [(key, identities.of(result, key)) for key, result in keyed(_each_result(f, start, roots), finding_key)]
