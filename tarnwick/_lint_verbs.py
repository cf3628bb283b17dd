"""The lint verbs as the commands check and explain them.

An action is a lint verb after ASCII lowercasing and deleting every hyphen,
as ``lint_fold`` reads it; ``EFFECTS`` says what each verb does to a finding
it matches.
"""

from __future__ import annotations

from typing import NamedTuple


class Effect(NamedTuple):
    step: int  # levels towards "info" (+) or "error" (-); the fold sums them and moves once
    drops: bool


EFFECTS = {
    "suppress": Effect(0, True),
    "deescalate": Effect(1, False),
    "escalate": Effect(-1, False),
    "note": Effect(0, False),
}
SETTINGS = frozenset({"set", "settings"})  # set:KEY=VALUE configures the tool; never part of a fold

# The spellings a usage error offers for an action that is no lint verb.
LINT_SPELLINGS = frozenset({"suppress", "de-escalate", "escalate", "note", "set", "settings"})


def lint_verb(action: str) -> str | None:
    """The lint verb that *action* names (``"deescalate"`` for ``De-Escalate``), or ``None``."""
    if not action.isascii():
        return None
    verb = action.lower().replace("-", "")
    return verb if verb in EFFECTS or verb in SETTINGS else None
