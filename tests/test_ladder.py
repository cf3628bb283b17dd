import itertools

import numpy
import pytest
from hypothesis import given, settings, strategies as st

from tarnwick import _tarnwick as tw

SEV = ["error", "warning", "info"]
I32_MIN, I32_MAX = -(2**31), 2**31 - 1
LINT_STEPS = {"de-escalate": 1, "escalate": -1}


class Idx:
    """An integer-like object that only offers the index protocol."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


def ds(*texts):
    return [tw.parse(t) for t in texts]


@pytest.mark.parametrize(
    "levels, level, delta, expected",
    [
        (SEV, "warning", 5, "info"),
        (SEV, "warning", -5, "error"),
        (SEV, "error", I32_MIN, "error"),
        (SEV, "error", I32_MAX, "info"),
        (SEV, "info", I32_MIN, "error"),
        (SEV, "info", I32_MAX, "info"),
        (SEV, "info", 0, "info"),
        (SEV, "warning", 1, "info"),
        (SEV, "info", -1, "warning"),
        (SEV, "error", True, "warning"),
        (SEV, "warning", False, "warning"),
        (SEV, "error", Idx(2), "info"),
        (SEV, "info", Idx(-1), "warning"),
        (SEV, "Error", 1, "Error"),  # levels compare case-sensitively
        (SEV, "nope", I32_MIN, "nope"),
        (["a", "b", "a"], "a", 1, "b"),
        (["a", "b", "a"], "a", 2, "a"),
        (["a", "b", "a"], "b", 1, "a"),
        (["a", "b", "a"], "b", -1, "a"),
        ([], "info", 5, "info"),
        ([], "info", I32_MIN, "info"),
        (["only"], "only", I32_MAX, "only"),
    ],
)
def test_step(levels, level, delta, expected):
    assert tw.Ladder(levels).step(level, delta) == expected


@pytest.mark.parametrize(
    "levels, level, expected",
    [(SEV, "error", 0), (SEV, "info", 2), (SEV, "INFO", None), (SEV, " info", None),
     (["a", "b", "a"], "a", 0), (["a", "b", "a"], "b", 1), ([], "", None), ([""], "", 0)],
)
def test_position(levels, level, expected):
    assert tw.Ladder(levels).position(level) == expected


@pytest.mark.parametrize(
    "delta, exc",
    [(2**31, OverflowError), (I32_MIN - 1, OverflowError), (2**64, OverflowError),
     (Idx(2**31), OverflowError), (1.0, TypeError), ("1", TypeError), (None, TypeError)],
)
def test_step_rejects_delta(delta, exc):
    with pytest.raises(exc):
        tw.Ladder(SEV).step("error", delta)


@pytest.mark.parametrize("levels", ["abc", {"a", "b"}, ["a", 1], (x for x in "ab"), None])
def test_levels_rejected(levels):
    with pytest.raises(TypeError):
        tw.Ladder(levels)


def test_levels_is_a_fresh_copy():
    src = ["draft", "review", "final"]
    ladder = tw.Ladder(tuple(src))
    first, second = ladder.levels, ladder.levels
    assert type(first) is list and first == second == src and first is not second
    first.append("x")
    src.append("y")
    assert ladder.levels == ["draft", "review", "final"] and second == ["draft", "review", "final"]
    assert tw.Ladder([]).levels == []


def test_empty_ladder_fold_still_reports():
    got = tw.Ladder([]).fold("info", ds("cut:x=n1", "up:x=n2"), ["x"], steps={"up": 5}, drop={"cut"})
    assert got == ("info", True, ["n1", "n2"])


@pytest.mark.parametrize(
    "levels, current, order",
    [
        (SEV, "error", ["escalate", "de-escalate", "de-escalate"]),
        (["draft", "review", "final"], "draft", ["+", "+", "-"]),
    ],
)
def test_order_independent(levels, current, order):
    steps = {"+": 1, "-": -1, **LINT_STEPS}
    for perm in set(itertools.permutations(order)):
        got = tw.Ladder(levels).fold(current, ds(*(f"{a}:x" for a in perm)), ["x"], steps=steps)
        assert got == (levels[1], False, [])


@pytest.mark.parametrize(
    "texts, kw, expected",
    [
        (["a:x", "b:x"], {"steps": {"a": 3, "b": -3}}, ("info", False, [])),  # cancel at the end
        (["a:x=1", "b:x", "c:x=3", "d:y=4"], {}, ("info", False, ["1", "3"])),
        (["a:x=1", "a:x=", "b:x=3"], {"notes": False}, ("info", False, [])),
        (["cut:y=n", "cut:<fn>x"], {"drop": {"cut"}}, ("info", False, [])),
        (["cut:x", "up:x"], {"drop": {"cut"}, "steps": {"up": -1}}, ("warning", True, [])),
        (["both:x=n"], {"drop": {"both"}, "steps": {"both": -2}}, ("error", True, ["n"])),
        (["Up:x", "UP:x"], {"steps": {"up": -1}}, ("info", False, [])),
        (["a:x@src/*=n"], {"steps": {"a": -1}}, ("info", False, [])),
        (["a:x@src/*=n"], {"steps": {"a": -1}, "scopes": ["src/m"]}, ("warning", False, ["n"])),
        (["a:<fn>x"], {"steps": {"a": -1}, "qualifier": "FN"}, ("info", False, [])),
        (["a:<fn>x"], {"steps": {"a": -1}, "qualifier": "fn"}, ("warning", False, [])),
        (["a:x=n"], {"steps": {"a": -1}, "drop": {"a"}, "names": []}, ("info", False, [])),
    ],
)
def test_fold_cases(texts, kw, expected):
    kw = dict(kw)
    names = kw.pop("names", ["x"])
    assert tw.Ladder(SEV).fold("info", ds(*texts), names, **kw) == expected


def test_same_directive_twice_counts_twice():
    (d,) = ds("up:x=n")
    assert tw.Ladder(SEV).fold("error", [d, d], ["x"], steps={"up": 1}) == ("info", False, ["n", "n"])


def test_current_off_ladder_is_unchanged():
    got = tw.Ladder(SEV).fold("Info", ds("up:x=n", "cut:x"), ["x"], steps={"up": -1}, drop={"cut"})
    assert got == ("Info", True, ["n"])


def test_duplicate_levels_fold():
    assert tw.Ladder(["a", "b", "a"]).fold("a", ds("up:x", "up:x"), ["x"], steps={"up": 1})[0] == "a"
    assert tw.Ladder(["a", "b", "a"]).fold("a", ds("up:x"), ["x"], steps={"up": 1})[0] == "b"


@pytest.mark.parametrize(
    "steps, current, expected",
    [
        ({"up": I32_MAX}, "warning", "info"),
        ({"up": I32_MIN}, "warning", "error"),
        ({"up": Idx(-1)}, "warning", "error"),
        ({"up": True}, "warning", "info"),
    ],
)
@pytest.mark.parametrize("count", [1, 2, 3, 5])
def test_large_steps_saturate_without_wrapping(steps, current, expected, count):
    got = tw.Ladder(SEV).fold(current, ds(*["up:x"] * count), ["x"], steps=steps)
    assert got == (expected, False, [])


def test_mixed_extreme_steps_sum_to_large_positive():
    texts = ["up:x", "up:x", "up:x", "down:x"]
    steps = {"up": I32_MAX, "down": I32_MIN}
    for perm in set(itertools.permutations(texts)):
        assert tw.Ladder(SEV).fold("warning", ds(*perm), ["x"], steps=steps)[0] == "info"


@pytest.mark.parametrize(
    "kw, exc",
    [
        ({"notes": None}, TypeError),
        ({"notes": 1}, TypeError),
        ({"notes": 0}, TypeError),
        ({"notes": "yes"}, TypeError),
        ({"drop": ["cut"]}, TypeError),
        ({"drop": ("cut",)}, TypeError),
        ({"drop": {1}}, TypeError),
        ({"drop": "cut"}, TypeError),
        ({"steps": {"up": 2**31}}, OverflowError),
        ({"steps": {"up": I32_MIN - 1}}, OverflowError),
        ({"steps": {1: 1}}, TypeError),
        ({"steps": {"up": 1.0}}, TypeError),
        ({"steps": [("up", 1)]}, TypeError),
        ({"qualifier": 1}, TypeError),
        ({"scopes": "src"}, TypeError),
    ],
)
def test_fold_rejects(kw, exc):
    with pytest.raises(exc):
        tw.Ladder(SEV).fold("info", ds("cut:x"), ["x"], **kw)


@pytest.mark.parametrize("directives", ["cut:x", ["cut:x"], [None]])
def test_fold_rejects_directives(directives):
    with pytest.raises(TypeError):
        tw.Ladder(SEV).fold("info", directives, ["x"])


@pytest.mark.parametrize(
    "flag, expected", [(True, ["n"]), (False, []), (numpy.bool_(True), ["n"]), (numpy.bool_(False), [])]
)
def test_notes_flag(flag, expected):
    assert tw.Ladder(SEV).fold("info", ds("a:x=n"), ["x"], notes=flag)[2] == expected
    assert tw.Ladder(SEV).fold("info", ds("a:x=n"), ["x"])[2] == ["n"]


def test_drop_accepts_frozenset_and_subclasses():
    class S(set):
        pass

    for drop in (frozenset({"cut"}), S({"cut"}), {"cut"}):
        assert tw.Ladder(SEV).fold("info", ds("cut:x"), ["x"], drop=drop)[1] is True


def test_none_keywords_behave_as_absent():
    d = ds("up:x=n", "cut:<fn>x", "up:x@src")
    lad = tw.Ladder(SEV)
    assert lad.fold("info", d, ["x"], qualifier=None, scopes=None, steps=None, drop=None) == lad.fold(
        "info", d, ["x"]
    ) == ("info", False, ["n"])


def test_result_shape():
    got = tw.Ladder(SEV).fold("warning", ds("cut:x"), ("x",), drop={"cut"})
    assert type(got) is tuple and len(got) == 3
    assert type(got[0]) is str and type(got[1]) is bool and type(got[2]) is list


# Reference fold: match with Directive.matches, sum with Python ints, move once.
def ref_fold(levels, current, directives, names, qualifier, scopes, steps, drop, notes):
    total, dropped, out = 0, False, []
    for d in directives:
        if not d.matches(names, qualifier=qualifier, scopes=scopes):
            continue
        if notes and d.note is not None:
            out.append(d.note)
        total += steps.get(d.action, 0)
        dropped = dropped or d.action in drop
    if current not in levels:
        return current, dropped, out
    i = levels.index(current)
    j = min(len(levels) - 1, i + total) if total >= 0 else i - min(i, -total)
    return levels[j], dropped, out


VERBS = ["up", "down", "cut", "keep", "Up"]
KINDS = ["", "<fn>", "<*>"]
GLOBS = ["a", "b", "a*", "*", "{a,b}", "[ab]"]
PATHS = ["", "@src/*", "@", "@lib"]
NOTES = ["", "=", "=n1", "=n2"]
directive_text = st.builds(
    lambda *p: "".join(p),
    st.sampled_from(VERBS).map(lambda v: v + ":"),
    st.sampled_from(KINDS),
    st.sampled_from(GLOBS),
    st.sampled_from(PATHS),
    st.sampled_from(NOTES),
)
step_value = st.one_of(st.integers(-3, 3), st.sampled_from([I32_MIN, I32_MAX]))


@settings(deadline=None)
@given(
    levels=st.lists(st.sampled_from(["a", "b", "c", "d"]), max_size=5),
    current=st.sampled_from(["a", "b", "c", "d", "z"]),
    texts=st.lists(directive_text, max_size=8),
    names=st.lists(st.sampled_from(["a", "b", "ab", "c"]), max_size=3),
    qualifier=st.sampled_from([None, "fn", "ty"]),
    scopes=st.one_of(st.none(), st.lists(st.sampled_from(["src/x", "lib", "", "src"]), max_size=3)),
    steps=st.dictionaries(st.sampled_from(VERBS + ["other"]), step_value, max_size=4),
    drop=st.frozensets(st.sampled_from(VERBS), max_size=3),
    notes=st.booleans(),
)
def test_fold_matches_reference(levels, current, texts, names, qualifier, scopes, steps, drop, notes):
    d = ds(*texts)
    got = tw.Ladder(levels).fold(
        current, d, names, qualifier=qualifier, scopes=scopes, steps=steps, drop=drop, notes=notes
    )
    assert got == ref_fold(levels, current, d, names, qualifier, scopes, steps, drop, notes)


def test_notes_flag_refuses_look_alikes_of_numpy_bool():
    look_alike = type("bool_", (), {"__module__": "numpy", "__bool__": lambda self: True})
    nameless = {}
    exec("X = type('X', (), {})", nameless)  # a class without __module__
    for flag in (look_alike(), nameless["X"]()):
        with pytest.raises(TypeError, match="notes"):
            tw.Ladder(SEV).fold("info", ds("a:x=n"), ["x"], notes=flag)
