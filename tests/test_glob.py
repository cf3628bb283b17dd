"""glob_match: brace expansion, classes, escapes and full-text byte matching."""

import re

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from tarnwick import _tarnwick as tw

ELEVEN = "{a,b}" * 11  # 2048 alternatives: over the cap, so the text is literal
TEN = "{a,b}" * 10  # 1024 alternatives: exactly at the cap

# (pattern, texts that match, texts that do not match)
CASES = [
    # brace expansion
    ("x{a,b}y{1,2}", ["xay1", "xay2", "xby1", "xby2"], ["xy", "xaby1", "x{a,b}y{1,2}", "xay"]),
    ("a{,b}", ["a", "ab"], ["b", "a{,b}", ""]),
    ("x{a}y", ["xay"], ["x{a}y", "xy"]),
    ("{a,{b,c}}", ["a}", "{b}", "c}"], ["a", "b", "c", "{b", "{a,{b,c}}"]),
    ("{a\\,b,c}", ["a,b", "c"], ["a\\,b", "a", "b"]),
    ("{a,b\\}", ["{a,b}"], ["a", "b", "{a,b\\}"]),
    ("{a,b}{c", ["a{c", "b{c"], ["{a,b}{c", "ac"]),
    ("\\{a,b}", ["{a,b}"], ["a", "b", "\\{a,b}"]),
    ("{a\\\\,b}", ["a\\", "b"], ["a\\,b", "a"]),
    ("{,}", [""], [",", "{,}"]),
    ("{a,b", ["{a,b"], ["a", "b"]),
    ("{a{b,c}", ["a{b", "c"], ["ab", "b", "{a{b,c}"]),
    ("{[ab],c}", ["a", "b", "c"], ["[ab]", "d"]),
    ("{a*,b?}", ["a", "axyz", "bz"], ["b", "bzz"]),
    # the cap on the number of alternatives
    (TEN, ["a" * 10, "b" * 10, "ab" * 5], [TEN, "a" * 9, "a" * 11]),
    (ELEVEN, [ELEVEN], ["a" * 11, "b" * 11]),
    ("*" + ELEVEN, [ELEVEN, "zz" + ELEVEN], ["a" * 11]),
    ("{a,b,c,d}" * 5 + "{a,b}", ["{a,b,c,d}" * 5 + "{a,b}"], ["abcdab"]),
    ("{" + ",".join(["a"] * 1024) + "}", ["a"], ["{a"]),
    ("{" + ",".join(["a"] * 1025) + "}", ["{" + ",".join(["a"] * 1025) + "}"], ["a"]),
    ("{a}" * 2000, ["a" * 2000], ["a" * 1999, "{a}" * 2000]),
    # stars, question marks, bytes
    ("", [""], ["a", " "]),
    ("*", ["", "abc", "a/b", "\n", "é"], []),
    ("?", ["a", "/", "\n", "\0"], ["", "ab", "é"]),
    ("??", ["é", "ab"], ["a", "abc"]),
    ("????", ["😀", "abcd"], ["abc"]),
    ("a\0b", ["a\0b"], ["a", "ab", "a\0"]),
    # escapes
    ("\\*", ["*"], ["a", "", "\\*"]),
    ("\\\\", ["\\"], ["\\\\", ""]),
    ("\\é", ["é"], ["\\é"]),
    ("a\\", ["a\\"], ["a", "a\\\\"]),
    ("\\", ["\\"], [""]),
    # classes
    ("[abc]", ["a", "b", "c"], ["d", "ab", ""]),
    ("[é]", [], ["é", "e"]),
    ("[é][é]", ["é"], ["e"]),
    ("[!a]", ["b", "/"], ["a", "é", ""]),
    ("[a-z]", ["a", "m", "z"], ["A", "é", "-"]),
    ("[]]", ["]"], ["[]]", "a", ""]),
    ("[!]]", ["a", "[", "!"], ["]", "", "ab"]),
    ("[]", ["[]"], ["]", "[", ""]),
    ("[!]", ["[!]"], ["a", "!"]),
    ("[c-a]", [], ["a", "b", "c", "[c-a]"]),
    ("[abc", ["[abc"], ["a", "[a"]),
    ("[a*", ["[a", "[axyz"], ["a", "[", "[b"]),
    ("[", ["["], [""]),
    ("[\\", ["[\\"], ["\\"]),
    ("[\\]", ["[]"], ["\\", "]"]),
    ("[\\]]", ["]"], ["\\"]),
    ("[\\\\]", ["\\"], ["]"]),
    ("[{a,b}]", ["a", "b"], ["{", ",", "}"]),
    ("[{}]", ["[]"], ["{", "}", ""]),
    ("[\\{]", ["{"], ["\\", "[\\{]"]),
    ("[-a]", ["-", "a"], ["b"]),
    ("[a\\-z]", ["a", "-", "z"], ["b", "y"]),
    ("[a--]", ["a", "-"], ["b"]),
    ("[a-c-e]", ["a", "b", "c", "-", "e"], ["d", "f"]),
    ("[^a]", ["^", "a"], ["b"]),
    ("[!-]", ["a"], ["-"]),
    ("x[ab]*[!c]", ["xad", "xbccd"], ["xac", "xcd"]),
]


@pytest.mark.parametrize(
    "pattern,text,expected",
    [(p, t, True) for p, yes, _ in CASES for t in yes]
    + [(p, t, False) for p, _, no in CASES for t in no],
    ids=lambda v: ascii(v)[:32] if isinstance(v, str) else str(v),
)
def test_glob_table(pattern, text, expected):
    result = tw.glob_match(pattern, text)
    assert type(result) is bool
    assert result is expected


@pytest.mark.parametrize("pattern", ["[", "{", "}", "\\", "[!", "{a,", "[{]", "{[}", "[a-", "]"])
def test_malformed_patterns_never_raise(pattern):
    assert isinstance(tw.glob_match(pattern, pattern), bool)


# -- references ---------------------------------------------------------------


def _glob_regex(alt: str) -> bytes:
    """Regex for one brace-free, class-free alternative, over UTF-8 bytes."""
    raw = alt.encode()
    out = []
    i = 0
    while i < len(raw):
        c = raw[i : i + 1]
        if c == b"*":
            out.append(b".*")
        elif c == b"?":
            out.append(b".")
        elif c == b"\\" and i + 1 < len(raw):
            i += 1
            out.append(re.escape(raw[i : i + 1]))
        else:
            out.append(re.escape(c))
        i += 1
    return b"".join(out)


def _ref_match(alts, text: str) -> bool:
    rx = re.compile(b"(?:" + b"|".join(_glob_regex(a) for a in alts) + b")", re.DOTALL)
    return rx.fullmatch(text.encode()) is not None


def _scan(t: str, start: int, ch: str) -> int:
    i = start
    while i < len(t):
        if t[i] == "\\":
            i += 2
        elif t[i] == ch:
            return i
        else:
            i += 1
    return -1


def _split_commas(body: str):
    segs, cur, i = [], [], 0
    while i < len(body):
        if body[i] == "\\":
            cur.append(body[i : i + 2])
            i += 2
        elif body[i] == ",":
            segs.append("".join(cur))
            cur = []
            i += 1
        else:
            cur.append(body[i])
            i += 1
    segs.append("".join(cur))
    return segs


def _expand(t: str):
    """Brace alternatives of t, or None when they would exceed 1024."""
    o = _scan(t, 0, "{")
    if o < 0:
        return [t]
    c = _scan(t, o + 1, "}")
    if c < 0:
        return [t]
    rests = _expand(t[c + 1 :])
    if rests is None:
        return None
    segs = _split_commas(t[o + 1 : c])
    if len(segs) * len(rests) > 1024:
        return None
    return [t[:o] + s + r for s in segs for r in rests]


def _alternatives(pattern: str):
    alts = _expand(pattern)
    return [pattern] if alts is None else alts


def _instantiate(data, alt: str) -> str:
    """A text that the alternative matches, with random fill for wildcards."""
    out, i = [], 0
    while i < len(alt):
        c = alt[i]
        if c == "*":
            out.append(data.draw(st.text(alphabet="ab,{", max_size=3)))
        elif c == "?":
            out.append(data.draw(st.sampled_from("a}/")))  # one byte each
        elif c == "\\" and i + 1 < len(alt):
            i += 1
            out.append(alt[i])
        else:
            out.append(c)
        i += 1
    return "".join(out)


@given(st.text(alphabet="ab*?/é", max_size=10), st.text(alphabet="ab/é", max_size=10))
def test_plain_glob_agrees_with_regex(pattern, text):
    assert tw.glob_match(pattern, text) is _ref_match([pattern], text)


BRACE_PATTERNS = st.text(alphabet="ab{},\\*?", max_size=14)
GROUP = st.lists(st.text(alphabet="ab*\\", max_size=2), min_size=1, max_size=4).map(
    lambda segs: "{" + ",".join(segs) + "}"
)
MANY_GROUPS = st.lists(st.one_of(GROUP, st.text(alphabet="ab*", max_size=2)), max_size=12).map("".join)


@settings(max_examples=300)
@given(st.one_of(BRACE_PATTERNS, MANY_GROUPS), st.data())
def test_brace_expansion_agrees_with_reference(pattern, data):
    alts = _alternatives(pattern)
    if data.draw(st.booleans()):
        text = data.draw(st.text(alphabet="ab{},\\", max_size=8))
    else:
        text = _instantiate(data, data.draw(st.sampled_from(alts)))
    assert tw.glob_match(pattern, text) is _ref_match(alts, text)


# -- worst cases: results only ------------------------------------------------

TAIL = "x" * 300_000  # 1024 alternatives around a long literal: pieces compiled once, not per alternative


@pytest.mark.parametrize(
    "pattern, text, expected",
    [
        ("a*" * 30 + "b", "a" * 5000, False),
        ("a*" * 30 + "b", "a" * 5000 + "b", True),
        ("{a}" * 200_000, "a" * 200_000, True),
        ("{a}" * 200_000, "a" * 199_999, False),
        ("{a}" * 200_000 + "{b,c}", "a" * 200_000 + "c", True),
        ("{*a,*b}" * 10, "ab" * 5_000, True),  # 1024 alternatives of ten stars each
        ("{*a,*b}" * 10, "a" * 9_999 + "c", False),
        ("{*a,*b}" * 10, "ab" * 4_999 + "cc", False),
        ("*" + "{a,b}" * 30 + "*", "x" * 10_000 + "{a,b}" * 30 + "y" * 10_000, True),  # literal fallback
        ("*" + "{a,b}" * 30 + "*", "ab" * 10_000, False),
        ("{a,b}" * 10 + TAIL, "ab" * 5 + TAIL, True),
        ("{a,b}" * 10 + TAIL, "ab" * 5 + TAIL + "y", False),
        ("[" * 100_000, "[" * 100_000, True),
        ("[" * 100_000, "[" * 99_999, False),
        ("{a,b}" * 10 + "[" * 5_000 + "*", "ab" * 5 + "[" * 5_000 + "tail", True),
    ],
    ids=lambda v: str(len(v)) if isinstance(v, str) else str(v),
)
def test_worst_cases(pattern, text, expected):
    assert tw.glob_match(pattern, text) is expected
