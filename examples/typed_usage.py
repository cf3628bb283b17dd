"""Every function and class of tarnwick, typed; passes `mypy --strict`.

Run it from this directory: python3 typed_usage.py
"""

from __future__ import annotations

import argparse
from collections.abc import Sequence

import tarnwick
from tarnwick import Directive, DirectiveError, Ladder, Policy


def load(argv: Sequence[str]) -> list[Directive]:
    parser = argparse.ArgumentParser(prog="typed-usage")
    action: argparse.Action = tarnwick.add_directive_option(
        parser, actions=frozenset({"suppress", "de-escalate", "escalate", "note", "set"})
    )
    assert action.dest == "directives"
    directives: list[Directive] = parser.parse_args(argv).directives
    return directives


def describe(d: Directive) -> str:
    kind: str | None = d.kind
    path: str | None = d.path
    note: str | None = d.note
    return f"{d.action} {kind or '*'} {d.name} {path} {note}"


def main() -> None:
    directives = load(["-D", "@lint-policy.txt"]) + tarnwick.expand("note:*=reviewed")
    one: Directive = tarnwick.parse("suppress:<python>unused-*@tests/*", actions={"suppress"})
    print(describe(one), one.matches(["unused-import"], qualifier="python", scopes=("tests/a.py",)))

    severity, dropped, notes = tarnwick.lint_fold(
        "warning", directives, ["unused-import"], qualifier=None, scopes=["tests/test_io.py"]
    )
    settings: list[tuple[str, str]] = tarnwick.lint_settings(directives)
    print(severity.upper(), dropped, len(notes), dict(settings))

    stages = Ladder(("draft", "review", "final"))
    rung: int | None = stages.position("review")
    level: str = stages.step("draft", True)
    folded: tuple[str, bool, list[str]] = stages.fold(
        "draft",
        [tarnwick.parse("promote:doc-*")],
        ["doc-1"],
        steps={"promote": 2},
        drop=frozenset(),
        notes=False,
    )
    print(stages.levels, rung, level, folded, tarnwick.glob_match("doc-*", "doc-1"))

    sourced: list[tuple[Directive, tuple[str, int] | None]] = tarnwick.expand_sourced("@lint-policy.txt")
    policy = Policy(sourced, root="/project")
    policy = Policy.from_values(["@lint-policy.txt", "note:*=reviewed"], actions=None, root="/project")
    ladder_policy = Policy(sourced, ladder=stages, steps={"promote": 1}, drop={"suppress"})
    verb: str | None = tarnwick.lint_verb("De-Escalate")
    found: tuple[str, bool, list[str]] = policy.fold("error", ["bare-except"], scopes=["/project/src/a.py"])
    unused: list[tuple[Directive, tuple[str, int] | None]] = policy.unused()
    print(verb, found, policy.settings(qualifier="python", scopes=["src/a.py"]), len(unused),
          ladder_policy.fold("draft", ["x"]), len(policy.directives))

    try:
        tarnwick.parse("allow")
    except DirectiveError as exc:
        message: str = str(exc)
        print(message)


if __name__ == "__main__":
    main()
