"""Where a SARIF result points: the names, kind and scopes a directive is tested against.

A result's names are its rule id and the rule's name, its qualifier is the
tool's driver name, its scopes are the paths of its locations, and its
severity comes from its SARIF level.
"""

from __future__ import annotations

import re
from typing import Any
from urllib.parse import unquote, urljoin, urlsplit

from tarnwick._tarnwick import _scope_path
from tarnwick.sarif.log import Obj, SarifError

# SARIF level -> lint severity, and back.
SEVERITY_OF_LEVEL = {"error": "error", "warning": "warning", "note": "info"}
LEVEL_OF_SEVERITY = {"error": "error", "warning": "warning", "info": "note"}
LEVELS = ("error", "warning", "note", "none")
RANK = {"error": 0, "warning": 1, "info": 2}

_LONE_SURROGATE = re.compile("[\ud800-\udfff]")


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


def matchable(value: str) -> str:
    """*value* as the fold sees it: a lone surrogate (a valid JSON escape that
    no UTF-8 directive can name) stands as U+FFFD."""
    return value if value.isascii() else _LONE_SURROGATE.sub("\ufffd", value)


# Errors about one result carry the path below the result (".level", or ""
# for the result itself); `fold_log` puts "runs[i].results[j]" in front.


class Rules:
    """The rule metadata of one run: the driver's and the extensions' `rules`."""

    def __init__(self, tool: Obj):
        extensions = tool.get("extensions")
        components = [
            tool["driver"],
            *(extensions if isinstance(extensions, list) else []),
        ]
        self.components: list[Obj] = [c if isinstance(c, dict) else {} for c in components]
        self.tables: list[list[Any]] = [
            c["rules"] if isinstance(c.get("rules"), list) else [] for c in self.components
        ]
        self.by_id: dict[str, Obj] = {}
        for table in self.tables:
            for rule in table:
                if isinstance(rule, dict) and isinstance(rule.get("id"), str):
                    self.by_id.setdefault(rule["id"], rule)

    def find(self, result: Obj, rid: str | None) -> Obj | None:
        """The result's rule: by `ruleIndex` (or `rule.index`), else by id (when it has one).

        `rule.toolComponent` selects the driver or an extension; without it the
        index is into the driver's rules and the id is looked up everywhere.
        """
        ref = result.get("rule")
        ref = ref if isinstance(ref, dict) else {}
        component = ref.get("toolComponent")
        if isinstance(component, dict):
            table = self._table_of(component)
            if table is None:
                return None if rid is None else self.by_id.get(rid)
        else:
            table = self.tables[0]
        index = result.get("ruleIndex", ref.get("index"))
        if type(index) is int and 0 <= index < len(table) and isinstance(table[index], dict):
            return table[index]  # type: ignore[no-any-return]
        if rid is None:
            return None
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


def given_rule_id(result: Obj) -> str | None:
    """The result's `ruleId`, or `rule.id` when `ruleId` is absent, or None."""
    if "ruleId" in result:
        return _str(result["ruleId"], ".ruleId")
    rule = result.get("rule")
    if isinstance(rule, dict) and isinstance(rule.get("id"), str):
        return str(rule["id"])
    return None


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
            raise SarifError(f".level: {level!r} is not one of " + ", ".join(f'"{v}"' for v in LEVELS))
        return str(level)
    if result.get("kind", "fail") != "fail":
        return "none"
    config = rule.get("defaultConfiguration") if rule else None
    default = config.get("level") if isinstance(config, dict) else None
    return str(default) if default in LEVELS else "warning"


def uri_to_scope(uri: str, roots: list[str]) -> str:
    """The scope of a URI reference, percent-decoded.

    A `file:` URI or an absolute path under one of `roots` becomes a path
    relative to it; a relative reference loses a leading `./`; anything else
    (another scheme or host, a file outside the roots) is the decoded URI.
    """
    try:
        parts = urlsplit(uri)
    except ValueError:  # e.g. an unclosed "[" where a host belongs
        return unquote(uri)
    if parts.scheme == "file" and parts.netloc in ("", "localhost") or not (parts.scheme or parts.netloc):
        # The rule every policy reads paths by, over UTF-8 texts (a lone surrogate reads as U+FFFD).
        scope = _scope_path(matchable(unquote(parts.path)), [matchable(root) for root in roots])
        if not scope.startswith("/"):
            return scope
    return unquote(uri)


def resolve_uri(location: Obj, bases: Obj, depth: int = 0) -> str | None:
    """An artifact location's `uri`, resolved through `originalUriBaseIds`.

    A base that is not defined (or has no `uri`), or that cannot be joined
    with the reference, leaves the reference as written.
    """
    uri = location.get("uri")
    if not isinstance(uri, str):
        return None
    base_id = location.get("uriBaseId")
    try:
        if not isinstance(base_id, str) or urlsplit(uri).scheme or depth > 8:
            return uri
        base = bases.get(base_id)
        base_uri = resolve_uri(base, bases, depth + 1) if isinstance(base, dict) else None
        if base_uri is None:
            return uri
        return urljoin(base_uri if base_uri.endswith("/") else base_uri + "/", uri)
    except ValueError:
        return uri


class Scopes:
    """Maps the locations of a run's results to scopes, caching per artifact location."""

    def __init__(self, run: Obj, roots: list[str]):
        bases = run.get("originalUriBaseIds")
        self.bases: Obj = bases if isinstance(bases, dict) else {}
        artifacts = run.get("artifacts")
        self.artifacts: list[Any] = artifacts if isinstance(artifacts, list) else []
        self.roots = roots
        self.cache: dict[str | tuple[Any, Any, Any], tuple[str, ...]] = {}

    def of(self, result: Obj) -> tuple[str, ...]:
        """The scopes of every `physicalLocation` of the result's `locations`."""
        locations = result.get("locations")
        if not locations or not isinstance(locations, list):
            return ()
        if len(locations) == 1:
            return self._of_location(locations[0])
        scopes: list[str] = []
        for loc in locations:
            scopes += [scope for scope in self._of_location(loc) if scope not in scopes]
        return tuple(scopes)

    def _of_location(self, loc: Any) -> tuple[str, ...]:
        """The scope of one location, as a tuple of one or none."""
        physical = loc.get("physicalLocation") if isinstance(loc, dict) else None
        artifact = physical.get("artifactLocation") if isinstance(physical, dict) else None
        if not isinstance(artifact, dict):
            return ()
        uri = artifact.get("uri")
        # most locations give only a URI: the URI is then the key
        key = (
            uri
            if len(artifact) == 1 and type(uri) is str
            else (uri, artifact.get("uriBaseId"), artifact.get("index"))
        )
        try:
            return self.cache[key]
        except KeyError:
            found = self.cache[key] = self._scope(artifact)
        except TypeError:  # unhashable junk where a string belongs
            found = self._scope(artifact)
        return found

    def _scope(self, artifact: Obj) -> tuple[str, ...]:
        index = artifact.get("index")
        if "uri" not in artifact and type(index) is int and 0 <= index < len(self.artifacts):
            entry = self.artifacts[index]
            location = entry.get("location") if isinstance(entry, dict) else None
            artifact = location if isinstance(location, dict) else {}
        uri = resolve_uri(artifact, self.bases)
        return () if uri is None else (matchable(uri_to_scope(uri, self.roots)),)


class Targets:
    """The fold target of each result of one run."""

    def __init__(self, run: Obj, roots: list[str]):
        self.qualifier: str = matchable(run["tool"]["driver"]["name"])
        self.rules = Rules(run["tool"])
        self.scopes = Scopes(run, roots)
        self.named: dict[tuple[str | None, int | None], tuple[Obj | None, tuple[str, ...]]] = {}

    def of(self, result: Obj) -> tuple[str, tuple[str, ...]]:
        """The result's SARIF level and names (its scopes are `self.scopes.of(result)`)."""
        _dict(result, "")
        rid = given_rule_id(result)
        index = result.get("ruleIndex")
        if "rule" in result or not (index is None or type(index) is int):
            rule, names = self._lookup(result, rid)  # a `rule` reference may name another component
        else:
            found = self.named.get((rid, index))
            if found is None:
                found = self.named[rid, index] = self._lookup(result, rid)
            rule, names = found
        return result_level(result, rule), names

    def _lookup(self, result: Obj, rid: str | None) -> tuple[Obj | None, tuple[str, ...]]:
        rule = self.rules.find(result, rid)
        if rid is None:
            rid = rule.get("id") if rule is not None else None
            if not isinstance(rid, str):
                raise SarifError(
                    ': names no rule: no "ruleId", no "rule.id", and no rule metadata with an "id"'
                )
        return rule, tuple(matchable(name) for name in rule_names(rid, rule))
