"""Ladder: position, saturating step, levels and the generic fold, against a reference."""

import random

import numpy
import pytest
from hypothesis import example, given, settings, strategies as st

from helpers import I32_MAX, I32_MIN, SEV, TARGET, directive_texts, parse_all
from tarnwick import _tarnwick as tw

LEVELS = st.lists(st.sampled_from(["a", "b", "c", "d"]), max_size=5)  # duplicates and the empty ladder too
LEVEL = st.sampled_from(["a", "b", "c", "d", "z", "A"])  # "z", "A": off the ladder
DELTA = st.integers(-4, 4) | st.sampled_from([I32_MIN, I32_MAX])
VERBS = ["up", "down", "cut", "keep", "Up"]


def ref_move(levels, level, delta):  # from the first rung holding `level`; off the ladder, stay put
    if level not in levels:
        return level
    return levels[max(0, min(len(levels) - 1, levels.index(level) + delta))]


def ref_fold(levels, current, directives, names, qualifier, scopes, steps, drop, notes):
    total, dropped, out = 0, False, []
    for d in directives:
        if d.matches(names, qualifier=qualifier, scopes=scopes):
            if notes and d.note is not None:
                out.append(d.note)
            total += steps.get(d.action, 0)
            dropped = dropped or d.action in drop
    return ref_move(levels, current, total), dropped, out


@given(LEVELS, LEVEL, DELTA)
def test_step_and_position_agree_with_reference(levels, level, delta):
    ladder = tw.Ladder(levels)
    assert ladder.step(level, delta) == ref_move(levels, level, delta)
    assert ladder.position(level) == (levels.index(level) if level in levels else None)


def test_results_are_fresh_objects_of_their_types():
    ladder = tw.Ladder(("draft", "review", "final"))
    first = ladder.levels
    assert type(first) is list and first == ladder.levels == ["draft", "review", "final"] and first is not ladder.levels
    (d,) = parse_all(["up:x=n"])
    got = tw.Ladder(SEV).fold("error", [d, d], ["x"], steps={"up": 1})  # a directive given twice counts twice
    assert got == ("info", False, ["n", "n"]) and [type(v) for v in got] == [str, bool, list] and type(got) is tuple


def test_later_step_of_a_repeated_verb_wins():
    Key = type("Key", (str,), {"__hash__": object.__hash__, "__eq__": object.__eq__})  # equal texts, distinct keys
    assert tw.Ladder(list("abcd")).fold("a", parse_all(["up:x"]), ["x"], steps={Key("up"): 1, Key("up"): 3})[0] == "d"


def test_notes_flag_takes_bools_and_numpy_bools_only():
    fold = lambda flag: tw.Ladder(SEV).fold("info", parse_all(["a:x=n"]), ["x"], notes=flag)[2]  # noqa: E731
    assert [fold(numpy.bool_(True)), fold(numpy.bool_(False)), fold(False)] == [["n"], [], []]
    look_alike = type("bool_", (), {"__module__": "numpy", "__bool__": lambda self: True})
    nameless = {}
    exec("X = type('X', (), {})", nameless)  # a class without __module__
    for flag in (look_alike(), nameless["X"]()):
        with pytest.raises(TypeError, match="notes"):
            fold(flag)


# Extreme steps in every order: a running sum that saturates (or wraps) on the
# way gives a different level for some order than the true sum.
@settings(deadline=None)
@example(levels=SEV, current="warning", texts=["up:a"] * 3 + ["down:a"], names=["a"], qualifier=None,
         scopes=None, steps={"up": I32_MAX, "down": I32_MIN}, drop=frozenset(), notes=True, seed=0)
@given(
    levels=LEVELS,
    current=LEVEL,
    texts=st.lists(directive_texts(st.sampled_from(VERBS)), max_size=8),
    steps=st.dictionaries(st.sampled_from(VERBS + ["other"]), DELTA, max_size=4),
    drop=st.frozensets(st.sampled_from(VERBS), max_size=3),
    notes=st.booleans(),
    seed=st.integers(0, 2**32),
    **TARGET,
)
def test_fold_matches_reference_in_any_order(levels, current, texts, names, qualifier, scopes, steps, drop, notes, seed):
    ladder = tw.Ladder(levels)
    directives = parse_all(texts)
    for _ in range(3):
        got = ladder.fold(current, directives, names, qualifier=qualifier, scopes=scopes, steps=steps, drop=drop,
                          notes=notes)
        assert got == ref_fold(levels, current, directives, names, qualifier, scopes, steps, drop, notes)
        random.Random(seed).shuffle(directives)
