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
    ("a{}b", ["ab"], ["a{}b", "a b"]),
    ("x{a}y", ["xay"], ["x{a}y", "xy"]),
    ("{a,{b,c}}", ["a}", "{b}", "c}"], ["a", "b", "c", "{b", "{a,{b,c}}"]),
    ("{a\\,b,c}", ["a,b", "c"], ["a\\,b", "a", "b"]),
    ("{a,b\\}", ["{a,b}"], ["a", "b", "{a,b\\}"]),
    ("{a,b}{c", ["a{c", "b{c"], ["{a,b}{c", "ac"]),
    ("{a,b}", ["a", "b"], ["{a,b}", "ab", ""]),
    ("\\{a,b}", ["{a,b}"], ["a", "b", "\\{a,b}"]),
    ("{a\\\\,b}", ["a\\", "b"], ["a\\,b", "a"]),
    ("{,}", [""], [",", "{,}"]),
    ("x{,}", ["x"], ["x,", ""]),
    ("{a,b", ["{a,b"], ["a", "b"]),
    ("}{a,b", ["}{a,b"], ["}a", "a"]),
    ("a}b,c", ["a}b,c"], ["ab", "c"]),
    ("*{a", ["{a", "x{a"], ["a"]),
    ("{a{b,c}", ["a{b", "c"], ["ab", "b", "{a{b,c}"]),
    ("{a}x{", ["ax{"], ["a", "{a}x{"]),
    ("{[ab],c}", ["a", "b", "c"], ["[ab]", "d"]),
    ("{a*,b?}", ["a", "axyz", "bz"], ["b", "bzz"]),
    ("ab" + "{a}" * 5, ["ab" + "a" * 5], ["ab" + "{a}" * 5]),
    # the cap on the number of alternatives
    (TEN, ["a" * 10, "b" * 10, "ab" * 5], [TEN, "a" * 9, "a" * 11]),
    (ELEVEN, [ELEVEN], ["a" * 11, "b" * 11]),
    ("*" + ELEVEN, [ELEVEN, "zz" + ELEVEN], ["a" * 11]),
    ("[xy]?" + ELEVEN, ["xq" + ELEVEN, "yq" + ELEVEN], ["zq" + ELEVEN, "x" + ELEVEN]),
    ("{a,b,c,d}" * 5, ["abcda", "ddddd"], ["{a,b,c,d}" * 5, "abcd"]),
    ("{a,b,c,d}" * 5 + "{a,b}", ["{a,b,c,d}" * 5 + "{a,b}"], ["abcdab"]),
    ("{a,b,c}" * 6, ["abcabc"], ["{a,b,c}" * 6]),
    ("{a,b,c}" * 7, ["{a,b,c}" * 7], ["abcabca"]),
    ("{" + ",".join(["a"] * 1024) + "}", ["a"], ["{a"]),
    ("{" + ",".join(["a"] * 1025) + "}", ["{" + ",".join(["a"] * 1025) + "}"], ["a"]),
    ("{a}" * 2000, ["a" * 2000], ["a" * 1999, "{a}" * 2000]),
    # stars, question marks, bytes
    ("", [""], ["a", " "]),
    ("*", ["", "abc", "a/b", "\n", "é"], []),
    ("**", ["", "abc", "a/b/c"], []),
    ("a**b", ["ab", "axxb", "a/b"], ["a", "ba"]),
    ("?", ["a", "/", "\n", "\0"], ["", "ab", "é"]),
    ("??", ["é", "ab"], ["a", "abc"]),
    ("????", ["😀", "abcd"], ["abc"]),
    ("src/*", ["src/a/b/c", "src/"], ["sr", "src", "lib/src/a"]),
    ("A*", ["A", "Abc"], ["abc", ""]),
    ("a*b*c", ["abxbxc", "abc", "aXbYc"], ["abxbx", "acb"]),
    ("*a*a*a*b", ["aaab", "xaxaxaxb"], ["aab", "aaaa"]),
    ("é*", ["é", "éa"], ["e", "a"]),
    ("*é", ["é", "aé"], ["e", "éa"]),
    ("a\0b", ["a\0b"], ["a", "ab", "a\0"]),
    ("a", ["a"], ["a\0", "A", "aa"]),
    # escapes
    ("\\*", ["*"], ["a", "", "\\*"]),
    ("\\?", ["?"], ["a"]),
    ("\\a", ["a"], ["\\a"]),
    ("\\\\", ["\\"], ["\\\\", ""]),
    ("\\é", ["é"], ["\\é"]),
    ("a\\", ["a\\"], ["a", "a\\\\"]),
    ("\\", ["\\"], [""]),
    # classes
    ("[abc]", ["a", "b", "c"], ["d", "ab", ""]),
    ("[é]", [], ["é", "e"]),
    ("[é][é]", ["é"], ["e"]),
    ("[!a]", ["b", "/"], ["a", "é", ""]),
    ("[!a][!a]", ["é", "bb"], ["ab"]),
    ("[a-z]", ["a", "m", "z"], ["A", "é", "-"]),
    ("[]]", ["]"], ["[]]", "a", ""]),
    ("[!]]", ["a", "[", "!"], ["]", "", "ab"]),
    ("[]", ["[]"], ["]", "[", ""]),
    ("[!]", ["[!]"], ["a", "!"]),
    ("[!a-c]", ["d", "z"], ["a", "b", "c"]),
    ("[c-a]", [], ["a", "b", "c", "[c-a]"]),
    ("[abc", ["[abc"], ["a", "[a"]),
    ("[a*", ["[a", "[axyz"], ["a", "[", "[b"]),
    ("[", ["["], [""]),
    ("[!", ["[!"], ["a"]),
    ("[\\", ["[\\"], ["\\"]),
    ("[\\]", ["[]"], ["\\", "]"]),
    ("[\\]]", ["]"], ["\\"]),
    ("[\\\\]", ["\\"], ["]"]),
    ("[{a,b}]", ["a", "b"], ["{", ",", "}"]),
    ("[{}]", ["[]"], ["{", "}", ""]),
    ("[\\{]", ["{"], ["\\", "[\\{]"]),
    ("[-a]", ["-", "a"], ["b"]),
    ("[a-]", ["-", "a"], ["b"]),
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


def test_keyword_arguments():
    assert tw.glob_match(pattern="a*", text="abc") is True
    assert tw.glob_match(text="a*", pattern="abc") is False


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


def test_reference_expander_agrees_with_worked_rows():
    assert _alternatives("x{a,b}y{1,2}") == ["xay1", "xay2", "xby1", "xby2"]
    assert _alternatives("{a,{b,c}}") == ["a}", "{b}", "c}"]
    assert _alternatives("{a\\,b,c}") == ["a\\,b", "c"]
    assert _alternatives("{a,b\\}") == ["{a,b\\}"]
    assert _alternatives(ELEVEN) == [ELEVEN]


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


PLAIN_PATTERNS = st.text(alphabet="ab*?/é", max_size=10)
PLAIN_TEXTS = st.text(alphabet="ab/é", max_size=10)


@given(PLAIN_PATTERNS, PLAIN_TEXTS)
def test_plain_glob_agrees_with_regex(pattern, text):
    assert tw.glob_match(pattern, text) is _ref_match([pattern], text)


@given(PLAIN_PATTERNS, st.data())
def test_plain_glob_matches_its_instances(pattern, data):
    text = _instantiate(data, pattern)
    assert _ref_match([pattern], text)
    assert tw.glob_match(pattern, text) is True


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


def test_many_stars_against_long_text():
    pattern = "a*" * 30 + "b"
    assert tw.glob_match(pattern, "a" * 5000) is False
    assert tw.glob_match(pattern, "a" * 5000 + "b") is True


def test_many_single_alternative_groups():
    pattern = "{a}" * 200_000
    assert tw.glob_match(pattern, "a" * 200_000) is True
    assert tw.glob_match(pattern, "a" * 199_999) is False
    assert tw.glob_match(pattern + "{b,c}", "a" * 200_000 + "c") is True


def test_max_alternatives_with_many_stars():
    pattern = "{*a,*b}" * 10  # 1024 alternatives of ten stars each
    assert tw.glob_match(pattern, "a" * 10_000) is True
    assert tw.glob_match(pattern, "b" * 10_000) is True
    assert tw.glob_match(pattern, "ab" * 5_000) is True
    assert tw.glob_match(pattern, "a" * 9_999 + "c") is False
    assert tw.glob_match(pattern, "ab" * 4_999 + "cc") is False


def test_long_literal_fallback_still_wildcards():
    pattern = "*" + "{a,b}" * 30 + "*"
    assert tw.glob_match(pattern, "x" * 10_000 + "{a,b}" * 30 + "y" * 10_000) is True
    assert tw.glob_match(pattern, "ab" * 10_000) is False


def test_brace_pattern_with_long_tail_compiles_in_linear_memory():
    # 1024 alternatives around a 300 kB literal: the pieces are compiled
    # once, not once per alternative.
    tail = "x" * 300_000
    pattern = "{a,b}" * 10 + tail
    assert tw.glob_match(pattern, "ab" * 5 + tail)
    assert not tw.glob_match(pattern, "ab" * 5 + tail + "y")
    assert tw.parse("a:" + pattern).name == pattern


def test_many_unclosed_brackets_stay_literal():
    n = 100_000
    assert tw.glob_match("[" * n, "[" * n)
    assert tw.glob_match("{a,b}" * 10 + "[" * 5_000 + "*", "ab" * 5 + "[" * 5_000 + "tail")
    assert not tw.glob_match("[" * n, "[" * (n - 1))
