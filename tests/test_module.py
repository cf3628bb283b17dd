"""The module frame: registration, DirectiveError, signatures, docstrings, class conventions,
and the argument conventions shared by every entry point, walked from one table."""

import collections
import inspect

import numpy
import pytest

from class_conventions import assert_class_conventions
from entry_points import ALL_PARAMS, GOOD, KIND, PARAMS, REQUIRED, Liar, call_of, invoke, norm
from helpers import Index, Seq
from tarnwick import _tarnwick as tw

NAMES = ["parse", "glob_match", "expand", "lint_fold", "lint_settings", "Directive", "Ladder", "DirectiveError"]
FUNCTIONS = NAMES[:5]


def test_module_surface():
    assert type(tw.__all__) is list and tw.__all__ == NAMES and tw.__doc__ == ""
    for name in FUNCTIONS:
        fn = getattr(tw, name)
        assert inspect.isbuiltin(fn) and fn.__self__ is tw
        assert (fn.__name__, fn.__qualname__, fn.__module__) == (name, name, tw.__name__)
    err = tw.DirectiveError
    assert (err.__bases__, err.__module__, err.__qualname__) == ((ValueError,), "_tarnwick", "DirectiveError")
    assert err.__doc__ == "A directive failed to parse, or a `@file` failed to load."
    assert set(vars(err)) <= {"__module__", "__doc__", "__weakref__", "__dict__"}


# -- signatures and docstrings -------------------------------------------------

LADDER_FOLD_SIG = "current, directives, names, *, qualifier=None, scopes=None, steps=None, drop=None, notes=True"
SIGNATURES = [
    ("parse", "(spec, *, actions=None)"),
    ("glob_match", "(pattern, text)"),
    ("expand", "(value, *, actions=None)"),
    ("lint_fold", "(current, directives, names, *, qualifier=None, scopes=None)"),
    ("lint_settings", "(directives)"),
    ("Directive.matches", "($self, names, *, qualifier=None, scopes=None)"),
    ("Ladder", "(levels)"),
    ("Ladder.position", "($self, level)"),
    ("Ladder.step", "($self, level, delta)"),
    ("Ladder.fold", "($self, " + LADDER_FOLD_SIG + ")"),
]


def _lookup(dotted):
    obj = tw
    for part in dotted.split("."):
        obj = getattr(obj, part)
    return obj


GETTERS_OF_DIRECTIVE = ["action", "kind", "name", "path", "note"]
GETTERS = ["Directive." + n for n in GETTERS_OF_DIRECTIVE] + ["Ladder.levels"]


@pytest.mark.parametrize("dotted,text_sig", SIGNATURES + [(g, None) for g in GETTERS + ["Directive"]])
def test_signatures_and_docstrings(dotted, text_sig):
    """Each docstring exists; a function's starts with its signature, which the interpreter shows with "$self"
    as a positional-only "self"."""
    obj = _lookup(dotted)
    assert obj.__doc__ and obj.__doc__.strip() == obj.__doc__
    if text_sig is not None:
        assert obj.__text_signature__ == text_sig
        assert str(inspect.signature(obj)) == text_sig.replace("($self, ", "(self, /, ")
    if dotted in FUNCTIONS:
        assert obj.__doc__.startswith(f"`{dotted}{text_sig}` →")


def test_class_members_and_attribute_order():
    public = lambda cls: {n for n in dir(cls) if not n.startswith("_")}  # noqa: E731
    assert public(tw.Directive) == {"action", "kind", "name", "path", "note", "matches"}
    assert public(tw.Ladder) == {"levels", "position", "step", "fold"}
    assert [n for n in vars(tw.Directive) if n in public(tw.Directive) - {"matches"}] == GETTERS_OF_DIRECTIVE
    assert all(inspect.isgetsetdescriptor(_lookup(dotted)) for dotted in GETTERS)


# -- class conventions ---------------------------------------------------------


def test_class_conventions():
    assert_class_conventions(tw.Directive, tw.parse("allow:x"))
    assert_class_conventions(tw.Ladder, tw.Ladder(["a"]))
    for make in (tw.Directive, lambda: tw.Directive("allow:x")):
        with pytest.raises(TypeError):
            make()
    assert tw.parse("allow:x") != tw.parse("allow:x") and tw.Ladder(["a"]) != tw.Ladder(["a"])


# -- argument conventions, across every function and method -------------------

Str = type("Str", (str,), {})
SetSub = type("SetSub", (set,), {})
FrozenSub = type("FrozenSub", (frozenset,), {})
DictSub = type("DictSub", (dict,), {})


BAD = {  # kind -> [(label, factory)]; a Liar (its type's __name__ is not a str) everywhere
    "text": [("bytes", lambda: b"x"), ("int", lambda: 1), ("list", lambda: ["x"])],
    "texts": [
        ("str", lambda: "abc"), ("str-subclass", lambda: Str("abc")), ("set", lambda: {"a"}),
        ("frozenset", lambda: frozenset({"a"})), ("dict", lambda: {"a": 1}),
        ("generator", lambda: (x for x in ["a"])), ("iterator", lambda: iter(["a"])),
        ("int-item", lambda: ["a", 1]), ("bytes", lambda: b"ab"), ("liar-item", lambda: ("a", Liar())),
    ],
    "directives": [
        ("str", lambda: "allow:x"), ("directive", lambda: tw.parse("a:b")), ("set", lambda: {tw.parse("a:b")}),
        ("generator", lambda: (x for x in [tw.parse("a:b")])), ("str-item", lambda: [tw.parse("a:b"), "a:b"]),
        ("liar-item", lambda: [Liar()]), ("dict", lambda: {tw.parse("a:b"): 1}),
    ],
    "set": [
        ("list", lambda: ["allow"]), ("tuple", lambda: ("allow",)), ("str", lambda: "allow"),
        ("dict", lambda: {"allow": 1}), ("int-member", lambda: {1}), ("bytes-member", lambda: {b"allow"}),
        ("liar-member", lambda: frozenset({"allow", Liar()})),
    ],
    "map": [
        ("list", lambda: [("allow", 1)]), ("str", lambda: "allow"), ("int-key", lambda: {1: 1}),
        ("liar-key", lambda: {Liar(): 1}), ("float-value", lambda: {"allow": 1.0}),
        ("str-value", lambda: {"allow": "1"}), ("liar-value", lambda: {"allow": Liar()}),
    ],
    "int": [("float", lambda: 1.0), ("str", lambda: "1"), ("bytes", lambda: b"1")],
    "flag": [("none", lambda: None), ("int-1", lambda: 1), ("int-0", lambda: 0), ("float", lambda: 1.0)],
}
ACCEPTED = {  # kind -> [(label, wrap(good value))]
    "text": [("str-subclass", Str)],
    "texts": [("tuple", tuple), ("list-subclass", collections.UserList), ("sequence", Seq)],
    "directives": [("tuple", tuple), ("sequence", Seq)],
    "set": [("frozenset", frozenset), ("set-subclass", SetSub), ("frozenset-subclass", FrozenSub)],
    "map": [("dict-subclass", DictSub), ("bool-value", lambda m: {k: True for k in m}),
            ("index-value", lambda m: {k: Index(v) for k, v in m.items()})],
    "int": [("bool", lambda v: True), ("index", Index)],
    "flag": [("numpy-bool", numpy.bool_)],
}
@pytest.mark.parametrize("entry", PARAMS)
def test_binding_errors(entry):
    req, opt = PARAMS[entry]
    fn, args, _ = call_of(entry)
    assert norm(invoke(entry)) == norm(invoke(entry, keywords=True))
    bad = [((), {}), (args[:-1], {}), (args, {"bogus": 1}), (args, {req[0]: args[0]}), (args + [None], {}),
           (args, {1: 1})]
    if opt:  # keyword-only parameters given by position
        bad.append((args + [GOOD[p]() for p in opt], {}))
    for a, k in bad:
        with pytest.raises(TypeError):
            fn(*a, **k)


@pytest.mark.parametrize("entry", ["Directive.matches", "Ladder.position", "Ladder.step", "Ladder.fold"])
def test_unbound_method_on_wrong_object(entry):
    cls_name, meth = entry.split(".")
    wrong = tw.Ladder([]) if cls_name == "Directive" else tw.parse("allow:x")
    with pytest.raises(TypeError):
        getattr(getattr(tw, cls_name), meth)(wrong, ["error"])


@pytest.mark.parametrize(
    "entry,param,label,make",
    [(e, p, lbl, mk) for e, p in ALL_PARAMS for lbl, mk in BAD[KIND[p]] + [("liar", Liar)]]
    + [(e, p, "none", lambda: None) for e, p in ALL_PARAMS if p in REQUIRED],
    ids=lambda v: v if isinstance(v, str) else "",
)
def test_wrong_type_is_typeerror_naming_the_parameter(entry, param, label, make):
    with pytest.raises(TypeError, match=f"'{param}'.*(Liar|not)"):
        invoke(entry, {param: make()})


@pytest.mark.parametrize(
    "entry,param,label,wrap",
    [(e, p, lbl, w) for e, p in ALL_PARAMS for lbl, w in ACCEPTED[KIND[p]]],
    ids=lambda v: v if isinstance(v, str) else "",
)
def test_accepted_variants_behave_like_the_plain_type(entry, param, label, wrap):
    assert norm(invoke(entry, {param: wrap(GOOD[param]())})) == norm(invoke(entry))


@pytest.mark.parametrize("entry,param", [(e, p) for e, p in ALL_PARAMS if p not in REQUIRED and p != "notes"])
def test_none_means_absent(entry, param):
    assert norm(invoke(entry, {param: None})) == norm(invoke(entry, omit=(param,)))


@pytest.mark.parametrize("entry,param", [("Ladder.step", "delta"), ("Ladder.fold", "steps")])
@pytest.mark.parametrize("n", [2**31, -(2**31) - 1, 2**64])
def test_out_of_range_integers_overflow(entry, param, n):
    with pytest.raises(OverflowError):
        invoke(entry, {param: n if param == "delta" else {"note": n}})


@pytest.mark.parametrize(
    "call,exc,named",
    [
        (lambda: tw.parse("x", actions=["allow"]), TypeError, "actions"),
        (lambda: tw.parse(b"x", actions=["allow"]), TypeError, "spec"),
        (lambda: tw.parse("\ud800", actions=["allow"]), UnicodeEncodeError, None),
        (lambda: tw.expand("@/nonexistent/rules.txt", actions=["allow"]), TypeError, "actions"),
        (lambda: tw.lint_fold("bogus", "notalist", []), TypeError, "directives"),
        (lambda: tw.lint_fold("bogus", [], [], qualifier=b"q"), TypeError, "qualifier"),
        (lambda: tw.lint_fold("\ud800", "notalist", []), UnicodeEncodeError, None),
        (lambda: tw.glob_match(b"a", 1), TypeError, "pattern"),
        (lambda: tw.Ladder([]).fold(1, "bad", [], notes=None), TypeError, "current"),
        (lambda: tw.Ladder([]).fold("a", [], [], steps={"x": 1.0}, notes=None), TypeError, "steps"),
        (lambda: tw.Ladder([]).fold("a", [], [], steps={"x": 2**31}, drop=["x"]), OverflowError, None),
        (lambda: tw.Ladder([]).step(b"a", 2**31), TypeError, "level"),
        (lambda: tw.parse("allow:x").matches("abc", qualifier=1), TypeError, "names"),
    ],
)
def test_arguments_convert_in_declaration_order(call, exc, named):
    with pytest.raises(exc) as ei:
        call()
    assert not isinstance(ei.value, tw.DirectiveError)
    if named:
        assert named in str(ei.value)
