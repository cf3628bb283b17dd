"""Shared checks for the module's classes: final, immutable, identity-compared."""

import weakref

import pytest


def _public_names(instance):
    return [n for n in dir(instance) if not n.startswith("__")]


def assert_class_conventions(cls, instance):
    assert type(instance) is cls
    assert cls.__bases__ == (object,)

    # final
    with pytest.raises(TypeError):

        class Sub(cls):  # noqa: F841
            pass

    with pytest.raises(TypeError):
        type("Sub", (cls,), {})

    # created under "builtins", with a bare name
    assert cls.__module__ == "builtins"
    assert "." not in cls.__name__
    assert cls.__qualname__ == cls.__name__

    # no instance dictionary, no weak references
    assert not hasattr(instance, "__dict__")
    with pytest.raises(TypeError):
        weakref.ref(instance)

    # immutable: every existing attribute and any new one refuse assignment
    names = _public_names(instance)
    assert names, "expected some public attributes"
    for name in names + ["brand_new_attribute", "__dict__"]:
        with pytest.raises(AttributeError):
            setattr(instance, name, "x")
    for name in names + ["brand_new_attribute"]:
        with pytest.raises(AttributeError):
            delattr(instance, name)

    # identity equality and hashing
    assert cls.__eq__ is object.__eq__
    assert cls.__ne__ is object.__ne__
    assert cls.__hash__ is object.__hash__
    assert instance == instance
    assert not (instance != instance)
    assert instance != object()
    assert hash(instance) == object.__hash__(instance)
    for op in ("__lt__", "__le__", "__gt__", "__ge__"):
        assert getattr(cls, op) is getattr(object, op)
    with pytest.raises(TypeError):
        instance < instance  # noqa: B015

    # neither sequence nor mapping
    with pytest.raises(TypeError):
        len(instance)
    with pytest.raises(TypeError):
        iter(instance)
    with pytest.raises(TypeError):
        instance[0]  # noqa: B018
    with pytest.raises(TypeError):
        instance["action"]  # noqa: B018
    with pytest.raises(TypeError):
        "a" in instance  # noqa: B015
