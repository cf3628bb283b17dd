"""The module frame: registration, DirectiveError, signatures, docstrings, class conventions,
and the argument conventions shared by every entry point, walked from one table."""

import collections
import functools
import inspect
import weakref

import numpy
import pytest

from entry_points import ALL_PARAMS, GOOD, KIND, PARAMS, REQUIRED, WRONG, Liar, call_of, invoke, norm
from helpers import Index
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
    assert set(vars(err)) <= {"__module__", "__doc__", "__weakref__", "__dict__", "__reduce__"}  # pickling


SIGNATURES = {
    "parse": "(spec, *, actions=None)", "glob_match": "(pattern, text)", "expand": "(value, *, actions=None)",
    "lint_fold": "(current, directives, names, *, qualifier=None, scopes=None)", "lint_settings": "(directives)",
    "Directive.matches": "($self, names, *, qualifier=None, scopes=None)", "Ladder": "(levels)",
    "Ladder.position": "($self, level)", "Ladder.step": "($self, level, delta)",
    "Ladder.fold": "($self, current, directives, names, *, qualifier=None, scopes=None, steps=None, drop=None, "
                   "notes=True)",
}
GETTERS = ["Directive." + n for n in ("action", "kind", "name", "path", "note")] + ["Ladder.levels"]


def _lookup(dotted):
    return functools.reduce(getattr, dotted.split("."), tw)


@pytest.mark.parametrize("dotted", [*SIGNATURES, *GETTERS, "Directive"])
def test_signatures_and_docstrings(dotted):
    obj, text_sig = _lookup(dotted), SIGNATURES.get(dotted)
    assert obj.__doc__ and obj.__doc__.strip() == obj.__doc__
    if text_sig is not None:  # the interpreter shows "$self" as a positional-only "self"
        assert obj.__text_signature__ == text_sig
        assert str(inspect.signature(obj)) == text_sig.replace("($self, ", "(self, /, ")
    if dotted in FUNCTIONS:
        assert obj.__doc__.startswith(f"`{dotted}{text_sig}` →")


@pytest.mark.parametrize("cls,instance", [(tw.Directive, tw.parse("allow:x")), (tw.Ladder, tw.Ladder(["a"])),
                                          (tw.Policy, tw.Policy([]))])
def test_class_conventions(cls, instance):
    """Final, no instance dictionary or weak references, immutable, compared by identity, not a container."""
    assert type(instance) is cls and cls.__bases__ == (object,)
    assert (cls.__module__, cls.__qualname__) == ("builtins", cls.__name__) and "." not in cls.__name__
    assert not hasattr(instance, "__dict__")
    for refused in (lambda: type("Sub", (cls,), {}), lambda: weakref.ref(instance), len, iter, lambda: instance[0],
                    lambda: instance["action"], lambda: cls(), lambda: cls("allow:x")):
        with pytest.raises(TypeError):
            refused(instance) if refused in (len, iter) else refused()
    names = [n for n in dir(instance) if not n.startswith("__")]
    for name in names + ["brand_new_attribute", "__dict__"]:
        with pytest.raises(AttributeError):
            setattr(instance, name, "x")
        with pytest.raises(AttributeError):
            delattr(instance, name)
    for op in ("__eq__", "__ne__", "__hash__", "__lt__", "__le__", "__gt__", "__ge__"):
        assert getattr(cls, op) is getattr(object, op)
    assert instance == instance and instance != object() and hash(instance) == object.__hash__(instance)


# -- argument conventions, across every function and method -------------------

class Str(str):
    """Texts are compared by their UTF-8 bytes, never by a subclass's __eq__ or __hash__."""

    def __eq__(self, other):
        raise AssertionError("__eq__ called")

    __hash__ = str.__hash__


ACCEPTED = {  # kind -> a look-alike of the plain type, made from a good value
    "text": Str, "texts": lambda v: collections.UserList(map(Str, v)), "directives": tuple,
    "set": lambda v: frozenset(map(Str, v)), "map": lambda m: {Str(k): Index(v) for k, v in m.items()}, "int": Index,
    "flag": numpy.bool_, "ladder": lambda v: v,
}


@pytest.mark.parametrize("entry", PARAMS)
def test_binding_errors(entry):
    req, opt = PARAMS[entry]
    fn, args, _ = call_of(entry)
    assert norm(invoke(entry)) == norm(invoke(entry, keywords=True))
    bad = [(args, {"bogus": 1}), (args + [None], {}), (args, {1: 1})]
    if req:
        bad += [((), {}), (args[:-1], {}), (args, {req[0]: args[0]})]
    if opt:  # keyword-only parameters given by position
        bad.append((args + [GOOD[p]() for p in opt], {}))
    for a, k in bad:
        with pytest.raises(TypeError):
            fn(*a, **k)


@pytest.mark.parametrize("entry", ["Directive.matches", "Ladder.position", "Ladder.step", "Ladder.fold"])
def test_unbound_method_on_wrong_object(entry):
    with pytest.raises(TypeError):
        _lookup(entry)(tw.Ladder([]) if entry.startswith("Directive") else tw.parse("allow:x"), ["error"])


@pytest.mark.parametrize("entry,param", ALL_PARAMS)
def test_wrong_type_is_typeerror_naming_the_parameter(entry, param):
    for bad in [WRONG[KIND[param]](), Liar()] + ([None] if param in REQUIRED else []):
        with pytest.raises(TypeError, match=f"'{param}'.*(Liar|not)"):
            invoke(entry, {param: bad})
    assert norm(invoke(entry, {param: ACCEPTED[KIND[param]](GOOD[param]())})) == norm(invoke(entry))
    if param not in REQUIRED and param != "notes":  # None means absent
        assert norm(invoke(entry, {param: None})) == norm(invoke(entry, omit=(param,)))


@pytest.mark.parametrize("call,exc,named", [
    (lambda: tw.parse("x", actions=["allow"]), TypeError, "actions"),
    (lambda: tw.parse("\ud800", actions=["allow"]), UnicodeEncodeError, None),
    (lambda: tw.expand("@/nonexistent/rules.txt", actions=["allow"]), TypeError, "actions"),
    (lambda: tw.lint_fold("bogus", "notalist", []), TypeError, "directives"),
    (lambda: tw.lint_fold("\ud800", "notalist", []), UnicodeEncodeError, None),
    (lambda: tw.Ladder([]).fold(1, "bad", [], notes=None), TypeError, "current"),
    (lambda: tw.Ladder([]).fold("a", [], [], steps={"x": 1.0}, notes=None), TypeError, "steps"),
    (lambda: tw.Ladder([]).fold("a", [], [], steps={"x": 2**31}, drop=["x"]), OverflowError, None),
    (lambda: tw.parse("allow:x").matches("abc", qualifier=1), TypeError, "names"),
])
def test_arguments_convert_in_declaration_order(call, exc, named):
    with pytest.raises(exc, match=named) as ei:
        call()
    assert not isinstance(ei.value, tw.DirectiveError)
