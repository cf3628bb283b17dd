"""Every function and method that takes arguments, with a good value and a wrong one for each parameter:
the argument-convention, hostile-object, leak and thread tests all walk this table."""

from tarnwick import _tarnwick as tw

PARAMS = {  # entry -> (required, keyword-only), in declaration order
    "parse": (("spec",), ("actions",)), "glob_match": (("pattern", "text"), ()), "expand": (("value",), ("actions",)),
    "expand_sourced": (("value",), ("actions",)), "lint_settings": (("directives",), ()),
    "lint_fold": (("current", "directives", "names"), ("qualifier", "scopes")),
    "Directive.matches": (("names",), ("qualifier", "scopes")), "Ladder": (("levels",), ()),
    "Ladder.position": (("level",), ()), "Ladder.step": (("level", "delta"), ()),
    "Ladder.fold": (("current", "directives", "names"), ("qualifier", "scopes", "steps", "drop", "notes")),
    "Policy": (("directives",), ("ladder", "steps", "drop", "root")),
    "Policy.fold": (("current", "names"), ("qualifier", "scopes", "notes")),
    "Policy.settings": ((), ("qualifier", "scopes")),
    "Policy.from_values": (("values",), ("actions", "ladder", "steps", "drop", "root")),
    "_ladder": (("levels",), ()), "_lint_effect": (("action",), ()), "_quoted": (("text",), ()),
    "_literal": (("pattern",), ()), "_scope_path": (("path", "roots"), ()), "_trimmed": (("text",), ()),
}
KIND = {
    "spec": "text", "pattern": "text", "text": "text", "value": "text", "current": "text", "level": "text",
    "qualifier": "text", "names": "texts", "scopes": "texts", "levels": "texts", "directives": "directives",
    "actions": "set", "drop": "set", "steps": "map", "delta": "int", "notes": "flag",
    "ladder": "ladder", "root": "text", "values": "texts", "action": "text", "path": "text", "roots": "texts",
}
ALL_PARAMS = [(e, p) for e, (req, opt) in PARAMS.items() for p in req + opt]
REQUIRED = {p for req, _ in PARAMS.values() for p in req}

# kind, path and note all take part, so every target argument changes the result
DIRECTIVE = "note:<qq>xx@ss=n"


def fresh(text):
    """An equal str that nothing else references (literals are shared)."""
    return (text + "!")[:-1]


GOOD = {  # parameter -> a new value, with texts that only it holds
    "spec": lambda: fresh("note:xx"), "pattern": lambda: fresh("a*"), "text": lambda: fresh("ab"),
    "value": lambda: fresh("note:xx"), "current": lambda: fresh("error"), "level": lambda: fresh("error"),
    "qualifier": lambda: fresh("qq"), "names": lambda: [fresh("xx")], "scopes": lambda: [fresh("ss")],
    "levels": lambda: [fresh("error"), fresh("warning")], "directives": lambda: [tw.parse(DIRECTIVE)],
    "actions": lambda: {fresh("note")}, "drop": lambda: {fresh("note")}, "steps": lambda: {fresh("note"): 1},
    "delta": lambda: 1, "notes": lambda: True, "ladder": lambda: tw.Ladder([fresh("error"), fresh("warning")]),
    "root": lambda: fresh("/rr"), "values": lambda: [fresh("note:xx")], "action": lambda: fresh("De-Escalate"),
    "path": lambda: fresh("/rr/./ss"), "roots": lambda: [fresh("/rr")],
}

WRONG = {  # kind -> a value of the wrong type, which a lax conversion might take
    "text": lambda: b"x", "texts": lambda: "abc", "directives": lambda: [tw.parse("a:b"), "a:b"],
    "set": lambda: ["allow"], "map": lambda: {"allow": 1.0}, "int": lambda: 1.0, "flag": lambda: 1,
    "ladder": lambda: ["error", "warning"],
}


def callable_for(entry):
    if entry == "Directive.matches":
        return tw.parse(DIRECTIVE).matches
    if entry.startswith("Ladder."):
        return getattr(tw.Ladder(["error", "warning"]), entry.split(".")[1])
    if entry.startswith("Policy."):
        return getattr(tw.Policy([tw.parse(DIRECTIVE)]), entry.split(".")[1])
    return getattr(tw, entry)


def call_of(entry, override=None, omit=(), keywords=False):
    """(callable, args, kwargs) for `entry` with good values, some replaced
    by `override` (parameter -> value) or left out (`omit`)."""
    req, opt = PARAMS[entry]
    values = {p: GOOD[p]() for p in req + opt if p not in omit}
    values.update(override or {})
    by_position = [] if keywords else [values.pop(p) for p in req]
    return callable_for(entry), by_position, values


def invoke(entry, override=None, omit=(), keywords=False):
    fn, args, kwargs = call_of(entry, override, omit, keywords)
    return fn(*args, **kwargs)


def norm(x):
    """A comparable form of a result."""
    if isinstance(x, tw.Directive):
        return ("Directive", str(x))
    if isinstance(x, tw.Ladder):
        return ("Ladder", x.levels)
    if isinstance(x, tw.Policy):
        return ("Policy", norm(x.directives), [norm(x.fold("error", [n], scopes=["ss"])) for n in ("xx", "q")])
    if isinstance(x, (list, tuple)):
        return (type(x).__name__, [norm(i) for i in x])
    return x


# Its type's __name__ is not a str.
Liar = type("Meta", (type,), {"__name__": property(lambda cls: 12345)})("Liar", (), {})
