"""`tarnwick sarif`: one directive policy over the SARIF 2.1.0 logs of any analyser.

Every result of the log is folded with `lint_fold`: its names are the rule id
and the rule's name, its qualifier is the tool's driver name, its scopes are
the paths of its locations, and its severity comes from its SARIF level. The
log is written back whole, with new levels, suppressions for dropped results
and the directive notes under ``properties.tarnwick``.
"""

from __future__ import annotations

import argparse
import json
import os
import posixpath
import sys
from typing import Any, NoReturn
from urllib.parse import unquote, urljoin, urlsplit

from tarnwick._tarnwick import Directive, glob_match, lint_fold

Obj = dict[str, Any]  # a JSON object of the log
Folded = tuple[str, bool, list[str]]  # what lint_fold returns

# SARIF level -> lint severity, and back.
SEVERITY_OF_LEVEL = {"error": "error", "warning": "warning", "note": "info"}
LEVEL_OF_SEVERITY = {"error": "error", "warning": "warning", "info": "note"}
LEVELS = ("error", "warning", "note", "none")
RANK = {"error": 0, "warning": 1, "info": 2}

DEFAULT_JUSTIFICATION = "suppressed by a tarnwick directive"

# The writer and its settings; the benchmark's floor uses the same ones.
DUMP_SETTINGS: Obj = {"ensure_ascii": False, "separators": (",", ":")}


class SarifError(ValueError):
    """The input is not JSON or not a SARIF 2.1.0 log; the message says where."""


def _dict(value: Any, where: str) -> Obj:
    if type(value) is not dict:
        raise SarifError(f"{where}: expected an object")
    return value


def _list(value: Any, where: str) -> list[Any]:
    if type(value) is not list:
        raise SarifError(f"{where}: expected an array")
    return value


def _str(value: Any, where: str) -> str:
    if type(value) is not str:
        raise SarifError(f"{where}: expected a string")
    return value


def _no_constant(name: str) -> NoReturn:
    raise ValueError(f"{name} is not a JSON value")


# ---------------------------------------------------------------- reading, writing


def load_log(data: bytes) -> Obj:
    """Parse a SARIF 2.1.0 log, checking the frame that the fold relies on."""
    try:
        log = json.loads(data, parse_constant=_no_constant)
    except (ValueError, UnicodeDecodeError) as exc:
        raise SarifError(f"not JSON: {exc}") from None
    if not isinstance(log, dict):
        raise SarifError("not a SARIF log: the top level is not a JSON object")
    if log.get("version") != "2.1.0":
        found = json.dumps(log["version"]) if "version" in log else "missing"
        raise SarifError(f'not SARIF 2.1.0: "version" is {found}, expected "2.1.0"')
    for i, run in enumerate(_list(log.get("runs"), "runs")):
        _dict(run, f"runs[{i}]")
        tool = _dict(run.get("tool"), f"runs[{i}].tool")
        driver = _dict(tool.get("driver"), f"runs[{i}].tool.driver")
        _str(driver.get("name"), f"runs[{i}].tool.driver.name")
        if run.get("results") is not None:
            _list(run["results"], f"runs[{i}].results")
    return log


def dump_log(log: Obj) -> bytes:
    try:
        return json.dumps(log, **DUMP_SETTINGS).encode() + b"\n"
    except UnicodeEncodeError:  # a lone surrogate (a valid JSON escape): keep it an escape
        return json.dumps(log, **{**DUMP_SETTINGS, "ensure_ascii": True}).encode() + b"\n"


# ---------------------------------------------------------------- mapping
# Errors about one result carry the path below the result (".level", or ""
# for the result itself); `fold_log` puts "runs[i].results[j]" in front.


class Rules:
    """The rule metadata of one run: the driver's and the extensions' `rules`."""

    def __init__(self, tool: Obj):
        extensions = tool.get("extensions")
        components = [tool["driver"], *(extensions if isinstance(extensions, list) else [])]
        self.components: list[Obj] = [c if isinstance(c, dict) else {} for c in components]
        self.tables: list[list[Any]] = [
            c["rules"] if isinstance(c.get("rules"), list) else [] for c in self.components
        ]
        self.by_id: dict[str, Obj] = {}
        for table in self.tables:
            for rule in table:
                if isinstance(rule, dict) and isinstance(rule.get("id"), str):
                    self.by_id.setdefault(rule["id"], rule)

    def find(self, result: Obj, rid: str) -> Obj | None:
        """The result's rule: by `ruleIndex` (or `rule.index`), else by id.

        `rule.toolComponent` selects the driver or an extension; without it the
        index is into the driver's rules and the id is looked up everywhere.
        """
        ref = result.get("rule")
        ref = ref if isinstance(ref, dict) else {}
        component = ref.get("toolComponent")
        if isinstance(component, dict):
            table = self._table_of(component)
            if table is None:
                return self.by_id.get(rid)
        else:
            table = self.tables[0]
        index = result.get("ruleIndex", ref.get("index"))
        if type(index) is int and 0 <= index < len(table) and isinstance(table[index], dict):
            return table[index]  # type: ignore[no-any-return]
        if isinstance(component, dict):
            return next((r for r in table if isinstance(r, dict) and r.get("id") == rid), None)
        return self.by_id.get(rid)

    def _table_of(self, component: Obj) -> list[Any] | None:
        index = component.get("index")
        if type(index) is int and 0 <= index < len(self.tables) - 1:
            return self.tables[index + 1]
        name = component.get("name")
        return next(
            (t for c, t in zip(self.components, self.tables, strict=True) if name and c.get("name") == name),
            None,
        )


def rule_id(result: Obj) -> str:
    """The result's `ruleId`, or `rule.id` when `ruleId` is absent."""
    if "ruleId" in result:
        return _str(result["ruleId"], ".ruleId")
    rule = result.get("rule")
    if isinstance(rule, dict) and isinstance(rule.get("id"), str):
        return str(rule["id"])
    raise SarifError(': has neither "ruleId" nor "rule.id"')


def rule_names(rid: str, rule: Obj | None) -> tuple[str, ...]:
    """The rule id, then the rule's name if the metadata gives one.

    The name is the descriptor's `name`; some tools (ruff) keep it in the
    descriptor's property bag instead, which counts as well.
    """
    name = rule.get("name") if rule else None
    if rule and not isinstance(name, str):
        props = rule.get("properties")
        name = props.get("name") if isinstance(props, dict) else None
    return (rid, name) if isinstance(name, str) and name and name != rid else (rid,)


def result_level(result: Obj, rule: Obj | None) -> str:
    """The SARIF level of a result, with the defaults SARIF gives an absent one."""
    level = result.get("level")
    if level is not None:
        if level not in LEVELS:
            raise SarifError(
                f".level: {json.dumps(level)} is not one of " + ", ".join(f'"{v}"' for v in LEVELS)
            )
        return str(level)
    if result.get("kind", "fail") != "fail":
        return "none"
    config = rule.get("defaultConfiguration") if rule else None
    default = config.get("level") if isinstance(config, dict) else None
    return str(default) if default in LEVELS else "warning"


def uri_to_scope(uri: str, roots: list[str]) -> str:
    """A path relative to one of `roots` for a `file:` URI or an absolute path under it; else `uri`."""
    if uri.startswith("file:"):
        parts = urlsplit(uri)
        if parts.netloc not in ("", "localhost"):
            return uri
        path = unquote(parts.path)
    elif uri.startswith("/"):
        path = unquote(uri)
    else:
        return uri
    path = posixpath.normpath(path)
    for root in roots:
        prefix = root.rstrip("/") + "/"
        if path.startswith(prefix):
            return path[len(prefix) :]
    return uri


def resolve_uri(location: Obj, bases: Obj, depth: int = 0) -> str | None:
    """An artifact location's `uri`, resolved through `originalUriBaseIds`.

    A base that is not defined (or has no `uri`) leaves the reference as written.
    """
    uri = location.get("uri")
    if not isinstance(uri, str):
        return None
    base_id = location.get("uriBaseId")
    if not isinstance(base_id, str) or urlsplit(uri).scheme or depth > 8:
        return uri
    base = bases.get(base_id)
    base_uri = resolve_uri(base, bases, depth + 1) if isinstance(base, dict) else None
    if base_uri is None:
        return uri
    return urljoin(base_uri if base_uri.endswith("/") else base_uri + "/", uri)


class Scopes:
    """Maps the locations of a run's results to scopes, caching per artifact location."""

    def __init__(self, run: Obj, roots: list[str]):
        bases = run.get("originalUriBaseIds")
        self.bases: Obj = bases if isinstance(bases, dict) else {}
        artifacts = run.get("artifacts")
        self.artifacts: list[Any] = artifacts if isinstance(artifacts, list) else []
        self.roots = roots
        self.cache: dict[tuple[Any, Any, Any], str | None] = {}

    def of(self, result: Obj) -> tuple[str, ...]:
        """The scopes of every `physicalLocation` of the result's `locations`."""
        locations = result.get("locations")
        if not locations or not isinstance(locations, list):
            return ()
        scopes: list[str] = []
        for loc in locations:
            physical = loc.get("physicalLocation") if isinstance(loc, dict) else None
            artifact = physical.get("artifactLocation") if isinstance(physical, dict) else None
            if not isinstance(artifact, dict):
                continue
            key = (artifact.get("uri"), artifact.get("uriBaseId"), artifact.get("index"))
            try:
                scope = self.cache[key]
            except KeyError:
                scope = self.cache[key] = self._scope(artifact)
            except TypeError:  # unhashable junk where a string belongs
                scope = self._scope(artifact)
            if scope is not None and scope not in scopes:
                scopes.append(scope)
        return tuple(scopes)

    def _scope(self, artifact: Obj) -> str | None:
        index = artifact.get("index")
        if "uri" not in artifact and type(index) is int and 0 <= index < len(self.artifacts):
            entry = self.artifacts[index]
            artifact = entry.get("location", {}) if isinstance(entry, dict) else {}
        uri = resolve_uri(artifact, self.bases)
        return None if uri is None else uri_to_scope(uri, self.roots)


class Targets:
    """The fold target of each result of one run."""

    def __init__(self, run: Obj, roots: list[str]):
        self.qualifier: str = run["tool"]["driver"]["name"]
        self.rules = Rules(run["tool"])
        self.scopes = Scopes(run, roots)
        self.named: dict[tuple[str, int | None], tuple[Obj | None, tuple[str, ...]]] = {}

    def of(self, result: Obj) -> tuple[str, tuple[str, ...]]:
        """The result's SARIF level and names (its scopes are `self.scopes.of(result)`)."""
        _dict(result, "")
        rid = rule_id(result)
        index = result.get("ruleIndex")
        if "rule" in result or not (index is None or type(index) is int):
            rule, names = self._lookup(result, rid)  # a `rule` reference may name another component
        else:
            found = self.named.get((rid, index))
            if found is None:
                found = self.named[rid, index] = self._lookup(result, rid)
            rule, names = found
        return result_level(result, rule), names

    def _lookup(self, result: Obj, rid: str) -> tuple[Obj | None, tuple[str, ...]]:
        rule = self.rules.find(result, rid)
        return rule, rule_names(rid, rule)


def suppressed(result: Obj) -> bool:
    """True when the result carries a suppression in force (not under review, not rejected)."""
    entries = result.get("suppressions")
    return isinstance(entries, list) and any(
        isinstance(s, dict) and s.get("status", s.get("state", "accepted")) == "accepted" for s in entries
    )


def mark(result: Obj, level: str, folded: Folded) -> None:
    """Write a fold into the result: new level, notes and original level, suppression."""
    new, dropped, notes = folded
    props = _dict(result.setdefault("properties", {}), ".properties")
    props["tarnwick"] = {"originalLevel": level, "notes": list(notes)}
    result["level"] = LEVEL_OF_SEVERITY[new]
    if dropped:
        entry = {"kind": "external", "justification": "; ".join(notes) or DEFAULT_JUSTIFICATION}
        _list(result.setdefault("suppressions", []), ".suppressions").append(entry)


# ---------------------------------------------------------------- the fold


def name_candidates(directives: list[Directive], names: tuple[str, ...], qualifier: str) -> list[Directive]:
    """The directives whose KIND and NAME admit a target, in order.

    Only these can match a result with these names in this run; their PATH is
    left to `lint_fold`, which sees the result's scopes. Dropping the others
    changes nothing, since a directive that does not match contributes nothing.
    """
    return [
        d
        for d in directives
        if (d.kind is None or d.kind == qualifier) and any(glob_match(d.name, n) for n in names)
    ]


def fold_log(
    log: Obj, directives: list[Directive], *, roots: list[str], remove_dropped: bool = False
) -> list[str]:
    """Fold every result of `log` in place; return the severities that still count for a gate.

    Results at level "none" pass untouched; results that no directive changes
    keep their JSON as it was.
    """
    remaining: list[str] = []
    for i, run in enumerate(log["runs"]):
        results = run.get("results")
        if not results:
            continue
        targets = Targets(run, roots)
        candidates: dict[tuple[str, ...], list[Directive]] = {}
        kept: list[Any] = []
        for j, result in enumerate(results):
            try:
                level, names = targets.of(result)
                if level == "none":
                    kept.append(result)
                    continue
                severity = SEVERITY_OF_LEVEL[level]
                some = candidates.get(names)
                if some is None:
                    some = candidates[names] = name_candidates(directives, names, targets.qualifier)
                folded: Folded = (severity, False, [])
                if some:
                    scopes = targets.scopes.of(result)
                    folded = lint_fold(severity, some, names, qualifier=targets.qualifier, scopes=scopes)
                new, dropped, notes = folded
                if new != severity or dropped or notes:
                    mark(result, level, folded)
            except SarifError as exc:
                raise SarifError(f"runs[{i}].results[{j}]{exc}") from None
            if dropped and remove_dropped:
                continue
            kept.append(result)
            if not dropped and not ("suppressions" in result and suppressed(result)):
                remaining.append(new)
        if remove_dropped:
            run["results"] = kept
    return remaining


def gate(remaining: list[str], fail_on: str | None) -> int:
    """Exit status 1 when a remaining severity is at or above `fail_on`, else 0."""
    if fail_on is None:
        return 0
    limit = RANK[SEVERITY_OF_LEVEL.get(fail_on, fail_on)]
    return int(any(RANK[s] <= limit for s in remaining))


# ---------------------------------------------------------------- the command


# tarnwick.cli imports this module to register the command, so the helpers
# it shares are imported when they are used.


def add_parser(subparsers: Any) -> None:
    """Register `tarnwick sarif` (a registrar of `tarnwick.cli._COMMANDS`)."""
    from tarnwick.cli import add_values_option, set_command

    p = subparsers.add_parser(
        "sarif",
        help="apply directives to a SARIF 2.1.0 log",
        description="Fold every result of a SARIF 2.1.0 log with lint directives and write the log "
        "to stdout. Names: rule id and rule name; kind: the tool's driver name; scopes: the "
        "result's file paths, relative to --root. Exit status: 0, or 1 when results at or above "
        "--fail-on remain; 2 for a bad -D value or a bad log.",
    )
    p.add_argument("log", nargs="?", default="-", help="the SARIF log to read (default: - for stdin)")
    add_values_option(p, "an inline directive or @FILE (@- for stdin when the log is a file); repeatable")
    p.add_argument(
        "--fail-on",
        choices=("error", "warning", "note", "info"),
        help="exit 1 when a result at or above this level remains (info and note are the same)",
    )
    p.add_argument(
        "--root", default=".", help="file paths under this directory become relative to it (default: .)"
    )
    p.add_argument(
        "--remove-dropped",
        action="store_true",
        help="leave dropped results out of the output instead of marking them suppressed",
    )
    set_command(p, run)


def run(args: argparse.Namespace) -> int:
    from tarnwick.cli import expand_values, usage_error

    from_stdin = args.log == "-"
    if from_stdin and "@-" in args.values:
        usage_error(args, "-D @-: standard input already carries the SARIF log; put the directives in a file")
    directives = [d for _, ds in expand_values(args, args.values) for d in ds]
    name = "<stdin>" if from_stdin else args.log
    try:
        if from_stdin:
            data = sys.stdin.buffer.read()
        else:
            with open(args.log, "rb") as f:
                data = f.read()
        log = load_log(data)
        root = os.path.abspath(args.root)
        roots = list(dict.fromkeys([root, os.path.realpath(root)]))
        remaining = fold_log(log, directives, roots=roots, remove_dropped=args.remove_dropped)
    except OSError as exc:
        return _fail(f"{name}: {exc.strerror or exc}")
    except SarifError as exc:
        return _fail(f"{name}: {exc}")
    sys.stdout.buffer.write(dump_log(log))
    sys.stdout.buffer.flush()
    return gate(remaining, args.fail_on)


def _fail(message: str) -> int:
    print(f"tarnwick sarif: error: {message}", file=sys.stderr)
    return 2
