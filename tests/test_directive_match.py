"""Directive.matches: kind, name and path selection."""

import pytest
from hypothesis import given, strategies as st

from tarnwick import _tarnwick as tw


def test_kind_name_and_path_together():
    d = tw.parse("allow:<rs>foo*@src/*")
    assert d.matches(["foobar"], qualifier="rs", scopes=["src/a"]) is True
    assert d.matches(["foobar"], scopes=["src/a"]) is False
    assert d.matches(["foobar"], qualifier="rs") is False
    assert d.matches(["bar"], qualifier="rs", scopes=["src/a"]) is False


@pytest.mark.parametrize(
    "spec, qualifier, expected",
    [
        ("allow:<rs>x", "rs\xa0", False),
        ("allow:<r*>x", "rs", False),  # the kind is no glob
        ("allow:<r*>x", "r*", True),
        ("allow:<é>x", "e\u0301", False),  # no normalisation
        (r"allow:<\*>x", "*", True),
        ("allow:<*>x", None, True),
        ("allow:x", "anything", True),
    ],
)
def test_kind_is_an_exact_compare(spec, qualifier, expected):
    assert tw.parse(spec).matches(["x"], qualifier=qualifier) is expected


@pytest.mark.parametrize(
    "spec, scopes, expected",
    [
        ("allow:foo", None, True),
        ("allow:foo@*", [], False),
        ("allow:foo@*", [""], True),
        ("allow:foo@src/*", ["lib/a", "src/a/b"], True),
        ("allow:foo@", None, False),
        ("allow:foo@", ["a", ""], True),
    ],
)
def test_path_needs_a_matching_scope(spec, scopes, expected):
    assert tw.parse(spec).matches(["foo"], scopes=scopes) is expected


# --- agreement with a reference built from glob_match ------------------------

_GLOB = st.text(alphabet="ab*?[]{},!-/é", min_size=1, max_size=6)
_TEXTS = st.lists(st.text(alphabet="ab/{}[],é", max_size=4), max_size=4)


@st.composite
def directives(draw):
    kind = draw(st.sampled_from([None, "rs", "RS", "a b"]))
    text = "allow:" + ("" if kind is None else "<" + kind + ">") + draw(_GLOB)
    path = draw(st.none() | st.text(alphabet="ab*?/{},[]", max_size=5))
    return tw.parse(text if path is None else text + "@" + path)


def reference(d, names, qualifier, scopes):
    if d.kind is not None and qualifier != d.kind:
        return False
    if not any(tw.glob_match(d.name, n) for n in names):
        return False
    return d.path is None or any(tw.glob_match(d.path, s) for s in scopes or [])


@given(directives(), _TEXTS, st.sampled_from([None, "rs", "RS", " rs", "a b", ""]), st.none() | _TEXTS, st.data())
def test_matches_agrees_with_reference_in_any_order(d, names, qualifier, scopes, data):
    expected = reference(d, names, qualifier, scopes)
    assert d.matches(names, qualifier=qualifier, scopes=scopes) is expected
    shuffled_names = data.draw(st.permutations(names))
    shuffled_scopes = None if scopes is None else tuple(data.draw(st.permutations(scopes)))
    assert d.matches(tuple(shuffled_names), qualifier=qualifier, scopes=shuffled_scopes) is expected
