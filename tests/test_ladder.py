"""Ladder: position, saturating step, levels and the generic fold."""

import itertools

import numpy
import pytest
from hypothesis import given, settings, strategies as st

from tarnwick import _tarnwick as tw

SEV = ["error", "warning", "info"]
I32_MIN, I32_MAX = -(2**31), 2**31 - 1
LEVELS = st.lists(st.sampled_from(["a", "b", "c", "d"]), max_size=5)  # duplicates and the empty ladder too
LEVEL = st.sampled_from(["a", "b", "c", "d", "z", "A"])  # "z", "A": off the ladder
DELTA = st.integers(-4, 4) | st.sampled_from([I32_MIN, I32_MAX])


class Idx:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


def ds(*texts):
    return [tw.parse(t) for t in texts]


def ref_move(levels, level, delta):
    """Move from the first rung holding `level`; off-ladder levels stay put."""
    if level not in levels:
        return level
    return levels[max(0, min(len(levels) - 1, levels.index(level) + delta))]


@given(LEVELS, LEVEL, DELTA)
def test_step_and_position_agree_with_reference(levels, level, delta):
    ladder = tw.Ladder(levels)
    assert ladder.step(level, delta) == ref_move(levels, level, delta)
    assert ladder.position(level) == (levels.index(level) if level in levels else None)


@pytest.mark.parametrize(
    "level, delta, expected",
    [("error", True, "warning"), ("warning", False, "warning"), ("error", Idx(2), "info"),
     ("info", Idx(-1), "warning"), ("Error", 1, "Error")],
)
def test_step_integer_likes_and_case(level, delta, expected):
    assert tw.Ladder(SEV).step(level, delta) == expected


def test_index_delta_out_of_range_overflows():
    with pytest.raises(OverflowError):
        tw.Ladder(SEV).step("error", Idx(2**31))


def test_levels_is_a_fresh_copy():
    src = ["draft", "review", "final"]
    ladder = tw.Ladder(tuple(src))
    first, second = ladder.levels, ladder.levels
    assert type(first) is list and first == second == src and first is not second
    first.append("x")
    src.append("y")
    assert ladder.levels == ["draft", "review", "final"] and second == ["draft", "review", "final"]


@pytest.mark.parametrize(
    "levels, current, texts, kw, expected",
    [
        (SEV, "info", ["a:x", "b:x"], {"steps": {"a": 3, "b": -3}}, ("info", False, [])),  # summed, moved once
        (SEV, "info", ["both:x=n"], {"drop": {"both"}, "steps": {"both": -2}}, ("error", True, ["n"])),
        (SEV, "info", ["Up:x", "UP:x"], {"steps": {"up": -1}}, ("info", False, [])),  # verbs are exact
        (SEV, "info", ["a:x=n"], {"steps": {"a": -1}, "drop": {"a"}, "names": []}, ("info", False, [])),
        ([], "info", ["cut:x=n1", "up:x=n2"], {"steps": {"up": 5}, "drop": {"cut"}}, ("info", True, ["n1", "n2"])),
        (SEV, "Info", ["up:x=n", "cut:x"], {"steps": {"up": -1}, "drop": {"cut"}}, ("Info", True, ["n"])),
        (["a", "b", "a"], "a", ["up:x", "up:x"], {"steps": {"up": 1}}, ("a", False, [])),
        (["a", "b", "a"], "a", ["up:x"], {"steps": {"up": 1}}, ("b", False, [])),
    ],
)
def test_fold_cases(levels, current, texts, kw, expected):
    kw = dict(kw)
    names = kw.pop("names", ["x"])
    got = tw.Ladder(levels).fold(current, ds(*texts), names, **kw)
    assert type(got) is tuple and type(got[0]) is str and type(got[1]) is bool and type(got[2]) is list
    assert got == expected


def test_same_directive_twice_counts_twice():
    (d,) = ds("up:x=n")
    assert tw.Ladder(SEV).fold("error", [d, d], ["x"], steps={"up": 1}) == ("info", False, ["n", "n"])


@pytest.mark.parametrize(
    "levels, current, order",
    [(SEV, "error", ["escalate", "de-escalate", "de-escalate"]), (["draft", "review", "final"], "draft", ["+", "+", "-"])],
)
def test_order_independent(levels, current, order):
    steps = {"+": 1, "-": -1, "de-escalate": 1, "escalate": -1}
    for perm in set(itertools.permutations(order)):
        got = tw.Ladder(levels).fold(current, ds(*(f"{a}:x" for a in perm)), ["x"], steps=steps)
        assert got == (levels[1], False, [])


@pytest.mark.parametrize("step, expected", [(I32_MAX, "info"), (I32_MIN, "error"), (True, "info")])
@pytest.mark.parametrize("count", [1, 3])
def test_large_steps_saturate_without_wrapping(step, expected, count):
    got = tw.Ladder(SEV).fold("warning", ds(*["up:x"] * count), ["x"], steps={"up": step})
    assert got == (expected, False, [])


def test_mixed_extreme_steps_sum_to_large_positive():
    steps = {"up": I32_MAX, "down": I32_MIN}
    for perm in set(itertools.permutations(["up:x", "up:x", "up:x", "down:x"])):
        assert tw.Ladder(SEV).fold("warning", ds(*perm), ["x"], steps=steps)[0] == "info"


@pytest.mark.parametrize("flag, expected", [(numpy.bool_(True), ["n"]), (numpy.bool_(False), []), (False, [])])
def test_notes_flag(flag, expected):
    assert tw.Ladder(SEV).fold("info", ds("a:x=n"), ["x"], notes=flag)[2] == expected
    assert tw.Ladder(SEV).fold("info", ds("a:x=n"), ["x"])[2] == ["n"]


def test_notes_flag_refuses_look_alikes_of_numpy_bool():
    look_alike = type("bool_", (), {"__module__": "numpy", "__bool__": lambda self: True})
    nameless = {}
    exec("X = type('X', (), {})", nameless)  # a class without __module__
    for flag in (look_alike(), nameless["X"]()):
        with pytest.raises(TypeError, match="notes"):
            tw.Ladder(SEV).fold("info", ds("a:x=n"), ["x"], notes=flag)


def ref_fold(levels, current, directives, names, qualifier, scopes, steps, drop, notes):
    """Match with Directive.matches, sum with Python ints, move once."""
    total, dropped, out = 0, False, []
    for d in directives:
        if d.matches(names, qualifier=qualifier, scopes=scopes):
            if notes and d.note is not None:
                out.append(d.note)
            total += steps.get(d.action, 0)
            dropped = dropped or d.action in drop
    return ref_move(levels, current, total), dropped, out


VERBS = ["up", "down", "cut", "keep", "Up"]
directive_text = st.builds(
    lambda *p: "".join(p),
    st.sampled_from(VERBS).map(lambda v: v + ":"),
    st.sampled_from(["", "<fn>", "<*>"]),
    st.sampled_from(["a", "b", "a*", "*", "{a,b}", "[ab]"]),
    st.sampled_from(["", "@src/*", "@", "@lib"]),
    st.sampled_from(["", "=", "=n1", "=n2"]),
)


@settings(deadline=None)
@given(
    levels=LEVELS,
    current=LEVEL,
    texts=st.lists(directive_text, max_size=8),
    names=st.lists(st.sampled_from(["a", "b", "ab", "c"]), max_size=3),
    qualifier=st.sampled_from([None, "fn", "ty"]),
    scopes=st.one_of(st.none(), st.lists(st.sampled_from(["src/x", "lib", "", "src"]), max_size=3)),
    steps=st.dictionaries(st.sampled_from(VERBS + ["other"]), DELTA, max_size=4),
    drop=st.frozensets(st.sampled_from(VERBS), max_size=3),
    notes=st.booleans(),
)
def test_fold_matches_reference(levels, current, texts, names, qualifier, scopes, steps, drop, notes):
    d = ds(*texts)
    got = tw.Ladder(levels).fold(
        current, d, names, qualifier=qualifier, scopes=scopes, steps=steps, drop=drop, notes=notes
    )
    assert got == ref_fold(levels, current, d, names, qualifier, scopes, steps, drop, notes)
