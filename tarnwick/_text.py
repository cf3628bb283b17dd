"""How the command and the SARIF code show a user's text: the module's quoted
form for anything that would not print as itself, and counted nouns."""

from __future__ import annotations

from tarnwick._tarnwick import _quoted as quoted

__all__ = ["one_line", "plural", "quoted", "shown"]


def shown(value: str) -> str:
    """*value* for text output: as it is when every character prints as itself,
    else quoted, so that a rules file cannot move the cursor, rewrite a line of a
    terminal or CI log, or reorder text (a shown text never starts with ``"``)."""
    return value if value.isprintable() and not value.startswith('"') else quoted(value)


def plural(n: int, word: str) -> str:
    """``"1 finding"``, ``"2 findings"``, ``"1,000 findings"``."""
    return f"{n:,} {word}{'' if n == 1 else 's'}"


def one_line(message: str) -> str:
    """*message* with every character that does not print as itself (a line
    break, a control character) written as the quoted form writes it."""
    if message.isprintable():
        return message
    return "".join(
        c if c.isprintable() else f"\\u{{{ord(c):x}}}" if "\ud800" <= c <= "\udfff" else quoted(c)[1:-1]
        for c in message
    )
