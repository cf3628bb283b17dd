"""Directive.matches: kind, name and path selection, against a reference built from glob_match."""

from hypothesis import given, strategies as st

from tarnwick import _tarnwick as tw

_GLOB = st.text(alphabet="ab*?[]{},!-/é", min_size=1, max_size=6)
_TEXTS = st.lists(st.text(alphabet="ab/{}[],é", max_size=4), max_size=4)
# The kind is an exact compare: no glob, no trimming, no normalisation.
_KINDS = [None, "rs", "RS", "a b", "r*", "*", "é"]
_QUALIFIERS = [None, "rs", "RS", " rs", "rs\xa0", "a b", "", "r*", "rx", "*", "é", "e\u0301"]


@st.composite
def directives(draw):
    kind = draw(st.sampled_from(_KINDS))
    text = "allow:" + ("" if kind is None else "<" + kind.replace("*", "\\*") + ">") + draw(_GLOB)
    path = draw(st.none() | st.text(alphabet="ab*?/{},[]", max_size=5))  # "" too: matches only an empty scope
    return tw.parse(text if path is None else text + "@" + path)


def reference(d, names, qualifier, scopes):
    if d.kind is not None and qualifier != d.kind:
        return False
    if not any(tw.glob_match(d.name, n) for n in names):
        return False
    return d.path is None or any(tw.glob_match(d.path, s) for s in scopes or [])


@given(directives(), _TEXTS, st.sampled_from(_QUALIFIERS), st.none() | _TEXTS, st.data())
def test_matches_agrees_with_reference_in_any_order(d, names, qualifier, scopes, data):
    expected = reference(d, names, qualifier, scopes)
    assert d.matches(names, qualifier=qualifier, scopes=scopes) is expected
    shuffled_names = data.draw(st.permutations(names))
    shuffled_scopes = None if scopes is None else tuple(data.draw(st.permutations(scopes)))
    assert d.matches(tuple(shuffled_names), qualifier=qualifier, scopes=shuffled_scopes) is expected

