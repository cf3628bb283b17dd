"""Policy: its folds and settings are those of lint_fold, Ladder.fold and lint_settings over every directive;
scopes take one path form; unused directives, origins and pickling."""

import os
import pickle
from concurrent.futures import ProcessPoolExecutor

import pytest
from hypothesis import given, settings, strategies as st

from helpers import SEV, parse_all
from tarnwick import DirectiveError, Ladder, Policy, expand_sourced, parse
from tarnwick import _tarnwick as tw

VERBS = ["suppress", "De-Escalate", "escalate", "note", "set", "up", "rm", "x"]
NAMES = ["a", "b", "ab", "a*", "{a}", "{a,b}", "[ab]", "a\\b", "\\a"]  # literal and not, as the index sees them
PATHS = ["", "@lib", "@src/*", "@{lib}", "@", "@src/x", "@./lib"]
TEXTS = st.builds("{}:{}{}{}{}".format, st.sampled_from(VERBS), st.sampled_from(["", "<fn>"]),
                  st.sampled_from(NAMES), st.sampled_from(PATHS), st.sampled_from(["", "=", "=n1", "=n2"]))
TARGET = dict(names=st.lists(st.sampled_from(["a", "b", "ab", "c", "a\\b"]), max_size=3),
              qualifier=st.sampled_from([None, "fn"]),
              scopes=st.none() | st.lists(st.sampled_from(["src/x", "lib", "", "./lib", "/root/lib"]), max_size=3))


def lint_verb(d):
    effect = tw._lint_effect(d.action)
    return effect and effect[0]


def form(scope):  # the path form a policy with root "/root" reads a scope in
    return scope.removeprefix("./").removeprefix("/root/")


@settings(deadline=None)
@given(texts=st.lists(TEXTS, max_size=12), current=st.sampled_from(SEV), **TARGET)
def test_policy_folds_as_the_plain_folds_over_every_directive(texts, current, names, qualifier, scopes):
    ds = parse_all(texts)
    seen = None if scopes is None else [form(s) for s in scopes]
    policy = Policy(ds, root="/root")
    assert policy.fold(current, names, qualifier=qualifier, scopes=scopes) == tw.lint_fold(
        current, ds, names, qualifier=qualifier, scopes=seen)
    matched = [d for d in ds if lint_verb(d) not in (None, "set") and d.matches(names, qualifier=qualifier, scopes=seen)]
    assert [d for d, _ in policy.unused()] == [d for d in ds if d not in matched]
    assert policy.settings() == tw.lint_settings(ds)

    steps, drop = {"up": -1, "x": 0, "note": 1}, {"rm", "x"}
    ladder = Ladder(["a", "b", "c"])
    custom = Policy(ds, ladder=ladder, steps=steps, drop=drop, root="/root")
    named = [d for d in ds if d.action in steps or d.action in drop]
    assert custom.fold("b", names, qualifier=qualifier, scopes=scopes) == ladder.fold(
        "b", named, names, qualifier=qualifier, scopes=seen, steps=steps, drop=drop)


@settings(deadline=None)
@given(texts=st.lists(TEXTS, max_size=12), **TARGET)
def test_settings_for_a_kind_and_scopes(texts, names, qualifier, scopes):
    ds = parse_all(texts)
    seen = None if scopes is None else [form(s) for s in scopes]
    expected = [(d.name, d.note or "") for d in ds if lint_verb(d) == "set"
                and (qualifier is None or d.kind in (None, qualifier))
                and (seen is None or d.path is None or any(tw.glob_match(d.path, s) for s in seen))]
    assert Policy(ds, root="/root").settings(qualifier=qualifier, scopes=scopes) == expected


@given(st.lists(st.sampled_from(["a", "b", ".", "..", "", "c d"]), min_size=1, max_size=5))
def test_path_forms_are_one_path(parts):
    path = "/".join(parts).lstrip("/")
    normal = os.path.normpath("/r/" + path)[len("/r/"):] if os.path.normpath("/r/" + path).startswith("/r/") else None
    if normal is not None:
        assert tw._scope_path("/r/" + path, ["/r/"]) == normal
        assert tw._scope_path("/r/x/../" + path, ["/r"]) == normal
    if not path.startswith("./"):
        assert tw._scope_path("./././" + path, []) == path == tw._scope_path(path, ["/r"])
    assert tw._scope_path("/elsewhere/a", ["/r"]) == "/elsewhere/a"


def test_backslashes_separate_only_on_windows():
    windows = os.name == "nt"
    assert tw._scope_path(".\\src\\a.py", []) == ("src/a.py" if windows else ".\\src\\a.py")
    if windows:
        assert tw._scope_path("C:\\repo\\src\\a.py", ["C:\\repo"]) == "src/a.py"


def test_unused_directives_keep_their_origins(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "rules.txt").write_text("suppress:E501@src/*\n# c\nnote:W1=why\nset:width@legacy/*=120\n")
    policy = Policy.from_values(["@rules.txt", "escalate:E9"], actions={"suppress", "note", "escalate", "set"})
    assert policy.fold("warning", ["E501"], scopes=[str(tmp_path / "src" / "a.py")]) == ("warning", False, [])
    policy = Policy.from_values(["@rules.txt", "escalate:E9"], root=str(tmp_path))
    assert policy.fold("warning", ["E501"], scopes=[str(tmp_path / "src" / "a.py")]) == ("warning", True, [])
    assert policy.settings(scopes=["src/a.py"]) == []
    assert [(str(d), o) for d, o in policy.unused()] == [
        ("note:W1=why", ("rules.txt", 3)), ("set:width@legacy/*=120", ("rules.txt", 4)), ("escalate:E9", None)]
    assert policy.settings(scopes=["./legacy/b.py"]) == [("width", "120")]
    assert len(policy.unused()) == 2
    with pytest.raises(DirectiveError, match='unknown action "escalate"'):
        Policy.from_values(["@rules.txt", "escalate:E9"], actions={"suppress", "note", "set"})


def _roundtrip(obj):
    return pickle.loads(pickle.dumps(obj))


def _fold_in_worker(policy):
    return policy.fold("error", ["E1"], scopes=["src/a.py"]), [str(d) for d, _ in policy.directives]


def _raise_in_worker(text):
    return parse(text)


def test_pickle_round_trips(tmp_path):
    d = parse("a\\:b:<k\\>\\=\\\\>n\\*@p =  note ")
    assert [type(x) for x in (_roundtrip(d), _roundtrip(Ladder(["x"])))] == [tw.Directive, Ladder]
    assert repr(_roundtrip(d)) == repr(d) and (_roundtrip(d).kind, _roundtrip(d).note) == (d.kind, d.note)
    assert _roundtrip(Ladder(["x", "y"])).levels == ["x", "y"]
    error = _roundtrip(DirectiveError("m"))
    assert type(error) is DirectiveError and error.args == ("m",)
    (tmp_path / "r.txt").write_text("escalate:E1@src/*=n\n")
    policy = Policy(expand_sourced(f"@{tmp_path / 'r.txt'}") + [parse("suppress:E2")], ladder=Ladder(SEV),
                    steps={"escalate": 1}, root="/r")
    copy = _roundtrip(policy)
    assert [(str(d), o) for d, o in copy.directives] == [(str(d), o) for d, o in policy.directives]
    assert copy.fold("error", ["E1"], scopes=["/r/src/a.py"]) == ("warning", False, ["n"])
    with ProcessPoolExecutor(1) as pool:
        assert pool.submit(_fold_in_worker, policy).result() == (("warning", False, ["n"]), ["escalate:E1@src/*=n",
                                                                                              "suppress:E2"])
        with pytest.raises(DirectiveError, match="empty name pattern"):
            pool.submit(_raise_in_worker, "allow:").result()


def test_wrong_directive_items_and_origins():
    for bad in ([("allow:x", None)], [(parse("a:b"), ("f", -1))], [(parse("a:b"), ("f",))], [(parse("a:b"),)]):
        with pytest.raises((TypeError, OverflowError)):
            Policy(bad)
