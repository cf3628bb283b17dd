"""lint_fold and lint_settings: verb recognition, severities and the combine policy."""

import itertools

import pytest
from hypothesis import given, settings, strategies as st

from tarnwick import _tarnwick as tw

SEV = ["error", "warning", "info"]
EXPECTED = '; expected "error", "warning", or "info"'


def ds(*texts):
    return [tw.parse(t) for t in texts]


# What one matching directive "<token>:x=n" does to a "warning" finding.
EFFECT = {
    "suppress": (("warning", True, ["n"]), []),
    "deescalate": (("info", False, ["n"]), []),
    "escalate": (("error", False, ["n"]), []),
    "note": (("warning", False, ["n"]), []),
    "set": (("warning", False, []), [("x", "n")]),
    None: (("warning", False, []), []),
}


@pytest.mark.parametrize(
    "token, verb",
    [
        (" Suppress ", "suppress"), ("sUpPrEsS", "suppress"), ("DE-ESCALATE", "deescalate"),
        ("de--escalate", "deescalate"), ("deescalate", "deescalate"), ("-Escalate", "escalate"),
        ("-note-", "note"), ("SETTINGS", "set"), ("set-tings", "set"), ("Set", "set"),
        ("setting", None), ("de_escalate", None), ("escalation", None), ("sup press", None),
        ("-", None), ("- note", None), ("notes", None), ("allow", None),
    ],
)
def test_verb_recognition(token, verb):
    d = ds(f"{token}:x=n")
    fold, setting = EFFECT[verb]
    assert tw.lint_fold("warning", d, ["x"]) == fold
    assert tw.lint_settings(d) == setting


@pytest.mark.parametrize("text, expected", [("WARNING", "warning"), ("Info", "info"), ("iNfO", "info")])
def test_severity_accepted_and_lowercased(text, expected):
    assert tw.lint_fold(text, [], ["x"]) == (expected, False, [])
    assert tw.lint_fold(text, ds("note:y=n"), [])[0] == expected


@pytest.mark.parametrize(
    "text, shown",
    [(" warning", '" warning"'), ("", '""'), ("ERR", '"err"'), ("Info\t", '"info\\t"'),
     ("\u0130NFO", '"\u0130nfo"')],  # only ASCII letters are lowercased
)
def test_severity_rejected(text, shown):
    with pytest.raises(tw.DirectiveError) as info:
        tw.lint_fold(text, ds("suppress:x"), ["x"])
    assert info.value.args == (f"unknown severity {shown}{EXPECTED}",)


@pytest.mark.parametrize(
    "current, actions, expected",
    [
        ("info", ["escalate", "de-escalate"], "info"),
        ("error", ["escalate", "de-escalate", "de-escalate", "escalate"], "error"),
        ("warning", ["note", "suppress", "de-escalate", "de-escalate", "de-escalate"], "info"),
    ],
)
def test_moves_summed_and_saturated_once(current, actions, expected):
    for perm in set(itertools.permutations(actions)):
        level, dropped, notes = tw.lint_fold(current, ds(*(f"{a}:x" for a in perm)), ["x"])
        assert (level, dropped, notes) == (expected, "suppress" in actions, [])


@pytest.mark.parametrize(
    "texts, kw, expected",
    [
        (["suppress:x=a", "de-escalate:x=b"], {}, ("info", True, ["a", "b"])),
        (["set:x=n", "settings:x"], {}, ("warning", False, [])),
        (["note:x=A", "note:y=Z", "escalate:x=B", "note:x=A"], {}, ("error", False, ["A", "B", "A"])),
        (["note:x=", "note:x", "note:x= spaced "], {}, ("warning", False, ["", " spaced "])),
        (["escalate:<fn>x=k"], {"qualifier": "Fn"}, ("warning", False, [])),
        (["escalate:x@src/*=k"], {"scopes": ["lib", "src/a/b"]}, ("error", False, ["k"])),
        (["escalate:x@src/*=k"], {"scopes": None}, ("warning", False, [])),
        (["escalate:x@=k"], {"scopes": [""]}, ("error", False, ["k"])),
        (["escalate:*=k", "suppress:*"], {"names": []}, ("warning", False, [])),
        (["de-escalate:{a,x}*=k"], {"names": ["q", "xy"]}, ("info", False, ["k"])),
    ],
)
def test_fold_cases(texts, kw, expected):
    kw = dict(kw)
    names = kw.pop("names", ["x"])
    assert tw.lint_fold("Warning", ds(*texts), names, **kw) == expected


def test_result_types_and_a_repeated_directive():
    (d,) = ds("de-escalate:x=n")
    assert tw.lint_fold("error", [d, d], ["x"]) == ("info", False, ["n", "n"])
    got = tw.lint_fold("ERROR", ds("suppress:x"), ("x",))
    assert type(got) is tuple and len(got) == 3
    assert type(got[0]) is str and type(got[1]) is bool and type(got[2]) is list
    (pair,) = tw.lint_settings(ds("set:k=v"))
    assert type(pair) is tuple and pair == ("k", "v")


@pytest.mark.parametrize(
    "texts, expected",
    [
        (["set:a=1", "note:x=y", "settings:a=2", "SET:b"], [("a", "1"), ("a", "2"), ("b", "")]),
        (["set:<fn>k@src/*=v", "set:a*@=x=y", "set:k= v "], [("k", "v"), ("a*", "x=y"), ("k", " v ")]),
        (["allow:k=v", "suppress:k"], []),
    ],
)
def test_settings(texts, expected):
    assert tw.lint_settings(ds(*texts)) == expected


def is_active_lint_verb(token):
    return token.strip().lower().replace("-", "") in {"suppress", "deescalate", "escalate", "note"}


TOKENS = ["suppress", "Suppress", "de-escalate", "escalate", "ESCALATE", "note", "set", "allow", "-"]


def directive_texts(tokens):
    return st.builds(
        lambda *p: "".join(p),
        st.sampled_from(tokens).map(lambda v: v + ":"),
        st.sampled_from(["", "<fn>", "<*>"]),
        st.sampled_from(["a", "b", "*", "{a,b}", "a*"]),
        st.sampled_from(["", "@src/*", "@"]),
        st.sampled_from(["", "=", "=n1", "=n2"]),
    )


target = dict(
    names=st.lists(st.sampled_from(["a", "b", "ab"]), max_size=3),
    qualifier=st.sampled_from([None, "fn", "ty"]),
    scopes=st.one_of(st.none(), st.lists(st.sampled_from(["src/x", "lib", ""]), max_size=2)),
)


@settings(deadline=None)
@given(data=st.data(), current=st.sampled_from(SEV), texts=st.lists(directive_texts(TOKENS), max_size=8), **target)
def test_order_independence(data, current, texts, names, qualifier, scopes):
    d = ds(*texts)
    perm = data.draw(st.permutations(d))
    base = tw.lint_fold(current, d, names, qualifier=qualifier, scopes=scopes)
    got = tw.lint_fold(current, perm, names, qualifier=qualifier, scopes=scopes)
    assert got[:2] == base[:2]
    expected_notes = [
        x.note for x in perm
        if is_active_lint_verb(x.action) and x.note is not None and x.matches(names, qualifier=qualifier, scopes=scopes)
    ]
    assert got[2] == expected_notes


@settings(deadline=None)
@given(current=st.sampled_from(SEV), texts=st.lists(directive_texts(TOKENS[:6]), max_size=10), **target)
def test_lint_fold_is_a_ladder_fold(current, texts, names, qualifier, scopes):
    d = ds(*texts)
    expected = tw.Ladder(SEV).fold(
        current, d, names, qualifier=qualifier, scopes=scopes,
        steps={"de-escalate": 1, "escalate": -1, "ESCALATE": -1}, drop={"suppress", "Suppress"},
    )
    assert tw.lint_fold(current, d, names, qualifier=qualifier, scopes=scopes) == expected
