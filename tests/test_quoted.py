"""The quoted form of user texts inside DirectiveError messages."""

import unicodedata

import pytest
from hypothesis import assume, given
from hypothesis import strategies as st

from tarnwick import _tarnwick as tw

SEVERITY_TAIL = '; expected "error", "warning", or "info"'


def refusal(token, actions=frozenset()):
    """Message of the refused action for a directive with this action token."""
    with pytest.raises(tw.DirectiveError) as ei:
        tw.parse(token + ":x", actions=actions)
    assert ei.value.args == (str(ei.value),)
    return str(ei.value)


def severity_error(value):
    with pytest.raises(tw.DirectiveError) as ei:
        tw.lint_fold(value, [], [])
    assert ei.value.args == (str(ei.value),)
    return str(ei.value)


# (character, how it is written inside the quotes): the escapes, then one or two
# of each hidden class (Grapheme_Extend incl. Mc/Lm members, Cc, Cf, Co, Cn, Zl, Zp, Zs), then visible ones
CHARACTERS = [
    ('"', '\\"'), ("\\", "\\\\"), ("\0", "\\0"), ("\t", "\\t"), ("\r", "\\r"), ("\n", "\\n"),
    ("\u0301", "\\u{301}"), ("\u20dd", "\\u{20dd}"), ("\u09be", "\\u{9be}"), ("\uff9e", "\\u{ff9e}"),
    ("\x01", "\\u{1}"), ("\x7f", "\\u{7f}"), ("\x85", "\\u{85}"), ("\u200b", "\\u{200b}"),
    ("\U000e0001", "\\u{e0001}"), ("\ue000", "\\u{e000}"), ("\U0010fffd", "\\u{10fffd}"),
    ("\ufdd0", "\\u{fdd0}"), ("\U0010ffff", "\\u{10ffff}"), ("\u2028", "\\u{2028}"),
    ("\u2029", "\\u{2029}"), ("\u00a0", "\\u{a0}"), ("\u3000", "\\u{3000}"),
    ("'", "'"), (" ", " "), ("\U0001f600", "\U0001f600"),
]


@pytest.mark.parametrize("char,written", CHARACTERS, ids=lambda v: ascii(v))
def test_character_in_action_token(char, written):
    assert refusal("a" + char + "b") == 'unknown action "a' + written + 'b"; allowed: []'


@pytest.mark.parametrize(
    "token,quoted",
    [
        ('a"b\\c', '"a\\"b\\\\c"'),
        ("\u0301", '"\\u{301}"'),
        (" \ta\u00a0b\u3000 ", '"a\\u{a0}b"'),  # the parser trims the token first
        ("\\u{41}", '"\\\\u{41}"'),
    ],
    ids=ascii,
)
def test_whole_token_quoted(token, quoted):
    assert refusal(token) == "unknown action " + quoted + "; allowed: []"


@pytest.mark.parametrize(
    "allowed,listed",
    [
        (set(), "[]"),
        ({"\U0001f600", "\uff21", "z"}, '["z", "\uff21", "\U0001f600"]'),  # code point order, not UTF-16 order
        ({"a b", 'q"', "t\tab", "\u00a0x"}, '["a b", "q\\"", "t\\tab", "\\u{a0}x"]'),
    ],
    ids=lambda v: ascii(sorted(v) if isinstance(v, set) else v),
)
@pytest.mark.parametrize("kind", [set, frozenset])
def test_allowed_list_sorted_and_quoted(allowed, listed, kind):
    assert refusal("nope", kind(allowed)) == 'unknown action "nope"; allowed: ' + listed


@pytest.mark.parametrize(
    "value,quoted",
    [("", '""'), ("ÉRROR", '"Érror"'), ("WARN\u0130NG", '"warn\u0130ng"'), ("ERROR\u00a0", '"error\\u{a0}"')],
    ids=ascii,
)
def test_unknown_severity_quoted(value, quoted):
    assert severity_error(value) == "unknown severity " + quoted + SEVERITY_TAIL


# -- property tests against a small reference ----------------------------------

_ESCAPES = {'"': '\\"', "\\": "\\\\", "\0": "\\0", "\t": "\\t", "\r": "\\r", "\n": "\\n"}
_HIDDEN = {"Mn", "Me", "Cc", "Cf", "Co", "Zl", "Zp"}


def ref_quote(text):
    out = []
    for ch in text:
        cat = unicodedata.category(ch)
        if ch in _ESCAPES:
            out.append(_ESCAPES[ch])
        elif cat in _HIDDEN or (cat == "Zs" and ch != " "):
            out.append("\\u{%x}" % ord(ch))
        else:
            out.append(ch)
    return '"' + "".join(out) + '"'


def ascii_lower(text):
    return "".join(chr(ord(c) + 32) if "A" <= c <= "Z" else c for c in text)


# Leave out categories whose Grapheme_Extend membership is not decided by the
# category alone (Mc, Lm, Sk), and code points whose category may differ
# between Unicode versions (unassigned, astral).
CHARS = st.characters(exclude_categories=("Cs", "Cn", "Mc", "Lm", "Sk"), max_codepoint=0xFFFF)
TOKEN_CHARS = st.characters(
    exclude_categories=("Cs", "Cn", "Mc", "Lm", "Sk"),
    exclude_characters=":=\\",
    max_codepoint=0xFFFF,
)


@given(st.text(TOKEN_CHARS, max_size=12))
def test_token_quote_agrees_with_reference(middle):
    token = "[" + middle + "]"
    assert refusal(token) == "unknown action " + ref_quote(token) + "; allowed: []"


@given(st.text(CHARS, max_size=12))
def test_severity_quote_agrees_with_reference(value):
    assume(ascii_lower(value) not in ("error", "warning", "info"))
    assert severity_error(value) == "unknown severity " + ref_quote(ascii_lower(value)) + SEVERITY_TAIL


MEMBER_CHARS = st.one_of(
    st.characters(categories=("Lu", "Ll", "Lo", "Nd"), max_codepoint=0xFFFF),
    st.sampled_from(["\U00010400", "\U0001f600", "\U00020000", "\uff21", "\ufb01"]),
)


@given(st.sets(st.text(MEMBER_CHARS, min_size=1, max_size=4), max_size=6))
def test_allowed_list_in_utf8_byte_order(allowed):
    assume("zz" not in allowed)
    members = sorted(allowed, key=lambda s: s.encode())
    listed = "[" + ", ".join(ref_quote(m) for m in members) + "]"
    assert refusal("zz", allowed) == 'unknown action "zz"; allowed: ' + listed
