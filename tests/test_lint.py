"""lint_fold and lint_settings: the combine policy is a ladder fold over the recognised verbs."""

import string

from hypothesis import given, settings, strategies as st

from helpers import SEV, TARGET, directive_texts, parse_all
from tarnwick import _tarnwick as tw

STEP = {"suppress": 0, "deescalate": 1, "escalate": -1, "note": 0}


def verb(d):  # ASCII case and hyphens do not count
    return d.action.lower().replace("-", "")


WORDS = ["suppress", "deescalate", "escalate", "note", "set", "settings", "setting", "escalation", "notes", "allow",
         "de_escalate", "sup press", "x", "de\u2010escalate", "\u017fuppress", "n\u043ete"]  # look-alikes: no verbs


@st.composite
def tokens(draw):  # a verb or a near miss, in any ASCII case, with up to two stray hyphens
    word = draw(st.sampled_from(WORDS))
    if draw(st.booleans()):
        word = "".join(c.upper() if draw(st.booleans()) else c for c in word)
    for at in draw(st.lists(st.integers(0, len(word)), max_size=2)):
        word = word[:at] + "-" + word[at:]
    return word


def test_a_word_names_the_verb_its_ascii_letters_spell():  # hyphens and ASCII case aside; look-alikes name none
    lower = str.maketrans(string.ascii_uppercase, string.ascii_lowercase)
    for word in WORDS + [w.upper() for w in WORDS] + [f"-{w}-" for w in WORDS]:
        letters = word.translate(lower).replace("-", "")
        want = {"settings": "set"}.get(letters, letters) if letters in [*STEP, "set", "settings"] else None
        assert (tw._lint_effect(word) or (None,))[0] == want, word


@settings(deadline=None)
@given(current=st.sampled_from(SEV), texts=st.lists(directive_texts(tokens()), max_size=10), **TARGET)
def test_lint_fold_is_a_ladder_fold_over_the_lint_verbs(current, texts, names, qualifier, scopes):
    d = parse_all(texts)
    active = [x for x in d if verb(x) in STEP]
    expected = tw.Ladder(SEV).fold(
        current, active, names, qualifier=qualifier, scopes=scopes,
        steps={x.action: STEP[verb(x)] for x in active}, drop={x.action for x in active if verb(x) == "suppress"},
    )
    assert tw.lint_fold(current.upper(), d, names, qualifier=qualifier, scopes=scopes) == expected
    assert tw.lint_settings(d) == [(x.name, x.note or "") for x in d if verb(x) in ("set", "settings")]


def test_severity_case_is_ignored_and_results_have_their_types():
    assert tw.lint_fold("iNfO", [], ["x"]) == ("info", False, [])
    got = tw.lint_fold("ERROR", parse_all(["suppress:x"]), ("x",))
    assert got == ("error", True, []) and [type(v) for v in got] == [str, bool, list] and type(got) is tuple
    (pair,) = tw.lint_settings(parse_all(["set:k=v"]))
    assert type(pair) is tuple and pair == ("k", "v")
