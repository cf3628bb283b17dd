"""glob_match: brace expansion, classes, escapes and full-text byte matching."""

import subprocess
import sys
import textwrap

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


# -- reference: expand the braces, then match each alternative naively ---------


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
    segs, start, i = [], 0, _scan(body, 0, ",")
    while i >= 0:
        segs.append(body[start:i])
        start, i = i + 1, _scan(body, i + 1, ",")
    return segs + [body[start:]]


def _expand(t: str):
    """Brace alternatives of t, or None when they would exceed 1024."""
    o = _scan(t, 0, "{")
    c = _scan(t, o + 1, "}") if o >= 0 else -1
    if c < 0:
        return [t]
    rests = _expand(t[c + 1 :])
    segs = _split_commas(t[o + 1 : c])
    if rests is None or len(segs) * len(rests) > 1024:
        return None
    return [t[:o] + s + r for s in segs for r in rests]


STAR = None
ALL = frozenset(range(256))


def _class(s: bytes, i: int):
    """(byte set, index after `]`) for the class at s[i] == `[`, or None if unclosed."""
    j = i + 1
    negated = j < len(s) and s[j] == ord("!")
    j += negated
    items = []  # (is a dash marker, byte)
    first = True
    while True:
        if j >= len(s):
            return None
        c = s[j]
        if c == ord("]") and not first:
            break
        if c == ord("\\"):
            if j + 1 >= len(s):
                return None
            items.append((False, s[j + 1]))
            j += 2
        else:
            items.append((c == ord("-"), c))
            j += 1
        first = False
    members, k = set(), 0
    while k < len(items):
        if k + 2 < len(items) and not items[k][0] and items[k + 1][0] and not items[k + 2][0]:
            members.update(range(items[k][1], items[k + 2][1] + 1))
            k += 3
        else:
            members.add(items[k][1])
            k += 1
    return (ALL - members if negated else frozenset(members)), j + 1


def _tokens(alt: bytes):
    out, i = [], 0
    while i < len(alt):
        c = alt[i]
        cls = _class(alt, i) if c == ord("[") else None
        if c == ord("*"):
            out.append(STAR)
        elif c == ord("?"):
            out.append(ALL)
        elif c == ord("\\") and i + 1 < len(alt):
            i += 1
            out.append(frozenset([alt[i]]))
        elif cls:
            out.append(cls[0])
            i = cls[1] - 1
        else:
            out.append(frozenset([c]))
        i += 1
    return out


def _match_alt(toks, text: bytes) -> bool:
    reach = {0}
    for tok in toks:
        if tok is STAR:
            reach = set(range(min(reach), len(text) + 1))
        else:
            reach = {t + 1 for t in reach if t < len(text) and text[t] in tok}
        if not reach:
            return False
    return len(text) in reach


def _reference(pattern: str, text: str) -> bool:
    alts = _expand(pattern) or [pattern]
    return any(_match_alt(_tokens(a.encode()), text.encode()) for a in alts)


def _text_for(data, pattern: str) -> str:
    """A text that one alternative of the pattern likely matches."""
    out = []
    for tok in _tokens(data.draw(st.sampled_from(_expand(pattern) or [pattern])).encode()):
        if tok is STAR:
            out.append(data.draw(st.sampled_from([b"", b"a", b"b]{", b"\xc3\xa9" * 40])))
        else:
            ascii_members = sorted(b for b in tok if b < 128)
            out.append(bytes([data.draw(st.sampled_from(ascii_members))]) if ascii_members else b"\xc3")
    return b"".join(out).decode(errors="replace")


CHARS = "ab*?[]!-{},\\é"
GROUP = st.lists(st.text(alphabet="ab*?[]-\\é", max_size=4), min_size=1, max_size=4).map(
    lambda segs: "{" + ",".join(segs) + "}"
)
PATTERNS = st.one_of(
    st.text(alphabet=CHARS, max_size=20),
    st.lists(st.one_of(st.text(alphabet=CHARS, max_size=40), GROUP), max_size=8).map("".join),
    st.lists(st.text(alphabet="ab*?[]é", min_size=30, max_size=70), min_size=1, max_size=3).map("".join),
)


@settings(max_examples=400, deadline=None)
@given(PATTERNS, st.data())
def test_glob_match_agrees_with_reference(pattern, data):
    if data.draw(st.booleans()):
        text = data.draw(st.text(alphabet="ab[]{},-!\\é", max_size=150))
    else:
        text = _text_for(data, pattern)
    expected = _reference(pattern, text)
    assert tw.glob_match(pattern, text) is expected
    # Past the short path: the same pattern compiled and kept.
    if pattern:
        assert tw.parse("x:" + pattern).matches([text]) is expected


def test_compiled_size_does_not_grow_with_alternatives():
    """Peak memory of compiling one class-heavy pattern with 2 and with 1024
    brace alternatives, each in a fresh process."""
    probe = textwrap.dedent("""
        import sys
        from tarnwick import _tarnwick as tw
        def peak():
            with open("/proc/self/status") as f:
                return next(int(l.split()[1]) * 1024 for l in f if l.startswith("VmHWM:"))
        pattern = "{" + ",".join(["a"] * int(sys.argv[1])) + "}" + "[ab]" * 100_000
        before = peak()
        assert tw.glob_match(pattern, "a" * 100_001)
        print(peak() - before)
    """)
    def growth(alternatives):
        out = subprocess.run([sys.executable, "-c", probe, str(alternatives)], capture_output=True, text=True, check=True)
        return int(out.stdout)
    few, many = growth(2), growth(1024)
    assert many < few + 1_000_000 and many < 4_000_000


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
        ("{,}" * 10 + "*" + "?a" * 2_000 + "b*", "a" * 8_000, False),  # every position live at once
        ("{,}" * 10 + "*" + "?a" * 2_000 + "b*", "a" * 8_000 + "b", True),
        ("{x,[}" + "{a,b}" * 9 + "*" + "a" * 1_000 + "]", "x" + "a" * 2_000 + "]", True),  # class cut by braces
        ("{x,[}" + "{a,b}" * 9 + "*" + "a" * 1_000 + "]", "*", True),  # ... in the `[` alternatives, one class
        ("{x,[}" + "{a,b}" * 9 + "*" + "a" * 1_000 + "]", "[" + "a" * 2_000 + "]", False),
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
