"""Shared by the tests: messages, look-alike argument types, directive texts."""

import subprocess
import sys

from hypothesis import strategies as st

from tarnwick import _tarnwick as tw

NO_COLON, EQ_BEFORE_COLON = "expected `ACTION:\u2026` (no `:` found)", "`=` appeared before the action `:`"
EMPTY_ACTION, EMPTY_KIND, EMPTY_NAME = "empty action", "empty `<>` kind filter", "empty name pattern"
SEVERITY_TAIL = '; expected "error", "warning", or "info"'
SEV = ["error", "warning", "info"]
I32_MIN, I32_MAX = -(2**31), 2**31 - 1
RUFF = [sys.executable, "-m", *"ruff check --isolated --no-cache --select E,F --output-format sarif .".split()]


class Index:
    """An integer only through ``__index__``, which first runs `act`."""

    def __init__(self, value, act=lambda: None):
        self.value, self.act = value, act

    def __index__(self):
        self.act()
        return self.value


def tarnwick(*args, stdin=b"", cwd=None, **kw):
    """The `tarnwick` command as a user runs it."""
    return subprocess.run([sys.executable, "-m", "tarnwick", *args], input=stdin, capture_output=True, cwd=cwd, **kw)


def find(s, ch, start=0):
    """The first `ch` at or after `start` that no backslash escapes, or -1."""
    i = start
    while i < len(s):
        if s[i] == ch:
            return i
        i += 2 if s[i] == "\\" else 1
    return -1


def fields(d):
    return (d.action, d.kind, d.name, d.path, d.note)


def parse_all(texts):
    return [tw.parse(t) for t in texts]


def directive_texts(verbs):  # `VERB:[<KIND>]NAME[@PATH][=NOTE]` over a small alphabet
    return st.builds(
        "{}:{}{}{}{}".format,
        verbs,
        st.sampled_from(["", "<fn>", "<*>"]),
        st.sampled_from(["a", "b", "a*", "*", "{a,b}", "{a,b}*", "[ab]"]),
        st.sampled_from(["", "@src/*", "@", "@lib"]),
        st.sampled_from(["", "=", "=n1", "=n2"]),
    )


# What a fold is asked about: names, the qualifier (kind) and the scopes (paths).
TARGET = dict(
    names=st.lists(st.sampled_from(["a", "b", "ab", "c"]), max_size=3),
    qualifier=st.sampled_from([None, "fn", "ty"]),
    scopes=st.none() | st.lists(st.sampled_from(["src/x", "lib", "", "src"]), max_size=3),
)
