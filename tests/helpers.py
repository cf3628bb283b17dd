"""Shared by the tests: messages, look-alike argument types, directive texts."""

from hypothesis import strategies as st

from tarnwick import _tarnwick as tw

NO_COLON = "expected `ACTION:\u2026` (no `:` found)"
EQ_BEFORE_COLON = "`=` appeared before the action `:`"
EMPTY_ACTION = "empty action"
EMPTY_KIND = "empty `<>` kind filter"
EMPTY_NAME = "empty name pattern"
SEVERITY_TAIL = '; expected "error", "warning", or "info"'
SEV = ["error", "warning", "info"]
I32_MIN, I32_MAX = -(2**31), 2**31 - 1


class Index:
    """An integer only through ``__index__``."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class Seq:
    """A sequence (``__len__`` and ``__getitem__``) that is neither list nor tuple."""

    def __init__(self, items):
        self.items = list(items)

    def __len__(self):
        return len(self.items)

    def __getitem__(self, i):
        return self.items[i]


def fields(d):
    return (d.action, d.kind, d.name, d.path, d.note)


def parse_all(texts):
    return [tw.parse(t) for t in texts]


def directive_texts(verbs):
    """Directives `VERB:[<KIND>]NAME[@PATH][=NOTE]`, verbs drawn from a strategy, over a small
    alphabet of names and paths."""
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
