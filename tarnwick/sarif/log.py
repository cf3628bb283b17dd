"""Reading and writing SARIF logs so that what tarnwick does not change stays exactly as it was.

Numbers come back with their value: a float whose text Python's ``float``
cannot carry exactly (``1e400``, ``0.1000000000000000000001``) and an integer
too long for ``int`` are kept as their text and written back as that text.
"""

from __future__ import annotations

import json
import math
import re
import secrets
from decimal import Decimal
from typing import Any

Obj = dict[str, Any]  # a JSON object of the log

# The writer and its settings; the benchmark's floor uses the same ones.
DUMP_SETTINGS: Obj = {"ensure_ascii": False, "separators": (",", ":")}
LONGEST_INT = 640  # digits; longer integers stay text (int() refuses very long ones)


class SarifError(ValueError):
    """The input is not JSON or not a SARIF 2.1.0 log; the message says where."""


class NumberText:
    """A JSON number kept as the text the log wrote it in."""

    __slots__ = ("text",)

    def __init__(self, text: str):
        self.text = text

    def __eq__(self, other: object) -> bool:
        return isinstance(other, NumberText) and other.text == self.text

    def __hash__(self) -> int:
        return hash(self.text)

    def __repr__(self) -> str:
        return f"NumberText({self.text!r})"


def _float(text: str) -> float | NumberText:
    value = float(text)
    if math.isfinite(value) and (repr(value) == text or _same_value(repr(value), text)):
        return value
    return NumberText(text)


def _same_value(shortest: str, text: str) -> bool:
    try:
        return Decimal(shortest) == Decimal(text)
    except ArithmeticError:  # an exponent past what Decimal holds: keep the text
        return False


def _int(text: str) -> int | NumberText:
    return int(text) if len(text) <= LONGEST_INT else NumberText(text)


def _no_constant(name: str) -> Any:
    raise ValueError(f"{name} is not a JSON value")


def loads(data: bytes) -> Any:
    """Parse JSON, keeping numbers exactly (see the module's docstring)."""
    try:
        return json.loads(data, parse_float=_float, parse_int=_int, parse_constant=_no_constant)
    except RecursionError:
        raise SarifError("not JSON that tarnwick can read: nested too deeply") from None
    except (ValueError, UnicodeDecodeError) as exc:
        raise SarifError(f"not JSON: {exc}") from None


def dumps(log: Any) -> bytes:
    """*log* as compact JSON in UTF-8 with a final newline.

    A lone surrogate (a valid JSON escape) keeps its escape. Numbers kept as
    text pass the fast writer as placeholder strings carrying a random key and
    are put back in place afterwards; should the log itself hold such a
    string, the count of placeholders found is off and a new key is drawn."""
    try:
        while (out := _dumps_with_key(log, secrets.token_hex(16))) is None:
            pass
    except RecursionError:
        raise SarifError("nested too deeply to be written") from None
    return out.encode() + b"\n"


def _dumps_with_key(log: Any, key: str) -> str | None:
    kept: list[str] = []

    def placeholder(value: Any) -> str:
        if not isinstance(value, NumberText):
            raise TypeError(f"{type(value).__name__} is not a JSON value")
        kept.append(value.text)
        return f"{key}{len(kept) - 1}"

    out = json.dumps(log, **DUMP_SETTINGS, allow_nan=False, default=placeholder)
    try:
        out.encode()
    except UnicodeEncodeError:
        kept.clear()
        out = json.dumps(
            log,
            **{**DUMP_SETTINGS, "ensure_ascii": True},
            allow_nan=False,
            default=placeholder,
        )
    if not kept:
        return out
    spots = re.compile(f'"{key}([0-9]+)"')
    if len(spots.findall(out)) != len(kept):
        return None
    return spots.sub(lambda m: kept[int(m[1])], out)


def _expect(value: Any, kind: type, where: str) -> Any:
    if type(value) is not kind:
        raise SarifError(
            f"{where}: expected {'an object' if kind is dict else 'an array' if kind is list else 'a string'}"
        )
    return value


def load_log(data: bytes) -> Obj:
    """Parse a SARIF 2.1.0 log, checking the frame that the fold relies on."""
    log = loads(data)
    if not isinstance(log, dict):
        raise SarifError("not a SARIF log: the top level is not a JSON object")
    if log.get("version") != "2.1.0":
        found = json.dumps(log["version"], default=repr) if "version" in log else "missing"
        raise SarifError(f'not SARIF 2.1.0: "version" is {found}, expected "2.1.0"')
    for i, run in enumerate(_expect(log.get("runs"), list, "runs")):
        _expect(run, dict, f"runs[{i}]")
        tool = _expect(run.get("tool"), dict, f"runs[{i}].tool")
        driver = _expect(tool.get("driver"), dict, f"runs[{i}].tool.driver")
        _expect(driver.get("name"), str, f"runs[{i}].tool.driver.name")
        if run.get("results") is not None:
            _expect(run["results"], list, f"runs[{i}].results")
    return log
