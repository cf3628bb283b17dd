"""The quoted form of user texts inside DirectiveError messages, against a reference."""

import unicodedata

import pytest
from hypothesis import assume, given
from hypothesis import strategies as st

from helpers import SEVERITY_TAIL
from tarnwick import _tarnwick as tw


def refusal(token, actions=frozenset()):  # the message refusing this action token
    with pytest.raises(tw.DirectiveError) as ei:
        tw.parse(token + ":x", actions=actions)
    assert ei.value.args == (str(ei.value),)
    return str(ei.value)


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


# The reference leaves out categories whose Grapheme_Extend membership is not
# decided by the category alone (Mc, Lm, Sk), and code points whose category
# may differ between Unicode versions (unassigned, astral): the table has them.
CHARS = st.characters(exclude_categories=("Cs", "Cn", "Mc", "Lm", "Sk"), max_codepoint=0xFFFF)
TOKEN_CHARS = st.characters(exclude_categories=("Cs", "Cn", "Mc", "Lm", "Sk"), exclude_characters=":=\\",
                            max_codepoint=0xFFFF)


@pytest.mark.parametrize("char,written", [
    ("\\", "\\\\"), ("\u09be", "\\u{9be}"), ("\uff9e", "\\u{ff9e}"), ("\U000e0001", "\\u{e0001}"),
    ("\U0010fffd", "\\u{10fffd}"), ("\ufdd0", "\\u{fdd0}"), ("\U0010ffff", "\\u{10ffff}"),
    ("\U0001f600", "\U0001f600"),
], ids=ascii)
def test_characters_the_reference_leaves_out(char, written):
    assert refusal("a" + char + "b") == 'unknown action "a' + written + 'b"; allowed: []'


@given(st.text(TOKEN_CHARS, max_size=12) | st.sampled_from([" warning", "ERR", "\u0130NFO", "ERROR\xa0"]))
def test_token_and_severity_quotes_agree_with_reference(value):
    assert refusal("[" + value + "]") == "unknown action " + ref_quote("[" + value + "]") + "; allowed: []"
    assume(ascii_lower(value) not in ("error", "warning", "info"))
    with pytest.raises(tw.DirectiveError) as ei:
        tw.lint_fold(value, [], [])
    assert ei.value.args == ("unknown severity " + ref_quote(ascii_lower(value)) + SEVERITY_TAIL,)


MEMBER_CHARS = CHARS | st.sampled_from(["\U00010400", "\U0001f600", "\U00020000", "\uff21", "\ufb01"])


@given(st.sets(st.text(MEMBER_CHARS, min_size=1, max_size=4), max_size=6), st.sampled_from([set, frozenset]))
def test_allowed_list_quoted_in_utf8_byte_order(allowed, kind):
    assume("zz" not in allowed)
    members = sorted(allowed, key=lambda s: s.encode())  # code point order, not UTF-16 order
    listed = "[" + ", ".join(ref_quote(m) for m in members) + "]"
    assert refusal("zz", kind(allowed)) == 'unknown action "zz"; allowed: ' + listed
