"""What makes one finding the same finding in the next log: its identity.

A finding's key is (tool, path, rule): the tool's driver name, the scope of its
first location and its rule id. Within a key, its identity is, in order of
preference:

- ``fingerprint:KEY=VALUE``: the producer's own, from `fingerprints`, else from
  `partialFingerprints` (the first key in sorted order), when the result has one;
- ``line:HASH:N``: the first 16 hex digits of the SHA-256 of the text of the
  finding's start line in the source under ``--root``, blanks removed, and N,
  the number of earlier findings of the same key with the same HASH in the
  log (so a second identical ``assert`` on another line is a new finding);
- none (`COUNTED`): no fingerprint and no source line (no location, no
  `startLine`, a file that is not under the root or cannot be read). Such
  findings are counted per key.

A line identity survives lines added or removed above the finding and edits
to any other line; it changes when the finding's own line changes, and when
an identical line with the same finding is added above it (the two then swap
occurrence numbers, which still matches both).
"""

from __future__ import annotations

import hashlib
import os
import stat
from collections import Counter, OrderedDict
from typing import Any

from tarnwick.sarif.log import Obj

COUNTED = None  # the identity of a finding that is only counted
BYTES_KEPT = 128 << 20  # of source files whose lines stay in memory at once
LONGEST_SOURCE = 64 << 20  # bytes; a larger file is not read for identities

Key = tuple[str, str | None, str]  # (tool, path, rule); no path for a finding without a location


def producer_fingerprint(result: Obj) -> str | None:
    """``fingerprint:KEY=VALUE`` from the result's `fingerprints` or `partialFingerprints`, or None."""
    for field in ("fingerprints", "partialFingerprints"):
        prints = result.get(field)
        if isinstance(prints, dict):
            usable = sorted(k for k, v in prints.items() if isinstance(v, str) and v)
            if usable:
                return f"fingerprint:{usable[0]}={prints[usable[0]]}"
    return None


def start_line(result: Obj) -> int | None:
    """The `startLine` of the result's first physical location, or None."""
    locations = result.get("locations")
    first = locations[0] if isinstance(locations, list) and locations else None
    physical = first.get("physicalLocation") if isinstance(first, dict) else None
    region = physical.get("region") if isinstance(physical, dict) else None
    line = region.get("startLine") if isinstance(region, dict) else None
    return line if type(line) is int and line > 0 else None


def line_hash(text: str) -> str:
    """The hash of a source line with every blank removed."""
    normalised = "".join(text.split())
    return hashlib.sha256(normalised.encode("utf-8", "surrogatepass")).hexdigest()[:16]


class Sources:
    """The lines of source files under one root, read on demand; the most
    recently used files are kept, up to `BYTES_KEPT` bytes of them, so each
    file is read once unless the sources of one log are larger than that."""

    def __init__(self, root: str):
        self.root = root
        self.files: OrderedDict[str, tuple[list[bytes] | None, int]] = OrderedDict()
        self.size = 0

    def line(self, path: str, number: int) -> str | None:
        lines = self._lines(path)
        if lines is None or number > len(lines):
            return None
        return lines[number - 1].decode("utf-8", "replace")

    def _lines(self, path: str) -> list[bytes] | None:
        try:
            self.files.move_to_end(path)
            return self.files[path][0]
        except KeyError:
            pass
        found, size = self._read(path)
        self.files[path] = (found, size)
        self.size += size
        while self.size > BYTES_KEPT and len(self.files) > 1:
            self.size -= self.files.popitem(last=False)[1][1]
        return found

    def _read(self, path: str) -> tuple[list[bytes] | None, int]:
        """The lines of the file, and roughly the memory they take."""
        parts = path.split("/")
        if os.path.isabs(path) or ":" in parts[0] or ".." in parts or "\0" in path:
            return None, 64  # not a path under the root (a URI, or outside it)
        try:
            # Non-blocking, so that a named pipe where a source file belongs cannot hang the run.
            fd = os.open(os.path.join(self.root, path), os.O_RDONLY | getattr(os, "O_NONBLOCK", 0))
        except (OSError, ValueError):
            return None, 64
        with os.fdopen(fd, "rb") as f:
            try:
                if not stat.S_ISREG(os.fstat(fd).st_mode):
                    return None, 64
                data = f.read(LONGEST_SOURCE + 1)
            except OSError:
                return None, 64
        if len(data) > LONGEST_SOURCE:
            return None, 64
        lines = data.splitlines()
        return lines, len(data) + 48 * len(lines)


class Identities:
    """The identity of each finding of a log, in the order the log gives them.

    The occurrence numbers need one counter per (key, line hash) seen: memory
    grows with the distinct findings, time is constant per finding (plus
    reading each source file once while it is among the recently used)."""

    def __init__(self, root: str):
        self.sources = Sources(root)
        self.seen: Counter[tuple[Any, ...]] = Counter()

    def copy(self) -> Identities:
        """Identities that go on counting from here, on the same sources."""
        other = Identities.__new__(Identities)
        other.sources, other.seen = self.sources, self.seen.copy()
        return other

    def of(self, result: Obj, key: Key) -> str | None:
        """The identity of *result*, a finding of *key* (see the module), or `COUNTED`."""
        if "fingerprints" in result or "partialFingerprints" in result:
            given = producer_fingerprint(result)
            if given is not None:
                return given
        path = key[1]
        number = start_line(result)
        if path is None or number is None:
            return COUNTED
        text = self.sources.line(path, number)
        if text is None:
            return COUNTED
        digest = line_hash(text)
        seen = (*key, digest)
        index = self.seen[seen]
        self.seen[seen] = index + 1
        return f"line:{digest}:{index}"
