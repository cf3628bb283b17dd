"""Which actions a tool accepts, asked of the module: the lint verbs in every
spelling the folds accept, or the exact tokens of an allowed set, refused
with the module's own message."""

from __future__ import annotations

from tarnwick._tarnwick import DirectiveError, _lint_effect, parse

__all__ = ["LINT_SPELLINGS", "lint_verb", "refusal"]

# The spellings a refusal offers for an action that is no lint verb.
LINT_SPELLINGS = frozenset({"suppress", "de-escalate", "escalate", "note", "set", "settings"})


def lint_verb(action: str) -> str | None:
    """The lint verb that *action* names as the folds read it ("deescalate" for
    "De-Escalate": any ASCII case, hyphens ignored), or None when it names none."""
    effect = _lint_effect(action)
    return None if effect is None else effect[0]


def refusal(action: str, allowed: set[str] | frozenset[str] | None, *, lint: bool = False) -> str | None:
    """None when *action* is accepted (a lint verb with *lint*, else a member of
    *allowed*, when given), else the module's message refusing it."""
    if lint:
        if lint_verb(action) is not None:
            return None
        allowed = LINT_SPELLINGS
    elif allowed is None or action in allowed:
        return None
    try:  # the action token re-parses as itself: it holds no unescaped ":" or "="
        parse(f"{action}:x", actions=frozenset(allowed))
    except DirectiveError as exc:
        return str(exc)
    return None
