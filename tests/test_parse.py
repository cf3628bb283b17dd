"""parse(), the Directive attributes and the canonical text form."""

import pytest
from hypothesis import assume, given, strategies as st

from helpers import EMPTY_ACTION, EMPTY_KIND, EMPTY_NAME, EQ_BEFORE_COLON, NO_COLON, fields
from tarnwick import _tarnwick as tw


def plain(action, name, *, kind=None, path=None, note=None):
    return (action, kind, name, path, note)


PARSE_CASES = [
    # --- failures, in the order the parser checks them
    ("", NO_COLON),
    (r"a\:b", NO_COLON),
    ("a=b", NO_COLON),
    ("x=y:z", EQ_BEFORE_COLON),
    (r"x\=y=z:w", EQ_BEFORE_COLON),
    ("   :foo", EMPTY_ACTION),
    ("\u3000\xa0\x85:foo", EMPTY_ACTION),
    (":<>", EMPTY_ACTION),
    ("allow:", EMPTY_NAME),
    ("allow:@src", EMPTY_NAME),
    ("allow:<>foo", EMPTY_KIND),
    ("allow:<\u3000>foo", EMPTY_KIND),
    ("allow:<fn>", EMPTY_NAME),
    # --- action token
    (r"x\=y:z", plain(r"x\=y", "z")),
    (r"a\:b:c", plain(r"a\:b", "c")),
    (r"a\\:b", plain(r"a\\", "b")),
    ("de ny:x", plain("de ny", "x")),
    # --- kind filter
    ("allow:<*>foo", plain("allow", "foo")),
    (r"allow:<\*>foo", plain("allow", "foo", kind="*")),
    (r"allow:<\**>x", plain("allow", "x", kind="**")),
    ("allow:<fn foo", plain("allow", "<fn foo")),
    (r"allow:<a\>", plain("allow", r"<a\>")),
    (r"allow:<a\>b>c", plain("allow", "c", kind="a>b")),
    (r"allow:<a\ >c", plain("allow", "c", kind="a\\")),
    (r"allow:<a\=b>c", plain("allow", "c", kind="a=b")),
    (r"allow:<\é>x", plain("allow", "x", kind="é")),
    ("allow:< a b >x", plain("allow", "x", kind="a b")),
    ("allow:<a@b>c@d", plain("allow", "c", kind="a@b", path="d")),
    ("allow:<fn>\u3000\xa0foo", plain("allow", "foo", kind="fn")),
    # --- name, path, note
    ("allow:foo:bar", plain("allow", "foo:bar")),
    ("allow:a=b=c", plain("allow", "a", note="b=c")),
    ("allow:a@b@c", plain("allow", "a", path="b@c")),
    (r"allow:a\@b", plain("allow", r"a\@b")),
    ("allow:foo\\", plain("allow", "foo\\")),
    ("allow:foo @ ", plain("allow", "foo", path="")),
    ("allow:foo@ a b ", plain("allow", "foo", path="a b")),
    ("allow:foo= ", plain("allow", "foo", note=" ")),
    (r"allow:x=a\=b", plain("allow", "x", note=r"a\=b")),
    ("allow:a@b=c@d", plain("allow", "a", path="b", note="c@d")),
    ("allow:x=a\nb ", plain("allow", "x", note="a\nb ")),
    (" Allow : <fn> foo* @ src/* = keep me ", plain("Allow", "foo*", kind="fn", path="src/*", note=" keep me ")),
    # --- trimming uses Unicode White_Space, nothing else
    ("allow\n:foo\r\n", plain("allow", "foo")),
    ("\u1680\u2028allow\u2029\u202f:\u205f\u200afoo\v\f@\u2000src\u2009", plain("allow", "foo", path="src")),
    ("\x1callow:x", plain("\x1callow", "x")),
    ("allow:\u200bx", plain("allow", "\u200bx")),
]


@pytest.mark.parametrize("text, expected", PARSE_CASES)
def test_parse_table(text, expected):
    if isinstance(expected, str):
        with pytest.raises(tw.DirectiveError) as info:
            tw.parse(text)
        assert info.value.args == (expected,)
        assert str(info.value) == expected
    else:
        d = tw.parse(text)
        assert type(d) is tw.Directive
        assert fields(d) == expected


# --- canonical text form and repr -------------------------------------------

CANONICAL = [
    ("  allow : foo  ", "allow:foo"),
    (" Allow : <fn> foo* @ src/* = keep me ", "Allow:<fn>foo*@src/*= keep me "),
    (r"allow:<a\>b>c", "allow:<a>b>c"),
    (r"allow:<\*>foo", "allow:<*>foo"),
    ("allow:<*>foo", "allow:foo"),
    ("allow:foo @ = ", "allow:foo@= "),
    (r"allow:a\@b{x,y}", r"allow:a\@b{x,y}"),
    ('allow:"q"=a\nb', 'allow:"q"=a\nb'),
]


@pytest.mark.parametrize("text, form", CANONICAL)
def test_str_and_repr(text, form):
    d = tw.parse(text)
    assert str(d) == form
    assert repr(d) == "Directive(" + form + ")"


_WS = st.text(alphabet=" \t\xa0\u3000\x85", max_size=2)
_BASE = "ab*?[]{},/<>:@=é \x1c"


def _part(exclude, min_size=0):
    alphabet = "".join(c for c in _BASE if c not in exclude)
    return st.text(alphabet=alphabet, min_size=min_size, max_size=6)


@st.composite
def directive_texts(draw):
    text = draw(_WS) + draw(_part(":=", 1)) + draw(_WS) + ":" + draw(_WS)
    if draw(st.booleans()):
        text += "<" + draw(_WS) + draw(_part(">=", 1)) + draw(_WS) + ">" + draw(_WS)
    text += draw(_part("@=", 1)) + draw(_WS)
    if draw(st.booleans()):
        text += "@" + draw(_WS) + draw(_part("=")) + draw(_WS)
    if draw(st.booleans()):
        text += "=" + draw(st.text(alphabet=_BASE + "\t\xa0\n", max_size=6))
    return text


@given(directive_texts())
def test_canonical_form_round_trips(text):
    assert "\\" not in text
    try:
        d = tw.parse(text)
    except tw.DirectiveError:
        assume(False)
    assume(not d.name.startswith("<"))
    again = tw.parse(str(d))
    assert fields(again) == fields(d)
    assert str(again) == str(d)


# --- actions: parse errors come first, then a refused action ----------------


@pytest.mark.parametrize(
    "text, actions, expected",
    [
        ("alow:x", {"allow", "deny"}, 'unknown action "alow"; allowed: ["allow", "deny"]'),
        (r"a\:b:x", {"allow"}, r'unknown action "a\\:b"; allowed: ["allow"]'),
        ("x", {"allow"}, NO_COLON),
        ("nope:", {"allow"}, EMPTY_NAME),
        ("nope:<>x", set(), EMPTY_KIND),
        (" allow :x", {"allow"}, ("allow",)),  # accepted: (action,)
        (r"a\:b:x", {r"a\:b"}, (r"a\:b",)),
        ("Allow:foo", None, ("Allow",)),
    ],
)
def test_actions(text, actions, expected):
    if isinstance(expected, tuple):
        assert (tw.parse(text, actions=actions).action,) == expected
    else:
        with pytest.raises(tw.DirectiveError) as info:
            tw.parse(text, actions=actions)
        assert info.value.args == (expected,)
