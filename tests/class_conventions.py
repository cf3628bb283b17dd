"""Shared checks for the module's classes: final, immutable, identity-compared."""

import weakref

import pytest


def assert_class_conventions(cls, instance):
    assert type(instance) is cls and cls.__bases__ == (object,)
    with pytest.raises(TypeError):  # final
        type("Sub", (cls,), {})
    # created under "builtins", with a bare name
    assert (cls.__module__, cls.__qualname__) == ("builtins", cls.__name__) and "." not in cls.__name__

    # no instance dictionary, no weak references
    assert not hasattr(instance, "__dict__")
    with pytest.raises(TypeError):
        weakref.ref(instance)

    # immutable: every existing attribute and any new one refuse assignment and deletion
    names = [n for n in dir(instance) if not n.startswith("__")]
    assert names, "expected some public attributes"
    for name in names + ["brand_new_attribute"]:
        with pytest.raises(AttributeError):
            setattr(instance, name, "x")
        with pytest.raises(AttributeError):
            delattr(instance, name)
    with pytest.raises(AttributeError):
        instance.__dict__ = {}

    # identity equality and hashing, no ordering
    for op in ("__eq__", "__ne__", "__hash__", "__lt__", "__le__", "__gt__", "__ge__"):
        assert getattr(cls, op) is getattr(object, op)
    assert instance == instance and instance != object() and hash(instance) == object.__hash__(instance)

    # neither sequence nor mapping
    for use in (len, iter, lambda x: x[0], lambda x: x["action"]):
        with pytest.raises(TypeError):
            use(instance)
