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
        ("allow:<rs>x", None, False),
        ("allow:<rs>x", "rs", True),
        ("allow:<rs>x", "RS", False),
        ("allow:<rs>x", " rs", False),
        ("allow:<rs>x", "rs ", False),
        ("allow:<rs>x", "rs\xa0", False),
        ("allow:<rs>x", "", False),
        ("allow:<r*>x", "rs", False),
        ("allow:<r*>x", "r*", True),
        ("allow:<é>x", "é", True),
        ("allow:<é>x", "e\u0301", False),
        (r"allow:<\*>x", "*", True),
        (r"allow:<\*>x", "rs", False),
        ("allow:<*>x", None, True),
        ("allow:x", None, True),
        ("allow:x", "", True),
        ("allow:x", "anything", True),
    ],
)
def test_kind_is_an_exact_compare(spec, qualifier, expected):
    assert tw.parse(spec).matches(["x"], qualifier=qualifier) is expected


@pytest.mark.parametrize("spec", ["allow:*", "allow:foo", "allow:<k>*@*"])
@pytest.mark.parametrize("empty", [[], ()])
def test_empty_names_never_match(spec, empty):
    assert tw.parse(spec).matches(empty, qualifier="k", scopes=["a"]) is False


@pytest.mark.parametrize(
    "spec, scopes, expected",
    [
        ("allow:foo", None, True),
        ("allow:foo", [], True),
        ("allow:foo", ["x"], True),
        ("allow:foo@*", None, False),
        ("allow:foo@*", [], False),
        ("allow:foo@*", [""], True),
        ("allow:foo@src/*", ["lib/a", "src/a/b"], True),
        ("allow:foo@src/*", ["lib/a"], False),
        ("allow:foo@", None, False),
        ("allow:foo@", [], False),
        ("allow:foo@", ["a"], False),
        ("allow:foo@", [""], True),
        ("allow:foo@", ["a", ""], True),
    ],
)
def test_path_needs_a_matching_scope(spec, scopes, expected):
    assert tw.parse(spec).matches(["foo"], scopes=scopes) is expected


def test_sequences_other_than_list():
    d = tw.parse("allow:foo@src")
    assert d.matches(("bar", "foo"), scopes=("x", "src")) is True
    assert d.matches(names=["foo"], scopes=["src"]) is True


@pytest.mark.parametrize(
    "kwargs, param",
    [
        (dict(names="foo"), "names"),
        (dict(names={"foo"}), "names"),
        (dict(names=iter(["foo"])), "names"),
        (dict(names=["foo", 1]), "names"),
        (dict(names=[b"foo"]), "names"),
        (dict(names=["foo"], qualifier=b"k"), "qualifier"),
        (dict(names=["foo"], qualifier=["k"]), "qualifier"),
        (dict(names=["foo"], scopes="src"), "scopes"),
        (dict(names=["foo"], scopes=frozenset({"src"})), "scopes"),
        (dict(names=["foo"], scopes=["src", None]), "scopes"),
    ],
)
def test_argument_types(kwargs, param):
    with pytest.raises(TypeError, match=param):
        tw.parse("allow:foo").matches(**kwargs)


def test_qualifier_and_scopes_are_keyword_only():
    d = tw.parse("allow:foo")
    with pytest.raises(TypeError):
        d.matches(["foo"], "k")
    with pytest.raises(TypeError):
        d.matches(["foo"], None, ["src"])


# --- agreement with a reference built from glob_match ------------------------

_GLOB = st.text(alphabet="ab*?[]{},!-/é", min_size=1, max_size=6)
_TEXTS = st.lists(st.text(alphabet="ab/{}[],é", max_size=4), max_size=4)


@st.composite
def directives(draw):
    kind = draw(st.sampled_from([None, "rs", "RS", "a b"]))
    text = "allow:"
    if kind is not None:
        text += "<" + kind + ">"
    text += draw(_GLOB)
    path = draw(st.none() | st.text(alphabet="ab*?/{},[]", max_size=5))
    if path is not None:
        text += "@" + path
    return tw.parse(text)


def reference(d, names, qualifier, scopes):
    if d.kind is not None and qualifier != d.kind:
        return False
    if not any(tw.glob_match(d.name, n) for n in names):
        return False
    if d.path is not None:
        return any(tw.glob_match(d.path, s) for s in scopes or [])
    return True


@given(
    directives(),
    _TEXTS,
    st.sampled_from([None, "rs", "RS", " rs", "a b", ""]),
    st.none() | _TEXTS,
    st.data(),
)
def test_matches_agrees_with_reference_in_any_order(d, names, qualifier, scopes, data):
    expected = reference(d, names, qualifier, scopes)
    assert d.matches(names, qualifier=qualifier, scopes=scopes) is expected
    shuffled_names = data.draw(st.permutations(names))
    shuffled_scopes = None if scopes is None else tuple(data.draw(st.permutations(scopes)))
    got = d.matches(tuple(shuffled_names), qualifier=qualifier, scopes=shuffled_scopes)
    assert got is expected
