"""The module frame: registration, DirectiveError, signatures, docstrings, class conventions,
and the argument conventions shared by every entry point, walked from one table."""

import collections
import importlib.util
import inspect

import numpy
import pytest

from class_conventions import assert_class_conventions
from entry_points import ALL_PARAMS, GOOD, KIND, PARAMS, REQUIRED, Liar, call_of, invoke, norm
from tarnwick import _tarnwick as tw

NAMES = ["parse", "glob_match", "expand", "lint_fold", "lint_settings", "Directive", "Ladder", "DirectiveError"]
FUNCTIONS = NAMES[:5]


def test_all_lists_the_eight_names_in_order():
    assert type(tw.__all__) is list
    assert tw.__all__ == NAMES
    for name in NAMES:
        assert hasattr(tw, name)


def test_module_docstring_is_empty():
    assert tw.__doc__ == ""


@pytest.mark.parametrize("name", FUNCTIONS)
def test_functions_are_builtins_bound_to_the_module(name):
    fn = getattr(tw, name)
    assert inspect.isbuiltin(fn)
    assert fn.__name__ == name
    assert fn.__qualname__ == name
    assert fn.__module__ == tw.__name__
    assert fn.__self__ is tw


def test_directive_error_class():
    err = tw.DirectiveError
    assert err.__bases__ == (ValueError,)
    assert err.__module__ == "_tarnwick"
    assert err.__name__ == "DirectiveError"
    assert err.__qualname__ == "DirectiveError"
    assert err.__doc__ == "A directive failed to parse, or a `@file` failed to load."
    own = set(vars(err)) - {"__module__", "__doc__", "__weakref__", "__dict__"}
    assert own == set()


@pytest.mark.parametrize(
    "call",
    [
        lambda: tw.parse(""),
        lambda: tw.parse("x:y", actions=set()),
        lambda: tw.expand("allow:"),
        lambda: tw.lint_fold("bogus", [], []),
    ],
)
def test_raised_errors_carry_one_message_argument(call):
    with pytest.raises(ValueError) as ei:
        call()
    assert type(ei.value) is tw.DirectiveError
    assert ei.value.args == (str(ei.value),)
    assert str(ei.value)


def test_second_module_object_shares_the_classes():
    spec = importlib.util.find_spec("tarnwick._tarnwick")
    other = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(other)
    assert other is not tw
    assert other.__all__ == NAMES
    assert other.DirectiveError is tw.DirectiveError
    assert other.Directive is tw.Directive
    assert other.Ladder is tw.Ladder


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


@pytest.mark.parametrize("dotted,text_sig", SIGNATURES)
def test_text_signatures(dotted, text_sig):
    obj = _lookup(dotted)
    assert obj.__text_signature__ == text_sig
    # the interpreter shows "$self" as a positional-only "self"
    assert str(inspect.signature(obj)) == text_sig.replace("($self, ", "(self, /, ")


GETTERS = ["Directive.action", "Directive.kind", "Directive.name", "Directive.path", "Directive.note",
           "Ladder.levels"]


@pytest.mark.parametrize("dotted", [d for d, _ in SIGNATURES] + FUNCTIONS + GETTERS + ["Directive"])
def test_docstrings_exist_and_functions_show_their_signature_first(dotted):
    doc = _lookup(dotted).__doc__
    assert doc and doc.strip() == doc
    if dotted in FUNCTIONS:
        assert doc.startswith(f"`{dotted}{_lookup(dotted).__text_signature__}` →")


@pytest.mark.parametrize("dotted", ["Directive.action", "Directive.kind", "Directive.name", "Directive.path",
                                    "Directive.note", "Ladder.levels"])
def test_attributes_are_getset_descriptors(dotted):
    assert inspect.isgetsetdescriptor(_lookup(dotted))


def test_class_members_and_attribute_order():
    public = lambda cls: {n for n in dir(cls) if not n.startswith("_")}  # noqa: E731
    assert public(tw.Directive) == {"action", "kind", "name", "path", "note", "matches"}
    assert public(tw.Ladder) == {"levels", "position", "step", "fold"}
    getters = [n for n in vars(tw.Directive) if n in {"action", "kind", "name", "path", "note"}]
    assert getters == ["action", "kind", "name", "path", "note"]


# -- class conventions ---------------------------------------------------------


def test_directive_class_conventions():
    assert_class_conventions(tw.Directive, tw.parse("allow:x"))
    assert tw.Directive.__name__ == "Directive"
    with pytest.raises(TypeError):
        tw.Directive()
    with pytest.raises(TypeError):
        tw.Directive("allow:x")
    a, b = tw.parse("allow:x"), tw.parse("allow:x")
    assert a != b and str(a) == str(b)


def test_ladder_class_conventions():
    assert_class_conventions(tw.Ladder, tw.Ladder(["a"]))
    assert tw.Ladder.__name__ == "Ladder"
    assert tw.Ladder(["a"]) != tw.Ladder(["a"])


# -- argument conventions, across every function and method -------------------

Str = type("Str", (str,), {})
SetSub = type("SetSub", (set,), {})
FrozenSub = type("FrozenSub", (frozenset,), {})
DictSub = type("DictSub", (dict,), {})


class Idx:
    def __init__(self, n):
        self.n = n

    def __index__(self):
        return self.n


class Seq:  # only __len__ and __getitem__
    def __init__(self, items):
        self.items = list(items)

    def __len__(self):
        return len(self.items)

    def __getitem__(self, i):
        return self.items[i]


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
            ("index-value", lambda m: {k: Idx(v) for k, v in m.items()})],
    "int": [("bool", lambda v: True), ("index", Idx)],
    "flag": [("numpy-bool", numpy.bool_)],
}
SURROGATE = {  # a lone surrogate, at the start, inside and at the end of a text
    "text": lambda good: "\ud800" + good,
    "texts": lambda good: list(good) + ["a\udfffb"],
    "set": lambda good: set(good) | {"x" * 100 + "\udc80"},
    "map": lambda good: {"\ud800": 1},
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


@pytest.mark.parametrize("entry,param", [(e, p) for e, p in ALL_PARAMS if KIND[p] in SURROGATE])
def test_lone_surrogates_raise_unicode_encode_error(entry, param):
    with pytest.raises(UnicodeEncodeError):
        invoke(entry, {param: SURROGATE[KIND[param]](GOOD[param]())})


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
