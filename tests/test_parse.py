"""parse(), the Directive attributes and the canonical text form."""

import re

import pytest
from hypothesis import assume, given, strategies as st

from helpers import EMPTY_ACTION, EMPTY_KIND, EMPTY_NAME, EQ_BEFORE_COLON, NO_COLON, fields, find
from tarnwick import _tarnwick as tw

# Unicode White_Space, nothing else (str.strip() would also take \x1c-\x1f)
WS = "\t\n\v\f\r \x85\xa0\u1680\u2028\u2029\u202f\u205f\u3000" + "".join(map(chr, range(0x2000, 0x200B)))


def ref_parse(spec):
    """The grammar, step by step: the fields, or the error message."""
    colon, eq = find(spec, ":"), find(spec, "=")
    if colon < 0:
        return NO_COLON
    if 0 <= eq < colon:
        return EQ_BEFORE_COLON
    action, head, kind, path, note = spec[:colon].strip(WS), spec[colon + 1:], None, None, None
    if not action:
        return EMPTY_ACTION
    if (e := find(head, "=")) >= 0:
        head, note = head[:e], head[e + 1:]
    body = head.strip(WS)
    if body.startswith("<") and (gt := find(body, ">", 1)) >= 0:
        kind, body = body[1:gt].strip(WS), body[gt + 1:].lstrip(WS)
        if not kind:
            return EMPTY_KIND
        kind = None if kind == "*" else re.sub(r"\\(.)", r"\1", kind, flags=re.S)
    name = body
    if (at := find(body, "@")) >= 0:
        name, path = body[:at].strip(WS), body[at + 1:].strip(WS)
    return (action, kind, name, path, note) if name else EMPTY_NAME


def test_every_white_space_is_trimmed_at_each_end():  # the trim fast path must know each ASCII one
    assert [c for c in WS if fields(tw.parse(f"{c}allow:foo{c}"))[:3] != ("allow", None, "foo")] == []


def parsed(text, **kw):
    try:
        d = tw.parse(text, **kw)
    except tw.DirectiveError as e:
        assert e.args == (str(e),)
        return str(e)
    assert type(d) is tw.Directive
    return fields(d)


@given(st.text(alphabet=":=<>@\\*ab\xe9 \t\n\x1c\x85\u3000\u200b", max_size=16))
def test_parse_agrees_with_reference(text):
    assert parsed(text) == ref_parse(text)


# Each error once, and a few texts a random one seldom spells.
@pytest.mark.parametrize("text", [
    "", "a=b", "x=y:z", "x=:y", r"x\=y=z:w", "\u3000\xa0\x85:foo", ":<>", "allow:", "allow:@src", "allow:<>foo",
    "allow:<fn>", r"a\\:b", r"allow:<\**>x", "allow:<fn foo", r"allow:<a\>", r"allow:<a\ >c", r"allow:<\\xe9>x",
    "allow:<a@b>c@d", "allow:a@b=c@d", " Allow : <fn> foo* @ src/* = keep me ", "\x1callow:x\x1d\x1e\x1f",
    "\u1680\u2028allow\u2029\u202f:\u205f\u200afoo\v\f@\u2000src\u2009", "allow:x=a\nb ", "allow:<fn> foo", "a:<>",
])
def test_parse_examples(text):
    assert parsed(text) == ref_parse(text)


# --- canonical text form and repr -------------------------------------------

@pytest.mark.parametrize("text, form", [
    (" Allow : <fn> foo* @ src/* = keep me ", "Allow:<fn>foo*@src/*= keep me "), (r"allow:<a\>b>c", "allow:<a>b>c"),
    (r"allow:<\*>foo", "allow:<*>foo"), ("allow:<*>foo", "allow:foo"), (r"allow:a\@b{x,y}", r"allow:a\@b{x,y}"),
])
def test_str_and_repr(text, form):
    assert (str(tw.parse(text)), repr(tw.parse(text))) == (form, "Directive(" + form + ")")


# No backslash: the canonical form drops the escapes of a kind, so a text with them need not round-trip.
ROUND_TRIP = "<>@*ab{},/\xe9 \t\n\xa0\x1c\x85\u3000"


@given(st.builds("{}:{}".format, st.text(ROUND_TRIP, max_size=4), st.text(ROUND_TRIP + ":=", max_size=14)))
def test_canonical_form_round_trips(text):
    try:
        d = tw.parse(text)
    except tw.DirectiveError:
        assume(False)
    assume(not d.name.startswith("<"))
    again = tw.parse(str(d))
    assert (fields(again), str(again)) == (fields(d), str(d))


# --- actions: parse errors come first, then a refused action ----------------


@pytest.mark.parametrize("text, actions, expected", [
    (r"a\:b:x", {"allow"}, r'unknown action "a\\:b"; allowed: ["allow"]'), ("nope:", {"allow"}, EMPTY_NAME),
    ("nope:<>x", set(), EMPTY_KIND), (" allow :x", {"allow"}, "allow"), (r"a\:b:x", {r"a\:b"}, r"a\:b"),
])
def test_actions(text, actions, expected):
    got = parsed(text, actions=actions)
    assert (got if isinstance(got, str) else got[0]) == expected
