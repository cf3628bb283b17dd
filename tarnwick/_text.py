"""How the command and the SARIF code show a user's text: the module's quoted
form for anything that would not print as itself, and counted nouns."""

from __future__ import annotations

import os

from tarnwick._tarnwick import _quoted as quoted

__all__ = ["one_line", "plural", "quoted", "shown", "utf8_argument"]


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


def utf8_argument(arg: str) -> str:
    """A command-line argument as the UTF-8 text it was meant as. Python decodes
    the command line with the locale's encoding; bytes it could not decode come
    back as the UTF-8 they were meant as. Raises ``ValueError`` (``not valid
    UTF-8: "caf\\xe9"``, control characters in the quoted form) when the
    argument is not UTF-8 at all."""
    if arg.isascii():
        return arg
    try:
        arg.encode("utf-8")
        return arg
    except UnicodeEncodeError:
        pass
    raw = os.fsencode(arg)
    try:
        return raw.decode("utf-8")
    except UnicodeDecodeError:
        shown_bytes = raw.decode("utf-8", "backslashreplace").replace('"', '\\"')
        raise ValueError(one_line(f'not valid UTF-8: "{shown_bytes}"')) from None
