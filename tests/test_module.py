"""The module frame: registration, DirectiveError, signatures, docstrings, class conventions,
and the argument conventions shared by every entry point (each one checked here, once)."""

import collections
import importlib.util
import inspect

import pytest

from class_conventions import assert_class_conventions
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


DOCS = [
    ("parse", "`parse(spec, *, actions=None)` → a [`Directive`]. Raises `DirectiveError` on a malformed string,\n"
     "or — when `actions` is given — on an action token outside that allowed set."),
    ("glob_match", "`glob_match(pattern, text)` → does the glob (`* ? {} [..] \\\\`) match `text` in full?"),
    ("expand", "`expand(value, *, actions=None)` → the directives a single `-D` value yields: one inline\n"
     "directive, or every directive in a `@file` (`@-` reads stdin). Raises `DirectiveError` on a bad\n"
     "directive/file, or — when `actions` is given — on any action outside that allowed set."),
    ("lint_fold", "`lint_fold(current, directives, names, *, qualifier=None, scopes=None)` → `(severity, dropped,\n"
     "notes)`. Applies the standard lint combine policy (suppress / de-escalate / escalate / note);\n"
     'non-lint actions are inert. `current` ∈ `"error" | "warning" | "info"`.'),
    ("lint_settings", "`lint_settings(directives)` → `[(key, value)]` from every `set:KEY=VALUE` directive, in order."),
    ("Directive", "One parsed directive (`ACTION:[<KIND>]NAME[@PATH][=NOTE]`), open-set: `action` is the raw token."),
    ("Directive.action", "The action token, verbatim."),
    ("Directive.kind", "The `<KIND>` filter, or `None` for any kind."),
    ("Directive.name", "The NAME glob, as written."),
    ("Directive.path", "The `@PATH` glob, or `None`."),
    ("Directive.note", "The `=NOTE` text, or `None`."),
    ("Directive.matches", "Does this directive apply to a target with these `names` (and optional `qualifier`/`scopes`)?\n"
     "\nKIND (if set) must equal `qualifier` exactly; NAME must glob-match one of `names`; PATH (if\n"
     "set) must glob-match one of `scopes`."),
    ("Ladder", "`Ladder(levels)` — a saturating, order-independent ladder over any ordered set (severities,\n"
     '`["draft", "review", "final"]`, …). Levels are most-significant first.'),
    ("Ladder.levels", "All levels, most-significant first."),
    ("Ladder.position", "The rung index of `level`, or `None` if it isn't on this ladder."),
    ("Ladder.step", "Move `level` by `delta` rungs, saturating at both ends (`delta>0` → later in the list)."),
    ("Ladder.fold", "Fold matching directives onto a target with *your* verb vocabulary, returning\n"
     "`(level, dropped, notes)`: notes accumulate from every match, `current` steps by the summed\n"
     "`steps[action]` (missing actions = 0), and `dropped` is set if any matching action is in\n"
     "`drop`. Custom verbs + custom ladder, same combine shape as the built-in lint fold."),
]


@pytest.mark.parametrize("dotted,doc", DOCS)
def test_docstrings(dotted, doc):
    assert _lookup(dotted).__doc__ == doc


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

PARAMS = {  # entry -> (required, keyword-only)
    "parse": (("spec",), ("actions",)),
    "glob_match": (("pattern", "text"), ()),
    "expand": (("value",), ("actions",)),
    "lint_fold": (("current", "directives", "names"), ("qualifier", "scopes")),
    "lint_settings": (("directives",), ()),
    "Directive.matches": (("names",), ("qualifier", "scopes")),
    "Ladder": (("levels",), ()),
    "Ladder.position": (("level",), ()),
    "Ladder.step": (("level", "delta"), ()),
    "Ladder.fold": (("current", "directives", "names"), ("qualifier", "scopes", "steps", "drop", "notes")),
}
GOOD = {
    "spec": lambda d: "note:x", "pattern": lambda d: "a*", "text": lambda d: "ab",
    "value": lambda d: "note:x", "current": lambda d: "error", "level": lambda d: "error",
    "qualifier": lambda d: "q", "names": lambda d: ["x"], "scopes": lambda d: ["s"],
    "levels": lambda d: ["error", "warning"], "directives": lambda d: [d], "actions": lambda d: {"note"},
    "drop": lambda d: {"note"}, "steps": lambda d: {"note": 1}, "delta": lambda d: 1, "notes": lambda d: True,
}
KIND = {
    "spec": "text", "pattern": "text", "text": "text", "value": "text", "current": "text", "level": "text",
    "qualifier": "text", "names": "texts", "scopes": "texts", "levels": "texts", "directives": "directives",
    "actions": "set", "drop": "set", "steps": "map", "delta": "int", "notes": "flag",
}


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


BAD = {  # kind -> [(label, factory(directive))]
    "text": [("bytes", lambda d: b"x"), ("int", lambda d: 1), ("list", lambda d: ["x"])],
    "texts": [
        ("str", lambda d: "abc"), ("str-subclass", lambda d: Str("abc")), ("set", lambda d: {"a"}),
        ("frozenset", lambda d: frozenset({"a"})), ("dict", lambda d: {"a": 1}),
        ("generator", lambda d: (x for x in ["a"])), ("iterator", lambda d: iter(["a"])),
        ("int-item", lambda d: ["a", 1]), ("bytes-item", lambda d: ["a", b"b"]), ("bytes", lambda d: b"ab"),
    ],
    "directives": [
        ("str", lambda d: "allow:x"), ("directive", lambda d: d), ("set", lambda d: {d}),
        ("generator", lambda d: (x for x in [d])), ("str-item", lambda d: [d, "allow:x"]),
        ("int-item", lambda d: [1]), ("dict", lambda d: {d: 1}),
    ],
    "set": [
        ("list", lambda d: ["allow"]), ("tuple", lambda d: ("allow",)), ("str", lambda d: "allow"),
        ("dict", lambda d: {"allow": 1}), ("int-member", lambda d: {1}), ("bytes-member", lambda d: {b"allow"}),
        ("frozenset-int-member", lambda d: frozenset({"allow", 2})),
    ],
    "map": [
        ("list", lambda d: [("allow", 1)]), ("str", lambda d: "allow"), ("int-key", lambda d: {1: 1}),
        ("bytes-key", lambda d: {b"allow": 1}), ("float-value", lambda d: {"allow": 1.0}),
        ("str-value", lambda d: {"allow": "1"}), ("none-value", lambda d: {"allow": None}),
    ],
    "int": [("float", lambda d: 1.0), ("str", lambda d: "1"), ("bytes", lambda d: b"1")],
    "flag": [("none", lambda d: None), ("int-1", lambda d: 1), ("int-0", lambda d: 0), ("str", lambda d: "yes"),
             ("float", lambda d: 1.0)],
}
ACCEPTED = {  # kind -> [(label, factory(good value))]
    "text": [("str-subclass", Str)],
    "texts": [("tuple", tuple), ("list-subclass", collections.UserList), ("sequence", Seq)],
    "directives": [("tuple", tuple), ("sequence", Seq)],
    "set": [("frozenset", frozenset), ("set-subclass", SetSub), ("frozenset-subclass", FrozenSub)],
    "map": [("dict-subclass", DictSub), ("bool-value", lambda m: {k: True for k in m}),
            ("index-value", lambda m: {k: Idx(v) for k, v in m.items()})],
    "int": [("bool", lambda v: True), ("index", Idx)],
    "flag": [],
}
SURROGATE = {
    "text": lambda good: "a\ud800",
    "texts": lambda good: list(good) + ["\ud800"],
    "set": lambda good: set(good) | {"\udfff"},
    "map": lambda good: {"\ud800": 1},
}
ALL_PARAMS = [(e, p) for e, (req, opt) in PARAMS.items() for p in req + opt]
REQUIRED = {p for req, _ in PARAMS.values() for p in req}


# kind, path and note all take part, so every target argument changes the result
DIRECTIVE = "note:<q>x@s=n"


def invoke(entry, override=None, omit=(), keywords=False):
    d = tw.parse(DIRECTIVE)
    ladder = tw.Ladder(["error", "warning"])
    fn = {"Directive.matches": d.matches, "Ladder.position": ladder.position, "Ladder.step": ladder.step,
          "Ladder.fold": ladder.fold}.get(entry) or getattr(tw, entry)
    req, opt = PARAMS[entry]
    values = {p: GOOD[p](d) for p in req + opt}
    values.update({p: make(d) for p, make in (override or {}).items()})
    args = [] if keywords else [values[p] for p in req]
    kwargs = {p: values[p] for p in opt if p not in omit}
    if keywords:
        kwargs.update({p: values[p] for p in req})
    return fn(*args, **kwargs)


def norm(x):
    if isinstance(x, tw.Directive):
        return ("Directive", str(x))
    if isinstance(x, tw.Ladder):
        return ("Ladder", x.levels)
    if isinstance(x, (list, tuple)):
        return (type(x).__name__, [norm(i) for i in x])
    return x


@pytest.mark.parametrize("entry", PARAMS)
def test_binding_errors(entry):
    req, opt = PARAMS[entry]
    d = tw.parse(DIRECTIVE)
    args = [GOOD[p](d) for p in req]
    fn = _fn(entry)
    assert norm(invoke(entry)) == norm(invoke(entry, keywords=True))
    bad = [((), {}), (args[:-1], {}), (args, {"bogus": 1}), (args, {req[0]: args[0]}), (args + [None], {})]
    if opt:  # keyword-only parameters given by position
        bad.append((args + [GOOD[p](d) for p in opt], {}))
    for a, k in bad:
        with pytest.raises(TypeError):
            fn(*a, **k)


def _fn(entry):
    if "." not in entry or entry == "Ladder":
        return getattr(tw, entry)
    owner = tw.parse("allow:x") if entry.startswith("Directive") else tw.Ladder(["error", "warning"])
    return getattr(owner, entry.split(".")[1])


@pytest.mark.parametrize("entry", ["Directive.matches", "Ladder.position", "Ladder.step", "Ladder.fold"])
def test_unbound_method_on_wrong_object(entry):
    cls_name, meth = entry.split(".")
    wrong = tw.Ladder([]) if cls_name == "Directive" else tw.parse("allow:x")
    with pytest.raises(TypeError):
        getattr(getattr(tw, cls_name), meth)(wrong, ["error"])


@pytest.mark.parametrize(
    "entry,param,label,make",
    [(e, p, lbl, mk) for e, p in ALL_PARAMS for lbl, mk in BAD[KIND[p]]]
    + [(e, p, "none", lambda d: None) for e, p in ALL_PARAMS if p in REQUIRED],
    ids=lambda v: v if isinstance(v, str) else "",
)
def test_wrong_type_is_typeerror_naming_the_parameter(entry, param, label, make):
    with pytest.raises(TypeError) as ei:
        invoke(entry, {param: make})
    assert param in str(ei.value)


@pytest.mark.parametrize(
    "entry,param,label,wrap",
    [(e, p, lbl, w) for e, p in ALL_PARAMS for lbl, w in ACCEPTED[KIND[p]]],
    ids=lambda v: v if isinstance(v, str) else "",
)
def test_accepted_variants_behave_like_the_plain_type(entry, param, label, wrap):
    assert norm(invoke(entry, {param: lambda d: wrap(GOOD[param](d))})) == norm(invoke(entry))


@pytest.mark.parametrize("entry,param", [(e, p) for e, p in ALL_PARAMS if p not in REQUIRED and p != "notes"])
def test_none_means_absent(entry, param):
    assert norm(invoke(entry, {param: lambda d: None})) == norm(invoke(entry, omit=(param,)))


@pytest.mark.parametrize("entry,param", [(e, p) for e, p in ALL_PARAMS if KIND[p] in SURROGATE])
def test_lone_surrogates_raise_unicode_encode_error(entry, param):
    with pytest.raises(UnicodeEncodeError):
        invoke(entry, {param: lambda d: SURROGATE[KIND[param]](GOOD[param](d))})


@pytest.mark.parametrize("entry,param", [("Ladder.step", "delta"), ("Ladder.fold", "steps")])
@pytest.mark.parametrize("n", [2**31, -(2**31) - 1, 2**64])
def test_out_of_range_integers_overflow(entry, param, n):
    value = (lambda d: n) if param == "delta" else (lambda d: {"note": n})
    with pytest.raises(OverflowError):
        invoke(entry, {param: value})


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
