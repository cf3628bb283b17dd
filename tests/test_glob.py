"""glob_match: brace expansion, classes, escapes and full-text byte matching."""

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from helpers import find
from tarnwick import _tarnwick as tw

ELEVEN, TEN = "{a,b}" * 11, "{a,b}" * 10

# A few documented examples; the property below checks the rest against a reference.
CASES = [  # (pattern, texts that match, texts that do not)
    ("x{a,b}y{1,2}", ["xay1", "xby2"], ["xy", "x{a,b}y{1,2}"]),
    ("{a,{b,c}}", ["a}", "{b}", "c}"], ["a", "{a,{b,c}}"]), ("{a\\,b,c}", ["a,b", "c"], ["a\\,b", "b"]),
    ("{a,b", ["{a,b"], ["a"]),
    (TEN, ["a" * 10, "ab" * 5], [TEN, "a" * 9]),  # 1024 alternatives: at the cap
    (ELEVEN, [ELEVEN], ["a" * 11]),  # 2048: over it, so the text is literal
    ("*" + ELEVEN, ["zz" + ELEVEN], ["a" * 11]),
    ("?", ["a", "\n", "\0"], ["", "\xe9"]),  # one byte, not one character
    ("????", ["\U0001f600"], ["abc"]), ("a\\", ["a\\"], ["a"]), ("[!a]", ["b", "/"], ["a", "\xe9", ""]),
    ("[]]", ["]"], ["[]]"]), ("[a-c-e]", ["b", "-", "e"], ["d"]), ("[^a]", ["^", "a"], ["b"]),
    ("[abc", ["[abc"], ["a"]), ("x[ab]*[!c]", ["xad", "xbccd"], ["xac", "xcd"]),
    # one-line faults the suite once missed
    ("*ab*ab*", ["abab"], ["xaby"]), ("{a,b}*", ["ab", "bzz"], ["c", "zab"]), ("[a-c]", ["c"], ["d"]), ("[a-]", ["-"], ["b"]),
    ("*" + "b" * 80 + "*" + "b" * 80 + "*", ["b" * 160], ["b" * 159]),
    ("*" + "?b" * 40 + "*" + "?b" * 40 + "*", ["b" * 160], ["b" * 159]),
    ("*" + "?b" * 70 + "*", ["a" + "ab" * 70 + "c"], ["ab" * 69 + "a"]),  # a run over three words
    ("x{*a,b}", ["xa", "xba", "xb"], ["xab"]),
    ("[{,a}]]", ["]", "a]"], ["a", "]]"]),  # a cut class whose readings close at two `]`
] + [("{a,b}" + "c" * k + "*d", ["a" + "c" * k + "d", "bc" + "c" * k + "d"], ["a" + "c" * k]) for k in (57, 58, 59)]
TAIL = "x" * 300_000  # 1024 alternatives around a long literal: pieces compiled once, not per alternative
CUT = "{x,[}" + "{a,b}" * 9 + "*" + "a" * 1_000 + "]"  # a class cut by braces: in the `[` alternatives, one class
WORST = [  # the worst cases found so far
    ("a*" * 30 + "b", ["a" * 5000 + "b"], ["a" * 5000]),
    ("{a}" * 200_000 + "{b,c}", ["a" * 200_000 + "c"], ["a" * 199_999 + "c", "{a}" * 200_000 + "c"]),
    ("{*a,*b}" * 10, ["ab" * 5_000], ["a" * 9_999 + "c", "ab" * 4_999 + "cc"]),  # 1024 alternatives of ten stars
    ("*" + "{a,b}" * 30 + "*", ["x" * 10_000 + "{a,b}" * 30 + "y" * 10_000], ["ab" * 10_000]),  # literal fallback
    ("{,}" * 10 + "*" + "?a" * 2_000 + "b*", ["a" * 8_000 + "b"], ["a" * 8_000]),  # every position live at once
    (CUT, ["x" + "a" * 2_000 + "]", "*"], ["[" + "a" * 2_000 + "]"]),
    ("{a,b}" * 10 + TAIL, ["ab" * 5 + TAIL], ["ab" * 5 + TAIL + "y"]),
    ("[" * 100_000, ["[" * 100_000], ["[" * 99_999]),
    ("{a,b}" * 10 + "[" * 5_000 + "*", ["ab" * 5 + "[" * 5_000 + "tail"], []),
]


@pytest.mark.parametrize("pattern,yes,no", CASES + WORST, ids=lambda v: ascii(v)[:24] if isinstance(v, str) else "")
def test_glob_table(pattern, yes, no):
    want = [True] * len(yes) + [False] * len(no)
    assert [tw.glob_match(pattern, t) for t in yes + no] == want
    for engine in ENGINES if len(pattern) < 200 else []:  # each engine that takes it, not only the one chosen
        assert [tw._glob_match_as(engine, pattern, t) for t in yes + no] in (want, [None] * len(want))



# -- reference: expand the braces, then match each alternative naively ---------


def _split_commas(body: str):
    segs, start, i = [], 0, find(body, ",")
    while i >= 0:
        segs.append(body[start:i])
        start, i = i + 1, find(body, ",", i + 1)
    return segs + [body[start:]]


def _expand(t: str):
    """Brace alternatives of t, or None when they would exceed 1024."""
    o = find(t, "{")
    c = find(t, "}", o + 1) if o >= 0 else -1
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
    negated = s[i + 1 : i + 2] == b"!"
    j = start = i + 1 + negated
    items = []  # (is a dash marker, byte)
    while j < len(s) and (s[j] != ord("]") or j == start):
        escaped = s[j] == ord("\\")
        if escaped and j + 1 == len(s):
            return None
        items.append((False, s[j + 1]) if escaped else (s[j] == ord("-"), s[j]))
        j += 1 + escaped
    members, k = set(), 0
    while k < len(items):
        if k + 2 < len(items) and not items[k][0] and items[k + 1][0] and not items[k + 2][0]:
            members.update(range(items[k][1], items[k + 2][1] + 1))
            k += 2
        else:
            members.add(items[k][1])
        k += 1
    return None if j >= len(s) else ((ALL - members if negated else frozenset(members)), j + 1)


def _tokens(alt: bytes):
    out, i = [], 0
    while i < len(alt):
        c, cls = alt[i], _class(alt, i) if alt[i] == ord("[") else None
        if c == ord("\\") and i + 1 < len(alt):
            i += 1
            out.append(frozenset([alt[i]]))
        elif cls:
            out.append(cls[0])
            i = cls[1] - 1
        else:
            out.append({ord("*"): STAR, ord("?"): ALL}.get(c, frozenset([c])))
        i += 1
    return out


def _match_alt(toks, text: bytes) -> bool:
    reach = {0}
    for tok in toks:
        if not (reach := set(range(min(reach), len(text) + 1)) if tok is STAR else
                {t + 1 for t in reach if t < len(text) and text[t] in tok}):
            return False
    return len(text) in reach


def _reference(pattern: str, text: str) -> bool:
    alts = _expand(pattern) or [pattern]
    return any(_match_alt(_tokens(a.encode()), text.encode()) for a in alts)


FILL = [b"", b"a", b"b]{", b"\xc3\xa9" * 40, b"ab" * 150]  # what a `*` takes: some texts leave the short path


def _text_for(data, pattern: str, fill=FILL) -> str:
    """A text that one alternative of the pattern likely matches."""
    out = []
    for tok in _tokens(data.draw(st.sampled_from(_expand(pattern) or [pattern])).encode()):
        if tok is STAR:
            out.append(data.draw(st.sampled_from(fill)))
        else:
            ascii_members = sorted(b for b in tok if b < 128)
            out.append(bytes([data.draw(st.sampled_from(ascii_members))]) if ascii_members else b"\xc3")
    return b"".join(out).decode(errors="replace")


CHARS = "ab*?[]!-{},\\é"
GROUP = st.lists(st.text(alphabet="ab*?[]-\\é", max_size=4), min_size=1, max_size=4).map(
    lambda segs: "{" + ",".join(segs) + "}"
)
PLAIN_TOKENS = ["a", "b", "?", "\\", "\\*"]
PLAIN = st.lists(st.lists(st.sampled_from(PLAIN_TOKENS), max_size=3).map("".join), min_size=1, max_size=5).map(
    "*".join)  # runs between stars: the Plain form
RANGES = st.lists(st.sampled_from(PLAIN_TOKENS + ["*", "[a-c]", "[!b]", "[b-a]", "[!a-b]", "[a-]"]), max_size=10).map(
    "".join)
RUN = st.integers(0, 3).map(lambda k: "?ab"[k:] + "b" * 80)  # runs of about 64 and 128 tokens between stars
WIDE = st.lists(st.one_of(RUN, st.sampled_from(["*", "a", "{,*}", "{a,b?}", "[ab]"])), max_size=6).map("".join)
CUT = st.tuples(st.text("ab*", max_size=3), GROUP, st.text("ab*?", max_size=4)).map(  # a class cut by braces
    lambda t: "*{" + t[0] + ",[}" + t[1] + t[2] + "]")
# Classes cut by choices of plain bytes: read once per distinct reading, where
# options repeat a reading ({a,a}, or {a,b} before an `a`) or differ in part.
CHOICE = st.lists(st.text(alphabet="ab-!?*", max_size=2), min_size=2, max_size=3).map(lambda s: "{" + ",".join(s) + "}")
READINGS = st.lists(st.one_of(CHOICE, st.sampled_from(["[", "[!", "]", "a", "-", "b-", "*", "\\]", "[a]"])),
                    min_size=2, max_size=8).map("".join)
PATTERNS = st.one_of(
    st.text(alphabet=CHARS, max_size=20), PLAIN, RANGES, WIDE, CUT, READINGS,
    st.lists(st.one_of(st.text(alphabet=CHARS, max_size=40), GROUP), max_size=8).map("".join),
)
ENGINES = ["short", "plain", "positions", "steps", "alternatives"]


def _near(data, text: str) -> str:
    """The text with one character dropped or doubled: a near miss."""
    if not text:
        return text
    k = data.draw(st.integers(0, len(text) - 1))
    return text[:k] + text[k + 1 :] if data.draw(st.booleans()) else text[: k + 1] + text[k:]


@settings(max_examples=600, deadline=None)
@given(PATTERNS, st.data())
def test_every_engine_agrees_with_reference(pattern, data):
    hit, literal = _text_for(data, pattern), tw._literal(pattern)
    tight = _text_for(data, pattern, fill=[b""])  # a shortest match: where offsets are off by one
    for text in (data.draw(st.text(alphabet="ab[]{},-!*?\\é", max_size=150)), hit, _near(data, hit),
                 _near(data, tight), _near(data, tight), _near(data, _near(data, tight))):
        expected = _reference(pattern, text)
        got = {engine: tw._glob_match_as(engine, pattern, text) for engine in ENGINES}
        assert {e: g for e, g in got.items() if g is not None and g is not expected} == {}
        assert got["alternatives"] is not None and tw.glob_match(pattern, text) is expected
        # Past the short path: the same pattern compiled and kept.
        assert not pattern or tw.parse("x:" + pattern).matches([text]) is expected
        if literal is not None:  # what a policy looks up instead of matching
            assert _reference(pattern, literal) and expected is (text == literal)


def test_engine_hook_refuses_unknown_engines():
    with pytest.raises(ValueError, match="no engine named 'fast'"):
        tw._glob_match_as("fast", "a", "a")
