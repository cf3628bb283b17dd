"""`tarnwick sarif`: the SARIF mapping, the command as a user runs it, and real ruff/bandit logs."""

import copy
import importlib.util
import io
import json
import re
import shutil
import subprocess
import sys
from collections import Counter
from pathlib import Path
from unittest import mock

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import helpers
from helpers import RUFF
from tarnwick import Policy, lint_fold, parse, sarif
from tarnwick import _tarnwick as tw
from tarnwick.sarif.baseline import BaselineCheck, Matcher, entries_of, identified, read_baseline, write_baseline
from tarnwick.sarif.identity import Identities
from tarnwick.sarif import stream
from tarnwick.sarif.stream import fold_stream

DATA = Path(__file__).parent / "data"
SARIF = DATA / "sarif"
ROOT = "/work/repo"  # the root that several-runs.sarif is written for
SCHEMA = json.loads((DATA / "sarif-schema-2.1.0.json").read_text(encoding="utf-8"))


def tarnwick(*args, stdin=b"", cwd=None):
    return helpers.tarnwick("sarif", *args, stdin=stdin, cwd=cwd)


def assert_valid(log):
    if importlib.util.find_spec("jsonschema"):
        __import__("jsonschema").Draft7Validator(SCHEMA).validate(log)


def make_log(*runs):  # runs given as (driver name, results)
    rules = [{"id": "R1", "name": "rule-one"}, {"id": "R2", "properties": {"name": "rule-two"}}]
    runs = [{"tool": {"driver": {"name": n, "rules": rules}}, "results": res} for n, res in runs]
    return {"version": "2.1.0", "runs": runs}


def result(rule_id="R1", level="warning", uri="src/a.py", **more):
    r = {"ruleId": rule_id, "message": {"text": "m"}, **more}
    if level is not None:
        r["level"] = level
    if uri is not None:
        r["locations"] = [{"physicalLocation": {"artifactLocation": {"uri": uri}}}]
    return r




@pytest.mark.parametrize("path", ["a.py", "a.p[y]"])
def test_names_alike_after_surrogates_apply_a_directive_once(path):
    # Rule id and rule name both read "x\ufffd" once their lone surrogates are replaced: one directive, one step.
    log = {"version": "2.1.0", "runs": [{"tool": {"driver": {"name": "t", "rules": [{"id": "x\ud800", "name": "x\udc00"}]}},
                                         "results": [result("x\ud800", "error", "a.py", ruleIndex=0)]}]}
    sarif.fold_log(log, Policy([parse(f"de-escalate:x\ufffd@{path}=why")]), roots=["/root"])
    assert log["runs"][0]["results"][0]["level"] == "warning"


@pytest.mark.parametrize(("uri", "scope"), [
    ("file:///work/repo/src/a.py", "src/a.py"), ("file://localhost/work/repo/src/../a%20b.py", "a b.py"),
    ("/work/real/src/a.py", "src/a.py"),  # under the second root (the real path)
    ("file:///work/repository/a.py", "file:///work/repository/a.py"),  # a sibling, not under the root
    ("file://server/work/repo/a%20b.py", "file://server/work/repo/a b.py"), ("src/a%20b.py", "src/a b.py"),
    ("././src/a.py", "src/a.py"), ("file://[oops/a%20b.py", "file://[oops/a b.py"),  # not a URI one can take apart
])
def test_uri_to_scope(uri, scope):
    assert sarif.uri_to_scope(uri, ["/work/repo", "/work/real"]) == scope



DIRECTIVES = st.builds(
    lambda *parts: parse("".join(parts)),
    st.sampled_from(["suppress:", "de-escalate:", "escalate:", "note:", "set:", "allow:"]),
    st.sampled_from(["", "<t>", "<u>", "<*>"]),
    st.sampled_from(["R1", "R?", "rule-{one,two}", "rule-{one}", "*", "[RS]2", r"R\*", r"\R1", "X"]),
    st.sampled_from(["", "@src/*", "@src/a.py", "@{lib/c.py}", "@lib/*", "@"]),
    st.sampled_from(["", "=n1", "=n2", "="]),
)
RESULTS = st.builds(
    lambda props, **kw: result(**kw, **({"properties": props} if props else {})),
    st.dictionaries(st.sampled_from(["k", "x"]), st.integers() | st.text(max_size=3)),
    rule_id=st.sampled_from(["R1", "R2", "S2", "R*"]),
    level=st.sampled_from([None, "error", "warning", "note", "none"]),
    uri=st.sampled_from([None, "src/a.py", "file:///root/src/b.py", "/root/lib/c.py", "lib/c.py"]),
)
LOGS = st.lists(st.tuples(st.sampled_from(["t", "u"]), st.lists(RESULTS, max_size=6)), max_size=3).map(
    lambda runs: make_log(*runs)
)


def folded(log, directives, **kw):
    out = copy.deepcopy(log)
    fold = sarif.fold_log(out, Policy(directives), roots=["/root"], **kw)
    unused = {id(d) for d, _ in fold.policy.unused()}
    return out, fold.severities, {k for k, d in enumerate(directives) if id(d) not in unused}


def strip(log, like):
    """`log` with what the fold wrote into each result put back as in `like`."""
    log = copy.deepcopy(log)
    for run, run_like in zip(log["runs"], like["runs"], strict=True):
        for r, r_like in zip(run["results"], run_like["results"], strict=True):
            if r.get("properties", {}).pop("tarnwick", None) is not None:
                for key in ("level", "suppressions", "properties"):
                    r.pop(key, None)
                    r.update({key: r_like[key]} if key in r_like else {})
    return log


@settings(max_examples=150, deadline=None)
@given(LOGS, st.lists(DIRECTIVES, max_size=8))
def test_each_result_is_folded_by_lint_fold_with_every_directive(log, directives):
    # Whatever directives are looked up rather than tested, each result gets the fold of all of them.
    out, remaining, used = folded(log, directives)
    expected, kept, matched = [], [], set()
    for run_in, run_out in zip(log["runs"], out["runs"], strict=True):
        targets, qualifier = sarif.Targets(run_in, ["/root"]), run_in["tool"]["driver"]["name"]
        kept.append([])
        for r_in, r_out in zip(run_in["results"], run_out["results"], strict=True):
            level, names = targets.of(r_in)
            severity = sarif.SEVERITY_OF_LEVEL.get(level)
            scopes = targets.scopes.of(r_in)
            fold = lint_fold(severity, directives, names, qualifier=qualifier, scopes=scopes) if severity else (None, False, [])
            if severity:
                matched |= {k for k, d in enumerate(directives) if (tw._lint_effect(d.action) or ("set",))[0] != "set"
                            and d.matches(names, qualifier=qualifier, scopes=scopes)}
            new, dropped, notes = fold
            kept[-1] += [] if dropped else [r_out]
            expected += [] if dropped or not severity else [new]
            if fold in ((severity, False, []), (None, False, [])):
                assert r_out == r_in  # untouched
                continue
            assert r_out["level"] == sarif.LEVEL_OF_SEVERITY[new]
            assert r_out["properties"]["tarnwick"] == {"originalLevel": level, "notes": notes}
            entry = {"kind": "external", "justification": "; ".join(notes) or sarif.DEFAULT_JUSTIFICATION,
                     "properties": {"tarnwick": True}}
            assert r_out.get("suppressions") == ([entry] if dropped else None)
    assert remaining == expected and used == matched
    assert strip(out, log) == log
    assert folded(out, directives) == (out, remaining, used)  # folding again changes nothing
    assert_valid(out)
    removed, remaining_after, _ = folded(log, directives, remove_dropped=True)
    assert remaining_after == remaining and [run["results"] for run in removed["runs"]] == kept


def shuffled(draw, obj):
    """`obj` with the members of each of its objects in an order drawn."""
    stack = [obj]
    while stack:
        node = stack.pop()
        if isinstance(node, dict):
            items = draw(st.permutations(list(node.items())))
            node.clear()
            node.update(items)
        stack += node.values() if isinstance(node, dict) else node if isinstance(node, list) else []
    return obj


@st.composite
def streamed_logs(draw):
    """Logs as a producer may write them: members in any order (results before tool), artifacts
    reached by index, references to results, numbers a float cannot carry, any layout."""
    log = draw(LOGS)
    for run in log["runs"]:
        run["artifacts"] = [{"location": {"uri": "lib/c.py"}}, {"location": {"uri": "file:///root/src/b.py"}}]
        for r in run["results"]:
            if draw(st.booleans()):
                r["locations"] = [{"physicalLocation": {"artifactLocation": {"index": draw(st.integers(0, 2))}}}]
            if draw(st.booleans()):
                r["properties"] = {**r.get("properties", {}), "f": sarif.log.NumberText("1.50e1")}
        count = len(run["results"])
        run["graphTraversals"] = [{"resultIndex": draw(st.integers(0, count))} for _ in range(draw(st.integers(0, 3)))]
    text = sarif.dump_log(shuffled(draw, log))
    return json.dumps(json.loads(text), indent=draw(st.sampled_from([None, 1])),
                      ensure_ascii=draw(st.booleans())).replace('"1.50e1"', "1.50e1").encode() if draw(st.booleans()) else text


@settings(max_examples=100, deadline=None)
@given(streamed_logs(), st.lists(DIRECTIVES, max_size=6), st.booleans(), st.one_of(st.none(), LOGS))
def test_streaming_folds_as_loading_the_whole_log(data, directives, remove, baselined):
    # With a baseline (of another log) too: the check runs on each result as it is read.
    log = sarif.load_log(data)
    text = None if baselined is None else baseline_of(baselined)
    whole = sarif.fold_log(log, Policy(directives), roots=["/root"], remove_dropped=remove,
                           baseline=text and baseline_check(text))
    out = []
    streamed = fold_stream(io.BytesIO(data), Policy(directives), roots=["/root"], write=out.append,
                           remove_dropped=remove, baseline=text and baseline_check(text))
    assert sarif.load_log(b"".join(out)) == sarif.load_log(sarif.dump_log(log))
    assert [str(d) for d, _ in streamed.policy.unused()] == [str(d) for d, _ in whole.policy.unused()]
    fields = [(t.read, t.dropped, t.up, t.down, t.annotated, t.remaining.counts) for t in whole.runs]
    assert [(t.read, t.dropped, t.up, t.down, t.annotated, t.remaining.counts) for t in streamed.runs] == fields
    for fail_on in ("error", "warning", "note"):
        assert sarif.gate(streamed.severities, fail_on) == sarif.gate(whole.severities, fail_on)


def members(*choices, odd=()):
    """A result member as written: absent ("") or one of `choices`, or rarely one of `odd` (each as JSON text)."""
    return st.sampled_from(["", *choices] * 8 * len(odd) + list(odd) if odd else ["", *choices])


LOCATION = st.tuples(
    st.lists(members('"uri":"src/a.py"', '"uri":"a.py"', '"uriBaseId":"SRC"', '"index":1', '"index":0',
                     '"uri":"file:///root/lib/c.py"', odd=[r'"uri":"src\/a.py"', '"uri":7']), max_size=3),
    members(odd=["{}", '{"physicalLocation":{}}', '{"physicalLocation":null}', "3"]),
).map(lambda p: p[1] or '{"physicalLocation":{"region":{"startLine":3},"artifactLocation":{%s}}}'
      % ",".join(m for m in p[0] if m))
RESULT_TEXTS = st.tuples(
    st.sampled_from(['"ruleId":"R1"', '"ruleId":"R2"', '"ruleId":"S2"'] * 3 + [r'"ruleId":"R\u0032"']),
    members('"ruleIndex":0', '"ruleIndex":1', odd=['"ruleIndex":1.0', '"ruleIndex":7', '"ruleIndex":-1', '"ruleIndex":null']),
    members('"level":"error"', '"level":"warning"', '"level":"note"', '"level":"none"', odd=['"level":null']),
    members('"kind":"fail"', '"kind":"pass"', '"kind":"review"', odd=[r'"kin\u0064":"pass"']),
    members(odd=['"rule":{"id":"R2"}', '"rule":{"index":1}', '"suppressions":[{"kind":"inSource"}]',
                 '"suppressions":[{"kind":"external","properties":{"tarnwick":true}}]']),
    members('"properties":{"k":1}', '"message":{"text":"m"}', '"x":{"y":[1,{"z":true}]}',
            odd=['"properties":{"tarnwick":{"originalLevel":"error","notes":["n1"]}}', '"properties":[]',
                 '"message":{"text":"a\\nb"}', '"message":{"text":"m","text":"n"}', '"rank": 1.5', '"rank":-0',
                 '"message":{ "text" : "spaced" }']),
    st.lists(LOCATION, max_size=3).map(lambda ls: '"locations":[' + ",".join(ls) + "]"),
).flatmap(lambda ms: st.permutations([m for m in ms if m])).flatmap(
    lambda ms: st.lists(st.sampled_from(ms), max_size=1).map(lambda more: ms + more) if ms else st.just(ms)
).map(lambda ms: "{" + ",".join(ms) + "}")


@st.composite
def quirky_logs(draw):
    """Logs whose results mix the common shape with everything around it, as JSON text."""
    runs = []
    for name in draw(st.lists(st.sampled_from(["t", "u"]), min_size=1, max_size=2)):
        tool = make_log((name, []))["runs"][0]["tool"]
        tool["driver"]["rules"][1]["defaultConfiguration"] = {"level": draw(st.sampled_from(["error", "note"]))}
        run = json.dumps({"tool": tool, "artifacts": [{"location": {"uri": "lib/c.py"}}, {"location": {"uri": "src/b.py"}}],
                          "originalUriBaseIds": {"SRC": {"uri": "file:///root/src/"}}})
        results = ",".join(draw(st.lists(RESULT_TEXTS, min_size=1, max_size=12)))
        runs.append(run[:-1] + ',"results":[' + results + "]}")
    return ('{"version":"2.1.0","runs":[' + ",".join(runs) + "]}").encode()


ORIGINS = st.sampled_from([None, ("/pol/a.txt", 2), ("pol/b c%.txt", 10), ("/pol/a.txt", 7)])


@settings(max_examples=200, deadline=None)
@given(quirky_logs(), st.lists(st.tuples(DIRECTIVES, ORIGINS), min_size=2, max_size=8), st.integers(0, 2))
def test_results_of_the_common_shape_fold_as_any_other(data, sourced, shown):
    # The fast path (results read and folded without building them) against folding the loaded log:
    # equal output as JSON, tallies, summary and used directives; folding the output again keeps its bytes.
    try:
        log = sarif.load_log(data)
        whole = sarif.fold_log(log, Policy(sourced), roots=["/root"])
    except sarif.SarifError as exc:
        with pytest.raises(sarif.SarifError, match=re.escape(str(exc))):
            fold_stream(io.BytesIO(data), Policy(sourced), roots=["/root"], write=[].append)
        return
    out = []
    with mock.patch.object(stream, "SHOWN", shown):
        streamed = fold_stream(io.BytesIO(data), Policy(sourced), roots=["/root"], write=out.append)
        again = []
        fold_stream(io.BytesIO(b"".join(out)), Policy(sourced), roots=["/root"], write=again.append)
    assert sarif.load_log(b"".join(out)) == sarif.load_log(sarif.dump_log(log))
    assert again == out
    assert [str(d) for d, _ in streamed.policy.unused()] == [str(d) for d, _ in whole.policy.unused()]
    fields = [(t.read, t.dropped, t.up, t.down, t.annotated, t.remaining.counts) for t in whole.runs]
    assert [(t.read, t.dropped, t.up, t.down, t.annotated, t.remaining.counts) for t in streamed.runs] == fields
    for s, w in zip(streamed.runs, whole.runs, strict=True):
        firsts = [pair for k, pair in enumerate(w.remaining) if [p[0] for p in w.remaining][:k].count(pair[0]) < shown]
        assert list(s.remaining) == firsts


@pytest.mark.parametrize("member", ['"x":-0', '"x":15', '"x":1.5e1', '"x":"a\\nb"', '"x":"\\u00e9"', '"x":{"t":1,"t":2}',
                                    '"x":{ "t" : [1, 2] }', '"kind":"review"', '"kind":"fail"', '"properties":{"k":1}'])
def test_a_result_with_member_folds_as_loaded_and_again_to_the_same_bytes(member):
    data = ('{"version":"2.1.0","runs":[{"tool":{"driver":{"name":"t"}},"results":[{"ruleId":"R1",%s}]}]}'
            % member).encode()
    log, out, again = sarif.load_log(data), [], []
    sarif.fold_log(log, Policy([parse("escalate:R1")]), roots=[])
    with mock.patch.object(stream, "SHOWN", 0):
        fold_stream(io.BytesIO(data), Policy([parse("escalate:R1")]), roots=[], write=out.append)
        fold_stream(io.BytesIO(b"".join(out)), Policy([parse("escalate:R1")]), roots=[], write=again.append)
    assert sarif.load_log(b"".join(out)) == log and again == out


ONE = b'[{"ruleId":"R1","level":"warning","locations":[{"physicalLocation":{"artifactLocation":{"uri":"a.py"}}}]}]'


def result_folder(policy=None, **callbacks):
    given = {"names": lambda rid, index: ((rid,), "warning"), "scope": lambda uri, base, index: (uri,),
             "tail": lambda *fold: b'"level":"error"', "location": None, **callbacks}
    return tw._ResultFolder(policy or Policy([parse("escalate:R1")]), "t", **given)


def test_result_folder_writes_what_its_callbacks_give():
    assert result_folder().fold(ONE, [(0, 1, len(ONE) - 1, True)], 0, 0) == (
        1, ONE[1:-1].replace(b'"level":"warning",', b"")[:-1] + b',"level":"error"}', (0, 1, 0, 0, 1, 0, 0))


def test_result_folder_keeps_no_references():
    names = lambda rid, index: ((rid,), "warning")  # noqa: E731
    folder, elements = result_folder(names=names), [(0, 1, len(ONE) - 1, True)]
    before = [sys.getrefcount(ONE), sys.getrefcount(elements), sys.getrefcount(names)]
    for _ in range(1000):
        folder.fold(ONE, elements, 0, 0)
    assert [sys.getrefcount(ONE), sys.getrefcount(elements), sys.getrefcount(names)] == before
    del folder
    assert sys.getrefcount(names) == before[2] - 1


def _reenter(holder):
    holder[0].fold(ONE, [(0, 1, len(ONE) - 1, True)], 0, 0)


@pytest.mark.parametrize(("make", "error", "phrase"), [
    (lambda h: result_folder(names=lambda rid, index: [rid]), TypeError, "names callback"),
    (lambda h: result_folder(names=lambda rid, index: ((rid,), "loud")), TypeError, "names callback"),
    (lambda h: result_folder(names=lambda rid, index: ((1,), "note")), TypeError, "names callback"),
    (lambda h: result_folder(scope=lambda *a: ("a", "b")), TypeError, "scope callback"),
    (lambda h: result_folder(scope=lambda *a: ("\ud800",)), UnicodeEncodeError, "surrogate"),
    (lambda h: result_folder(tail=lambda *a: "text"), TypeError, "tail callback"),
    (lambda h: result_folder(names=lambda rid, index: 1 / 0), ZeroDivisionError, "division"),
    (lambda h: result_folder(names=lambda rid, index: _reenter(h)), RuntimeError, "already in use"),
])
def test_result_folder_refuses_what_its_callbacks_get_wrong(make, error, phrase):
    holder = []
    holder.append(make(holder))
    with pytest.raises(error, match=phrase):
        holder[0].fold(ONE, [(0, 1, len(ONE) - 1, True)], 0, 0)
    assert holder[0].fold(ONE, [], 0, 0) == (0, b"", (0,) * 7)  # usable again


@pytest.mark.parametrize(("call", "error", "phrase"), [
    (lambda: result_folder(Policy([parse("note:R1")], root="/r")), ValueError, "without root"),
    (lambda: result_folder(Policy([parse("note:R1")], drop={"note"})), ValueError, "lint verbs"),
    (lambda: result_folder(names=None), TypeError, "callable"),
    (lambda: result_folder().fold(ONE, [(0, 5, 2, True)], 0, 0), ValueError, "out of bounds"),
    (lambda: result_folder().fold(ONE, [(0, 1, 999, True)], 0, 0), ValueError, "out of bounds"),
    (lambda: result_folder().fold(ONE, [(0, 1, 2)], 0, 0), TypeError, "not \\(index"),
    (lambda: result_folder().fold(ONE.decode(), [], 0, 0), TypeError, "bytes"),
])
def test_result_folder_refuses_bad_arguments(call, error, phrase):
    with pytest.raises(error, match=phrase):
        call()


@settings(max_examples=30, deadline=None)
@given(streamed_logs(), streamed_logs(), st.lists(DIRECTIVES, max_size=4), st.booleans())
def test_several_logs_stream_as_one(first, second, directives, remove):
    # The first log's frame holding both logs' runs, as folding them loaded and joined gives.
    joined = sarif.load_log(first)
    joined["runs"] += sarif.load_log(second)["runs"]
    whole = sarif.fold_log(joined, Policy(directives), roots=["/root"], remove_dropped=remove)
    out = []
    streamed = fold_stream([io.BytesIO(first), io.BytesIO(second)], Policy(directives), roots=["/root"],
                           write=out.append, remove_dropped=remove)
    assert sarif.load_log(b"".join(out)) == sarif.load_log(sarif.dump_log(joined))
    assert [t.remaining.counts for t in streamed.runs] == [t.remaining.counts for t in whole.runs]


def test_hand_written_log_end_to_end(tmp_path):
    policy = tmp_path / "policy.txt"
    policy.write_text("escalate:<alpha>plugin-rule@src/*=plugin rules are errors\n"  # already an error: keeps the note
                      "escalate:<alpha>P2\n"  # note to warning, no note text
                      "suppress:first-rule@src/app/*=legacy; to be removed\n"  # both A1 results; "none" passes
                      "suppress:Z9@lib/indexed.py\nde-escalate:<Beta>B1\nde-escalate:<beta>*=wrong case: never matches\n")
    data = (SARIF / "several-runs.sarif").read_bytes()
    run = tarnwick("-D", f"@{policy}", "--root", ROOT, "--fail-on", "warning", stdin=data)
    assert run.returncode == 1, run.stderr
    out, original = json.loads(run.stdout), json.loads(data)
    assert_valid(out)
    assert strip(out, original) == original
    r = [res for r in out["runs"] for res in r["results"]]
    assert [x.get("level") for x in r] == ["error", "warning", "warning", None, "warning", "none", "warning", "note"]
    assert r[0]["properties"]["tarnwick"] == {"originalLevel": "error", "notes": ["plugin rules are errors"]}
    assert r[1]["properties"]["tarnwick"] == {"originalLevel": "note", "notes": []}
    own = {"properties": {"tarnwick": True}}
    def at(line):  # the suppression's location: the directive that wrote it
        return {"physicalLocation": {"artifactLocation": {"uri": policy.as_uri()}, "region": {"startLine": line}}}

    assert r[2]["suppressions"] == [{"kind": "external", "justification": "legacy; to be removed", **own, "location": at(3)}]
    assert r[4]["suppressions"] == [{"kind": "external", "justification": sarif.DEFAULT_JUSTIFICATION, **own, "location": at(4)}]
    assert r[6]["suppressions"] == [{"kind": "inSource", "justification": "reviewed"}]
    # An inline suppress before the file matches first: the suppression names no place.
    first = tarnwick("-D", "suppress:first-rule", "-D", f"@{policy}", "--root", ROOT, stdin=data)
    assert "location" not in json.loads(first.stdout)["runs"][0]["results"][2]["suppressions"][0]
    # The gate: P1 stays an error and P2 became a warning; B1 became a warning too, but its
    # suppression in source keeps it out of the count.
    assert tarnwick("-D", f"@{policy}", "--root", ROOT, "--fail-on", "error", stdin=data).returncode == 1
    quiet = tarnwick("-D", f"@{policy}", "-D", "suppress:P{1,2}", "--root", ROOT, "--fail-on", "warning", stdin=data)
    assert quiet.returncode == 0 and quiet.stdout


def test_log_from_a_file_and_directives_from_stdin(tmp_path):
    (tmp_path / "in.sarif").write_text(json.dumps(make_log(("t", [result()]))), encoding="utf-8")
    run = tarnwick("-D", "@-", "in.sarif", "--remove-dropped", stdin=b"suppress:R1\n", cwd=tmp_path)
    assert run.returncode == 0 and json.loads(run.stdout)["runs"][0]["results"] == []


def encoded(*results, run=None):
    log = make_log(("t", [result(), *results]))
    log["runs"][0].update(run or {})
    return json.dumps(log, separators=(",", ":")).encode()  # compact: what is not folded is copied as it is


def raw(text):  # a log with one result written as JSON text, for what json.dumps cannot write
    return b'{"version": "2.1.0", "runs": [{"tool": {"driver": {"name": "t"}}, "results": [%s]}]}' % text.encode()


SUPPRESSED_R1 = b'"suppressions":[{"kind":"external","justification":"x","properties":{"tarnwick":true}}]'


@pytest.mark.parametrize(
    ("stdin", "args", "status", "phrase"),
    [
        # Not a SARIF log: exit 2, nothing on stdout, one line naming the place.
        (b"{", [], 2, "<stdin>: not JSON: "),
        (b'{"version": "2.1.0", "runs": [NaN]}', [], 2, "not JSON: NaN is not a JSON value"),
        (b"[" * 100_000 + b"]" * 100_000, [], 2, "not JSON that tarnwick can read: nested too deeply"),
        (raw('{"ruleId": "R1", "x": %s}' % ("[" * 600 + "]" * 600)), [], 2, "nested too deeply at runs[0].results[0].x[0]"),
        (encoded(result())[:-30], [], 2, "not JSON: the input ends in the middle of a value"),  # a log cut off
        (encoded(result())[:-2] + b"}}", [], 2, "not JSON: expected ',' or ']' at runs (byte"),
        (b"[]", [], 2, "not a SARIF log"),
        (b'{"version": "2.0.0", "runs": []}', [], 2, '"version" is "2.0.0", expected "2.1.0"'),
        (b'{"version": "2.1.0", "runs": [{"tool": {"driver": {}}}]}', [], 2, "runs[0].tool.driver.name: expected a"),
        (encoded({"message": {"text": "x"}}), [], 2, 'runs[0].results[1]: names no rule: no "ruleId"'),
        (encoded(result(level="fatal")), [], 2, "runs[0].results[1].level: 'fatal' is not one of \"error\""),
        (encoded(7), [], 2, "runs[0].results[1]: expected an object"),
        (encoded(result(properties=[1])), ["-D", "note:R1=x"], 2, "results[1].properties: expected an object"),
        (b"{}", ["missing.sarif"], 2, "missing.sarif: No such file or directory"),
        (b"{}", ["-D", "@-"], 2, "-D @-: standard input already carries the SARIF log"),
        (b"{}", ["-D", "suppress"], 2, "<inline>: "),
        (b"{}", ["-D", "supress:R1"], 2, 'error: <inline>: unknown action "supress"; allowed: ["de-escalate", "escalate"'),
        # Processed: numbers keep their value, odd texts and references are matched or ignored.
        (raw('{"ruleId": "R1", "properties": {"x": 1e400, "y": 0.1000000000000000000001, "z": 1.5, "w": -0.0}}'),
         ["-D", "note:R1=x"], 0, b'"x":1e400,"y":0.1000000000000000000001,"z":1.5,"w":-0.0,"tarnwick"'),
        (raw('{"ruleId": "R1", "properties": {"n": %s}}' % ("9" * 5000)), ["-D", "note:R1=x"], 0, b"9" * 5000),
        (raw('{"ruleId": "R\\ud800", "message": {"text": "\\udc80 é"}}'), ["-D", "suppress:R\ufffd=x"], 0,
         b'"ruleId":"R\\ud800","message":{"text":"\\udc80 \\u00e9"},"properties":{"tarnwick":{"originalLevel":"warning",'
         b'"notes":["x"]}},"level":"warning",' + SUPPRESSED_R1),
        (raw('{"ruleId": "R1"}').replace(b'"t"', b'"t\\udc80"'), ["-D", "suppress:<t\ufffd>R1=x"], 0, SUPPRESSED_R1),
        (raw('{"ruleId": "R1", "properties": {"tarnwick": {"originalLevel": []}}, "x": 1e-99999999999999999999}'),
         ["-D", "note:R1=x"], 0, b'"x":1e-99999999999999999999'),
        (encoded(result(uri="file://[oops/a.py")), ["-D", "note:*@*oops/a.py=x"], 0, b'"notes":["x"]'),
        (encoded({"ruleId": "R1", "locations": [{"physicalLocation": {"artifactLocation": {"index": 0}}}]},
                 run={"artifacts": ["not an object", {"location": "nor this"}]}), ["-D", "note:R1=x"], 0, b'"notes":["x"]'),
        (encoded({"rule": {"index": 1}}), ["-D", "note:rule-two=by index"], 0, b'"notes":["by index"]'),
        (encoded(result(uri="src/my%20file.c")), ["-D", "note:*@src/my file.c=decoded"], 0, b'"notes":["decoded"]'),
        (encoded(result(uri="./src/b.py")), ["-D", "note:*@src/b.py=dot"], 0, b'"notes":["dot"]'),
        (b"\xef\xbb\xbf" + encoded(), ["-D", "note:R1=bom"], 0, b'"notes":["bom"]'),  # a byte order mark
        (encoded().decode().encode("utf-16"), ["-D", "note:R1=wide"], 0, b'"notes":["wide"]'),  # UTF-16
        (encoded(result("R2"), run={"graphTraversals": [{"resultIndex": 0}, {"resultIndex": 1}],
                                    "properties": {"first": {"resultIndex": 0}, "last": {"resultIndex": 1}}}),
         ["-D", "suppress:R1", "--remove-dropped"], 0,
         b'"graphTraversals":[{"resultIndex":0}],"properties":{"first":{},"last":{"resultIndex":0}}'),
    ],
    ids=lambda value: repr(value)[:40],  # short ids: pytest puts the id in every child's environment
)
def test_hostile_logs(tmp_path, stdin, args, status, phrase):
    run = tarnwick(*args, stdin=stdin, cwd=tmp_path)
    assert run.returncode == status, run.stderr
    if status == 2:  # one line, after the usage lines of a usage error
        *usage, line = run.stderr.decode().splitlines()
        assert run.stdout == b"" and phrase in line and all(u.startswith(("usage:", " ")) for u in usage)
    else:
        assert phrase in run.stdout and run.stderr.startswith(b"tarnwick sarif: ") and run.stderr.count(b"\n") == 1
        sarif.load_log(run.stdout)


def test_summary_counts_and_failing_results():
    region = {"physicalLocation": {"artifactLocation": {"uri": "lib/c.py"}, "region": {"startLine": 3, "startColumn": 7}}}
    t = [
        result("R1", "error", "src/a.py"),  # dropped
        result("R1", "warning", None, message={"text": "two\nlines\x1b"}, locations=[region]),  # moved up
        result("R2", "note", "src/a.py"),  # annotated
        result("R2", "error", "lib/c.py"),  # moved down (and annotated)
        result("R1", "none"),  # read, never folded
    ]
    u = [result("R1", "error", "src/b.py") for _ in range(51)] + [result("R2", "warning", None)]
    policy = ["suppress:<t>R1@src/a.py", "escalate:<t>R1@lib/*", "note:<t>R2=n", "de-escalate:<t>R2@lib/*"]
    run = tarnwick(*(a for d in policy for a in ("-D", d)), "--fail-on", "warning", stdin=json.dumps(make_log(("t", t), ("u", u))).encode())
    assert run.returncode == 1
    lines = run.stderr.decode().splitlines()
    assert lines[:3] == ["lib/c.py:3:7: error: R1 two\\nlines\\u{1b} [t]", "lib/c.py: warning: R2 m [t]",
                         "src/b.py: error: R1 m [u]"]
    assert lines[49:] == [
        "src/b.py: error: R1 m [u]", "... and 4 more",
        "  t: 5 results read, 1 dropped, 1 moved up, 1 moved down, 1 annotated; 2 remain at or above warning: the gate fails",
        "  u: 52 results read, 0 dropped, 0 moved up, 0 moved down, 0 annotated; 52 remain at or above warning: the gate fails",
        "tarnwick sarif: 57 results read, 1 dropped, 1 moved up, 1 moved down, 1 annotated; 54 remain at or above warning: the gate fails",
    ]
    quiet = tarnwick(*(a for d in policy for a in ("-D", d)), "--quiet", stdin=json.dumps(make_log(("t", t))).encode())
    assert (quiet.returncode, quiet.stderr) == (0, b"")
    # unused directives fail the gate with --unused error: the summary says why the status is 1
    for gate, reason in [(["--fail-on", "error"], "0 remain at or above error: the gate passes; 2 unused directives fail it"),
                         ([], "1 remains; 2 unused directives fail the gate")]:
        stale = tarnwick("-D", "suppress:<t>R9", "-D", "note:<t>R8", *gate, "--unused", "error", "--unused-verbs", "suppress,note",
                         stdin=json.dumps(make_log(("t", [result("R1", "warning")]))).encode())
        lines = stale.stderr.decode().splitlines()  # two unused, the totals: no failing results, no "... and 0 more"
        assert stale.returncode == 1 and len(lines) == 3 and lines[-1].endswith(reason)



BANDIT = [sys.executable, "-m", *"bandit -q -r -f sarif .".split()]
LEGACY = "legacy code is exempt until it is rewritten"


def pipeline(producer, tmp_path, *args):
    """`producer | tarnwick sarif -D @../policy.txt ARGS` in the sample project: status, per-result summary."""
    pytest.importorskip(producer[2])
    if producer[2] == "bandit":
        pytest.importorskip("sarif_om", reason="bandit's sarif extra is not installed")
    shutil.copytree(SARIF / "project", tmp_path / "project")
    shutil.copy(SARIF / "policy.txt", tmp_path)
    produced = subprocess.run(producer, cwd=tmp_path / "project", capture_output=True)
    assert produced.stdout.startswith(b"{"), produced.stderr
    run = tarnwick("-D", "@../policy.txt", *args, stdin=produced.stdout, cwd=tmp_path / "project")
    assert run.returncode in (0, 1), run.stderr
    again = tarnwick("-D", "@../policy.txt", *args, stdin=run.stdout, cwd=tmp_path / "project")
    assert (again.returncode, again.stdout) == (run.returncode, run.stdout)  # applying a policy twice = once
    out = json.loads(run.stdout)
    assert_valid(out)
    summary = {}
    for r in out["runs"][0]["results"]:
        uri = r["locations"][0]["physicalLocation"]["artifactLocation"]["uri"].rpartition("project/")[2]
        why = next((s["justification"] for s in r.get("suppressions", [])), None)
        fold = r.get("properties", {}).get("tarnwick", {})
        summary[r["ruleId"], uri] = (r.get("level"), why, fold.get("originalLevel"), fold.get("notes"))
    return run.returncode, summary


def test_ruff_pipeline(tmp_path):
    assert pipeline(RUFF, tmp_path / "1", "--fail-on", "error") == (
        0,  # the only error left is suppressed
        {
            ("F401", "app/core.py"): ("warning", None, "error", ["unused imports are cleaned up weekly"]),
            ("E501", "app/legacy.py"): ("error", LEGACY, "error", [LEGACY]),
        },
    )
    assert pipeline(RUFF, tmp_path / "2", "--fail-on", "warning")[0] == 1


def test_bandit_pipeline(tmp_path):
    assert pipeline(BANDIT, tmp_path / "1", "--fail-on", "error") == (
        1,
        {
            ("B404", "app/core.py"): ("note", None, None, None), ("B602", "app/core.py"): ("error", None, None, None),
            ("B307", "app/core.py"): ("error", None, "warning", ["eval is never acceptable"]),
            ("B403", "app/legacy.py"): ("note", None, None, None),
            ("B301", "app/legacy.py"): ("warning", None, "warning", ["pickle input comes from our own cache"]),
            ("B101", "tools/check.py"): ("note", sarif.DEFAULT_JUSTIFICATION, "note", []),
        },
    )
    assert pipeline(BANDIT, tmp_path / "2", "--fail-on", "error", "-D", "suppress:<Bandit>B{602,307}")[0] == 0


def baseline_of(log):
    return write_baseline(entries_of(identified(log, ["/root"], Identities("/nonexistent")))).encode()


def baseline_check(text):
    return BaselineCheck(Matcher(read_baseline(text, "b")), Identities("/nonexistent"), "b")


@settings(max_examples=150, deadline=None)
@given(LOGS, LOGS, st.lists(DIRECTIVES, max_size=4))
def test_a_baseline_drops_what_it_holds_and_no_more(before, after, directives):
    # Without sources the findings are counted per tool, path and rule: the first N of a key are unchanged.
    text = baseline_of(before)
    room = Counter()
    for run in before["runs"]:
        targets = sarif.Targets(run, ["/root"])
        for r in run["results"]:
            if targets.of(r)[0] != "none":
                room[run["tool"]["driver"]["name"], (targets.scopes.of(r) or [None])[0] or None, targets.of(r)[1][0]] += 1
    plain, plain_remaining, _ = folded(after, directives)
    out, check = copy.deepcopy(after), baseline_check(text)
    fold = sarif.fold_log(out, Policy(directives), roots=["/root"], baseline=check)
    written = copy.deepcopy(out)
    assert_valid(written)
    unchanged_remaining = 0
    for run, run_plain in zip(out["runs"], plain["runs"], strict=True):
        targets = sarif.Targets(run, ["/root"])
        for r, r_plain in zip(run["results"], run_plain["results"], strict=True):
            if targets.of(r_plain)[0] == "none":
                assert r == r_plain
                continue
            key = run["tool"]["driver"]["name"], (targets.scopes.of(r) or [None])[0] or None, targets.of(r)[1][0]
            state = "unchanged" if room[key] > 0 else "new"
            room[key] -= state == "unchanged"
            assert r.pop("baselineState") == state
            own = [s for s in r.get("suppressions", []) if s.get("justification") == "baseline"]
            dropped_by_policy = any("location" not in s for s in r_plain.get("suppressions", []))
            if state == "unchanged" and not dropped_by_policy:
                unchanged_remaining += 1
                assert own == [{"kind": "external", "justification": "baseline", "properties": {"tarnwick": True},
                                "location": own[0]["location"]}]
                r["suppressions"].remove(own[0])
                if not r["suppressions"]:
                    del r["suppressions"]
            assert r == r_plain
    assert check.absent == sum(room.values())
    assert len(fold.severities) == len(plain_remaining) - unchanged_remaining
    again = copy.deepcopy(written)
    sarif.fold_log(again, Policy(directives), roots=["/root"], baseline=baseline_check(text))
    assert again == written  # a second run with the same baseline changes nothing


def test_output_annotations_several_logs_and_quietness(tmp_path):
    bad = {"locations": [{"physicalLocation": {"artifactLocation": {"uri": "a,b:c%25.py"}, "region": {"startLine": 2}}}],
           "message": {"text": "100%\r\nsure"}}
    (tmp_path / "one.sarif").write_text(json.dumps(make_log(("t", [result("R1", "error", None, **bad)]))), encoding="utf-8")
    (tmp_path / "two.sarif").write_text(json.dumps(make_log(("u", [result("R2", "note")]))), encoding="utf-8")
    gate = ["one.sarif", "two.sarif", "--fail-on", "error", "-D", "suppress:X1", "--unused", "warn"]
    run = tarnwick(*gate, "--annotations", "github", "--output", "out.sarif", "--quiet", cwd=tmp_path)
    assert run.returncode == 1
    assert run.stdout == b"::error file=a%2Cb%3Ac%25.py,line=2,title=R1 [t]::100%25%0D%0Asure\n"
    assert run.stderr == b"<inline>: suppress:X1: matched no result\na,b:c%.py:2: error: R1 100%\\r\\nsure [t]\n"
    out = json.loads((tmp_path / "out.sarif").read_bytes())
    assert [r["tool"]["driver"]["name"] for r in out["runs"]] == ["t", "u"]
    assert [f.name for f in tmp_path.iterdir() if f.name.startswith(".")] == []
    run = tarnwick(*gate, "--silent", "-D", "note:R2=n", "--unused-verbs", "note,suppress", cwd=tmp_path)
    assert (run.returncode, run.stderr) == (1, b"")
    run = tarnwick(*gate, "-D", "note:R9=n", "--unused-verbs", "note,suppress", "-q", cwd=tmp_path)
    assert run.stderr.decode().splitlines()[1] == "<inline>: note:R9=n: matched no result"


@pytest.mark.parametrize(("args", "message"), [
    (["--annotations", "github"], "--annotations: the annotations go to stdout, so the log needs --output FILE"),
    (["--unused-verbs", "set"], "--unused-verbs set: expected lint verbs among suppress, de-escalate, escalate, note"),
    (["-", "-"], "standard input (-) can be read only once"),
    (["one.sarif", "bad.sarif"], "bad.sarif: runs[0].results[0]: names no rule"),
    (["--output", "no/such/dir/out.sarif"], "no/such/dir/out.sarif: No such file or directory"),
    (["--baseline", "-"], "--baseline -: standard input already carries the SARIF log; give the baseline as a file"),
    (["--baseline", "one.sarif", "one.sarif"], 'one.sarif:1: not a baseline file of this version'),
    (["-D", "@base.txt"], "-D @base.txt: a baseline file, not directives: give it as --baseline base.txt"),
])
def test_sarif_usage_and_output_errors(tmp_path, args, message):
    (tmp_path / "one.sarif").write_text(json.dumps(make_log(("t", [result()]))), encoding="utf-8")
    (tmp_path / "bad.sarif").write_text(json.dumps(make_log(("t", [{"message": {"text": "m"}}]))), encoding="utf-8")
    (tmp_path / "base.txt").write_text("tarnwick-baseline 1\n", encoding="utf-8")
    run = tarnwick(*args, cwd=tmp_path, stdin=(tmp_path / "one.sarif").read_bytes())
    assert run.returncode == 2 and run.stdout == b"" and message in run.stderr.decode().splitlines()[-1]
    assert sorted(f.name for f in tmp_path.iterdir()) == ["bad.sarif", "base.txt", "one.sarif"]
