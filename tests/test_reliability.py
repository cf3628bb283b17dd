"""Reliability: reference leaks and memory growth, threads, hostile inputs and
subinterpreters.

The long runs are marked ``slow`` (``pytest -m slow``); the rest is a fast
subset of the same checks. Run with ``-s`` to see the figures the slow
checks print (timings, memory).
"""
import gc
import json
import operator
import os
import subprocess
import sys
import tempfile
import textwrap
import threading
import time
import tracemalloc

import pytest

from tarnwick import _tarnwick as tw

SURROGATE = "\udc80"  # a lone surrogate: no UTF-8 encoding


def _report(what, **figures):
    """Prints one line of figures (shown with ``pytest -s``)."""
    text = ", ".join(f"{k}={v}" for k, v in figures.items())
    print(f"\n[reliability] {what}: {text}")


def _rss():
    """The resident set size of this process, in bytes (Linux)."""
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


# --------------------------------------------------------------------------
# Helper objects for conversions that run Python code.


class Index:
    """An integer only through ``__index__``."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class RaisingIndex:
    """``__index__`` raises a new ``exc_type`` each time."""

    def __init__(self, exc_type):
        self.exc_type = exc_type

    def __index__(self):
        raise self.exc_type("__index__ failed")


class Seq:
    """A sequence (``__getitem__``/``__len__``) that is not a list or tuple."""

    def __init__(self, items):
        self.items = list(items)

    def __len__(self):
        return len(self.items)

    def __getitem__(self, i):
        return self.items[i]


class IterRaisesMidway(Seq):
    """Iteration yields the first ``after`` items, then raises."""

    def __init__(self, items, after=2):
        super().__init__(items)
        self.after = after

    def __iter__(self):
        for i, item in enumerate(self.items):
            if i == self.after:
                raise RuntimeError("iteration failed midway")
            yield item


class MutatingSeq(Seq):
    """Iteration over an underlying list that it changes as it goes: it lets
    go of each item as it yields it, and after the first item it replaces
    the rest of the list with fresh objects made by ``make``. Each yielded
    fresh object is then held by the conversion alone."""

    def __init__(self, items, make):
        super().__init__(items)
        self.make = make

    def __iter__(self):
        backing = self.items
        i = 0
        while i < len(backing):
            item = backing[i]
            backing[i] = None
            if i == 0:
                backing.clear()
                backing.extend([None] + [self.make(k) for k in range(3)])
            yield item
            del item
            i += 1


class OddEqStr(str):
    """A str whose comparisons lie and whose hash is an ordinary str hash."""

    def __eq__(self, other):
        return True

    def __ne__(self, other):
        return False

    __hash__ = str.__hash__


class RaisingEqStr(str):
    def __eq__(self, other):
        raise RuntimeError("__eq__ must not be called")

    __hash__ = str.__hash__


# --------------------------------------------------------------------------
# 3. Reference leaks and memory: every public function and method, success
# and every error path.


def _leak_cases(tmp_dir):
    """(label, callable, args, kwargs, expected exception or None)."""
    good = tmp_dir / "good.txt"
    good.write_text("# rules\nsuppress:foo*@src/*=legacy\nde-escalate:<rs>bar\nset:k=v\n", encoding="utf-8")
    bad = tmp_dir / "bad.txt"
    bad.write_text("allow:x\nallow:\n", encoding="utf-8")
    missing = str(tmp_dir / "missing.txt")

    d = tw.parse("deny:<fn>foo*@src/*=legacy API")
    directives = tw.expand(f"@{good}") + [d]
    ladder = tw.Ladder(["error", "warning", "info"])
    names = ["foo.py", "bar"]
    scopes = ["src/a.py"]
    actions = frozenset({"allow", "deny", "suppress"})
    steps = {"de-escalate": 1, "escalate": -1}
    drop = {"suppress"}
    DE = tw.DirectiveError
    TE, OE, UE = TypeError, OverflowError, UnicodeEncodeError

    cases = [
        # parse
        ("parse ok", tw.parse, ("allow:<fn>foo*@src/*=note",), {}, None),
        ("parse ok actions", tw.parse, ("allow:x",), {"actions": actions}, None),
        ("parse malformed", tw.parse, ("allow",), {}, DE),
        ("parse refused action", tw.parse, ("nope:x",), {"actions": actions}, DE),
        ("parse spec bytes", tw.parse, (b"allow:x",), {}, TE),
        ("parse actions list", tw.parse, ("allow:x",), {"actions": ["allow"]}, TE),
        ("parse actions item", tw.parse, ("allow:x",), {"actions": {1}}, TE),
        ("parse spec surrogate", tw.parse, ("allow:" + SURROGATE,), {}, UE),
        ("parse actions surrogate", tw.parse, ("allow:x",), {"actions": {SURROGATE}}, UE),
        ("parse missing arg", tw.parse, (), {}, TE),
        ("parse unknown keyword", tw.parse, ("allow:x",), {"bogus": 1}, TE),
        ("parse too many", tw.parse, ("allow:x", None), {}, TE),
        ("parse given twice", tw.parse, ("allow:x",), {"spec": "allow:y"}, TE),
        # glob_match
        ("glob_match plain", tw.glob_match, ("src/*.py", "src/a.py"), {}, None),
        ("glob_match compiled", tw.glob_match, ("{a,b}[!x]*", "bz"), {}, None),
        ("glob_match pattern type", tw.glob_match, (b"*", "x"), {}, TE),
        ("glob_match text type", tw.glob_match, ("*", 1), {}, TE),
        ("glob_match pattern surrogate", tw.glob_match, (SURROGATE, "x"), {}, UE),
        ("glob_match text surrogate", tw.glob_match, ("*", SURROGATE), {}, UE),
        ("glob_match keywords", tw.glob_match, (), {"pattern": "a*", "text": "ab"}, None),
        # expand
        ("expand inline", tw.expand, ("allow:x",), {}, None),
        ("expand file", tw.expand, (f"@{good}",), {"actions": frozenset({"suppress", "de-escalate", "set"})}, None),
        ("expand inline malformed", tw.expand, ("allow",), {}, DE),
        ("expand missing file", tw.expand, (f"@{missing}",), {}, DE),
        ("expand bad line", tw.expand, (f"@{bad}",), {}, DE),
        ("expand refused action", tw.expand, (f"@{good}",), {"actions": actions}, DE),
        ("expand NUL in path", tw.expand, ("@a\0b",), {}, DE),
        ("expand value type", tw.expand, (None,), {}, TE),
        ("expand actions type", tw.expand, ("allow:x",), {"actions": ("allow",)}, TE),
        ("expand value surrogate", tw.expand, ("@" + SURROGATE,), {}, UE),
        # lint_fold
        ("lint_fold ok", tw.lint_fold, ("warning", directives, names), {"qualifier": "rs", "scopes": scopes}, None),
        ("lint_fold severity", tw.lint_fold, ("fatal", directives, names), {}, DE),
        ("lint_fold current type", tw.lint_fold, (1, directives, names), {}, TE),
        ("lint_fold directives str", tw.lint_fold, ("info", "abc", names), {}, TE),
        ("lint_fold directives item", tw.lint_fold, ("info", [d, "x"], names), {}, TE),
        ("lint_fold names str", tw.lint_fold, ("info", directives, "foo"), {}, TE),
        ("lint_fold names item", tw.lint_fold, ("info", directives, ["a", 1]), {}, TE),
        ("lint_fold qualifier type", tw.lint_fold, ("info", directives, names), {"qualifier": 1}, TE),
        ("lint_fold scopes set", tw.lint_fold, ("info", directives, names), {"scopes": {"a"}}, TE),
        ("lint_fold current surrogate", tw.lint_fold, (SURROGATE, directives, names), {}, UE),
        ("lint_fold names surrogate", tw.lint_fold, ("info", directives, ["a", SURROGATE]), {}, UE),
        ("lint_fold qualifier surrogate", tw.lint_fold, ("info", directives, names), {"qualifier": SURROGATE}, UE),
        ("lint_fold scopes surrogate", tw.lint_fold, ("info", directives, names), {"scopes": [SURROGATE]}, UE),
        # lint_settings
        ("lint_settings ok", tw.lint_settings, (directives,), {}, None),
        ("lint_settings type", tw.lint_settings, ({d},), {}, TE),
        ("lint_settings item", tw.lint_settings, ([d, 1],), {}, TE),
        # Directive
        ("Directive()", tw.Directive, (), {}, TE),
        ("Directive.action", operator.attrgetter("action"), (d,), {}, None),
        ("Directive.kind", operator.attrgetter("kind"), (d,), {}, None),
        ("Directive.name", operator.attrgetter("name"), (d,), {}, None),
        ("Directive.path", operator.attrgetter("path"), (d,), {}, None),
        ("Directive.note", operator.attrgetter("note"), (d,), {}, None),
        ("Directive str", str, (d,), {}, None),
        ("Directive repr", repr, (d,), {}, None),
        ("Directive set attribute", setattr, (d, "action", "x"), {}, AttributeError),
        ("matches ok", d.matches, (names,), {"qualifier": "fn", "scopes": scopes}, None),
        ("matches names str", d.matches, ("foo",), {}, TE),
        ("matches names item", d.matches, ([b"foo"],), {}, TE),
        ("matches qualifier type", d.matches, (names,), {"qualifier": b"fn"}, TE),
        ("matches scopes type", d.matches, (names,), {"scopes": "src"}, TE),
        ("matches names surrogate", d.matches, ([SURROGATE],), {}, UE),
        ("matches qualifier surrogate", d.matches, (names,), {"qualifier": SURROGATE}, UE),
        ("matches scopes surrogate", d.matches, (names,), {"scopes": ["a", SURROGATE]}, UE),
        ("matches missing names", d.matches, (), {}, TE),
        # Ladder
        ("Ladder ok", tw.Ladder, (["a", "b", "a"],), {}, None),
        ("Ladder str", tw.Ladder, ("abc",), {}, TE),
        ("Ladder item", tw.Ladder, (["a", None],), {}, TE),
        ("Ladder surrogate", tw.Ladder, ([SURROGATE],), {}, UE),
        ("Ladder keyword", tw.Ladder, (), {"levels": ("x", "y")}, None),
        ("Ladder.levels", operator.attrgetter("levels"), (ladder,), {}, None),
        ("position found", ladder.position, ("info",), {}, None),
        ("position absent", ladder.position, ("fatal",), {}, None),
        ("position type", ladder.position, (1,), {}, TE),
        ("position surrogate", ladder.position, (SURROGATE,), {}, UE),
        ("step ok", ladder.step, ("warning", -5), {}, None),
        ("step index", ladder.step, ("warning", Index(1)), {}, None),
        ("step level type", ladder.step, (None, 1), {}, TE),
        ("step delta float", ladder.step, ("info", 1.0), {}, TE),
        ("step delta overflow", ladder.step, ("info", 2**31), {}, OE),
        ("step delta huge", ladder.step, ("info", -(2**80)), {}, OE),
        ("step index raises", ladder.step, ("info", RaisingIndex(ValueError)), {}, ValueError),
        ("step surrogate", ladder.step, (SURROGATE, 1), {}, UE),
        (
            "fold ok",
            ladder.fold,
            ("warning", directives, names),
            {"qualifier": "rs", "scopes": scopes, "steps": steps, "drop": drop, "notes": True},
            None,
        ),
        ("fold current type", ladder.fold, (1, directives, names), {}, TE),
        ("fold directives type", ladder.fold, ("info", {d}, names), {}, TE),
        ("fold directives item", ladder.fold, ("info", [d, ladder], names), {}, TE),
        ("fold names str", ladder.fold, ("info", directives, "ab"), {}, TE),
        ("fold qualifier type", ladder.fold, ("info", directives, names), {"qualifier": 0}, TE),
        ("fold scopes type", ladder.fold, ("info", directives, names), {"scopes": iter(["a"])}, TE),
        ("fold steps type", ladder.fold, ("info", directives, names), {"steps": [("a", 1)]}, TE),
        ("fold steps key", ladder.fold, ("info", directives, names), {"steps": {1: 1}}, TE),
        ("fold steps value", ladder.fold, ("info", directives, names), {"steps": {"a": 0.5}}, TE),
        ("fold steps overflow", ladder.fold, ("info", directives, names), {"steps": {"a": 2**31}}, OE),
        ("fold drop type", ladder.fold, ("info", directives, names), {"drop": ["suppress"]}, TE),
        ("fold drop item", ladder.fold, ("info", directives, names), {"drop": {b"x"}}, TE),
        ("fold notes None", ladder.fold, ("info", directives, names), {"notes": None}, TE),
        ("fold notes int", ladder.fold, ("info", directives, names), {"notes": 1}, TE),
        ("fold current surrogate", ladder.fold, (SURROGATE, directives, names), {}, UE),
        ("fold names surrogate", ladder.fold, ("info", directives, [SURROGATE]), {}, UE),
        ("fold qualifier surrogate", ladder.fold, ("info", directives, names), {"qualifier": SURROGATE}, UE),
        ("fold scopes surrogate", ladder.fold, ("info", directives, names), {"scopes": (SURROGATE,)}, UE),
        ("fold steps key surrogate", ladder.fold, ("info", directives, names), {"steps": {SURROGATE: 1}}, UE),
        ("fold drop surrogate", ladder.fold, ("info", directives, names), {"drop": frozenset({SURROGATE})}, UE),
        ("fold unknown keyword", ladder.fold, ("info", directives, names), {"note": True}, TE),
    ]
    return cases


def _tracked(args, kwargs):
    """The argument objects and their items, whose reference counts must not
    change. Numbers, None and booleans are left out: the interpreter shares
    them everywhere (and makes them immortal from 3.12 on)."""
    out = []
    for obj in list(args) + list(kwargs.values()):
        out.append(obj)
        if isinstance(obj, (list, tuple, set, frozenset)):
            out.extend(obj)
        elif isinstance(obj, dict):
            out.extend(obj.keys())
            out.extend(obj.values())
    return [o for o in out if not isinstance(o, (int, float, type(None)))]


def _loop(fn, args, kwargs, exc, n):
    if exc is None:
        for _ in range(n):
            fn(*args, **kwargs)
    else:
        for _ in range(n):
            try:
                fn(*args, **kwargs)
            except exc:
                pass
            else:
                raise AssertionError(f"{fn!r} did not raise {exc.__name__}")


# Under scripts/sanitize, LeakSanitizer checks every allocation at exit, and
# tracemalloc and RSS say nothing useful: ASan keeps freed memory in
# quarantine, and CPython 3.11's tracemalloc leaks its own traceback records
# (which LeakSanitizer would then report). Only the reference counts are
# checked there.
SANITIZED = bool(os.environ.get("TARNWICK_SANITIZED"))


def _leak_check(case, n, check_rss):
    label, fn, args, kwargs, exc = case
    _loop(fn, args, kwargs, exc, 200)  # warm up: lazily created types, caches
    tracked = _tracked(args, kwargs)
    gc.collect()
    refs_before = [sys.getrefcount(o) for o in tracked]
    traced_before = tracemalloc.get_traced_memory()[0]
    rss_before = _rss()
    _loop(fn, args, kwargs, exc, n)
    gc.collect()
    rss_growth = _rss() - rss_before
    traced_growth = tracemalloc.get_traced_memory()[0] - traced_before
    refs_after = [sys.getrefcount(o) for o in tracked]
    del tracked
    assert refs_after == refs_before, f"{label}: reference counts of the arguments changed"
    if tracemalloc.is_tracing() and traced_growth >= max(8192, n // 4):
        # Below one byte per call: a leaked object per call costs dozens. The
        # interpreter may grow a cache or a free list once, while the loop
        # runs; a leak grows again in a second round.
        again = tracemalloc.get_traced_memory()[0]
        _loop(fn, args, kwargs, exc, n)
        gc.collect()
        traced_growth = tracemalloc.get_traced_memory()[0] - again
        assert traced_growth < max(8192, n // 4), f"{label}: traced memory grew by {traced_growth} bytes"
    if check_rss and not SANITIZED:
        assert rss_growth < 2 * 1024 * 1024, f"{label}: RSS grew by {rss_growth} bytes"
    return traced_growth, rss_growth


@pytest.fixture(scope="module")
def leak_cases(tmp_path_factory):
    return _leak_cases(tmp_path_factory.mktemp("leaks"))


@pytest.fixture
def traced():
    """tracemalloc on for the test (not under the sanitizers)."""
    start = not SANITIZED and not tracemalloc.is_tracing()
    if start:
        tracemalloc.start()
    yield
    if start:
        tracemalloc.stop()


def test_leak_cases_cover_every_public_name(leak_cases):
    covered = " ".join(label for label, *_ in leak_cases)
    for name in tw.__all__:
        if name != "DirectiveError":
            assert name in covered
    for member in ("action", "kind", "name", "path", "note", "matches", "levels", "position", "step", "fold"):
        assert member in covered
    raised = {exc for *_, exc in leak_cases}
    assert {None, TypeError, tw.DirectiveError, OverflowError, UnicodeEncodeError} <= raised


def test_no_leaks_quick(leak_cases, traced):
    """Every case 2,000 times: argument reference counts exact, traced memory
    flat."""
    for case in leak_cases:
        _leak_check(case, 2000, check_rss=False)


@pytest.mark.slow
def test_no_leaks_100k(leak_cases, traced):
    """Every case 100,000 times: reference counts exact, traced memory and
    process RSS flat."""
    start = time.perf_counter()
    rss_start = _rss()
    worst_traced = worst_rss = (0, "")
    for case in leak_cases:
        t, r = _leak_check(case, 100_000, check_rss=True)
        worst_traced = max(worst_traced, (t, case[0]))
        worst_rss = max(worst_rss, (r, case[0]))
    _report(
        "leaks",
        cases=len(leak_cases),
        calls=len(leak_cases) * 100_000,
        seconds=round(time.perf_counter() - start, 1),
        worst_traced_growth=worst_traced,
        worst_rss_growth=worst_rss,
        total_rss_growth=_rss() - rss_start,
    )


# --------------------------------------------------------------------------
# 5. Threads.

RULES = """\
# shared rules
suppress:legacy_*@src/old/*=legacy code
de-escalate:<lint>style_*
escalate:<lint>security_*=always an error
note:*@tests/*=test code
set:max-line=100
promote:<rs>hot_*
demote:cold_*@lib/**=cold path
drop:generated_*
bump:*=bumped
"""

SPECS = [
    "deny:<fn>foo*@src/*=legacy API",
    "  allow : foo  ",
    "x\\=y:z",
    "allow:<a\\>b>c",
    "allow:a@b@c",
    "note:{a,b}[!c]*=n=m",
    "allow:<*>foo",
    "promote:" + "{x,y}" * 5,
]

TARGETS = [
    (["legacy_api"], None, ["src/old/a.py"]),
    (["style_indent", "security_eval"], "lint", ["src/a.py"]),
    (["hot_loop"], "rs", ["tests/t.py"]),
    (["cold_start"], None, ["lib/x/y.py"]),
    (["generated_pb2"], "py", []),
    ([], None, None),
]

LEVELS = ["blocker", "high", "medium", "low", "trivial"]
STEPS = {"promote": -1, "demote": 2, "bump": 1, "de-escalate": 1}
DROP = frozenset({"drop", "suppress"})


def _thread_fixture(tmp_path):
    rules = tmp_path / "rules.txt"
    rules.write_text(RULES, encoding="utf-8")
    value = f"@{rules}"
    shared = tw.expand(value)
    ladder = tw.Ladder(LEVELS)

    def one(i):
        spec = SPECS[i % len(SPECS)]
        names, qualifier, scopes = TARGETS[i % len(TARGETS)]
        p = tw.parse(spec)
        expanded = tw.expand(value)
        return (
            str(p),
            repr(p),
            (p.action, p.kind, p.name, p.path, p.note),
            [str(d) for d in expanded],
            tw.lint_fold(("error", "warning", "info")[i % 3], shared, names, qualifier=qualifier, scopes=scopes),
            ladder.fold(LEVELS[i % 5], shared, names, qualifier=qualifier, scopes=scopes, steps=STEPS, drop=DROP),
            [d.matches(names, qualifier=qualifier, scopes=scopes) for d in shared],
            tw.lint_settings(shared),
            tw.glob_match(spec, spec),
        )

    return one


def _run_threads(one, seconds, nthreads=8):
    cycle = len(SPECS) * len(TARGETS) * 5
    expected = [one(i) for i in range(cycle)]
    barrier = threading.Barrier(nthreads)
    calls = [0] * nthreads
    problems = []
    deadline = [0.0]

    def worker(t):
        try:
            barrier.wait()
            i = t
            while time.monotonic() < deadline[0]:
                got = one(i % cycle)
                if got != expected[i % cycle]:
                    problems.append((t, i % cycle, got))
                    return
                calls[t] += 1
                i += nthreads
        except BaseException as e:  # noqa: BLE001 - reported below
            problems.append((t, "exception", repr(e)))

    old = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)  # switch threads as often as possible
    try:
        deadline[0] = time.monotonic() + seconds
        threads = [threading.Thread(target=worker, args=(t,)) for t in range(nthreads)]
        for th in threads:
            th.start()
        for th in threads:
            th.join()
    finally:
        sys.setswitchinterval(old)
    assert problems == []
    assert all(c > 0 for c in calls)
    return sum(calls)


def test_threads_quick(tmp_path):
    _run_threads(_thread_fixture(tmp_path), seconds=0.3)


@pytest.mark.slow
def test_threads_few_seconds(tmp_path):
    seconds = 4.0
    total = _run_threads(_thread_fixture(tmp_path), seconds=seconds)
    _report("threads", threads=8, seconds=seconds, workload_calls=total, mismatches=0)


IMPORT_RACE = textwrap.dedent(
    """
    import importlib.machinery, importlib.util, json, sys, threading

    path = sys.argv[1]
    n = 16
    sys.setswitchinterval(1e-6)
    barrier = threading.Barrier(n)
    modules = [None] * n
    errors = []

    def load(i):
        try:
            loader = importlib.machinery.ExtensionFileLoader("_tarnwick", path)
            spec = importlib.util.spec_from_file_location("_tarnwick", path, loader=loader)
            barrier.wait()
            module = importlib.util.module_from_spec(spec)
            spec.loader.exec_module(module)
            modules[i] = module
        except BaseException as e:
            errors.append(repr(e))

    def raised(m):
        try:
            m.parse("x")
        except Exception as e:
            return type(e)

    threads = [threading.Thread(target=load, args=(i,)) for i in range(n)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    import tarnwick._tarnwick as imported
    everyone = [m for m in modules if m is not None] + [imported]
    print(json.dumps({
        "errors": errors,
        "modules": len({id(m) for m in everyone}),
        "DirectiveError": len({id(m.DirectiveError) for m in everyone}),
        "Directive": len({id(m.Directive) for m in everyone}),
        "Ladder": len({id(m.Ladder) for m in everyone}),
        "parsed type": len({id(type(m.parse("a:b"))) for m in everyone} | {id(imported.Directive)}),
        "raised type": len({id(raised(m)) for m in everyone} | {id(imported.DirectiveError)}),
    }))
    """
)


def _race_imports():
    """Loads the extension from 16 threads at once in a fresh process, where
    nothing has created the classes yet: each thread gets a module object of
    its own from the same definition, all sharing the same class objects."""
    proc = subprocess.run(
        [sys.executable, "-c", IMPORT_RACE, tw.__file__],
        capture_output=True,
        text=True,
        timeout=120,
        cwd=tempfile.gettempdir(),
    )
    assert proc.returncode == 0, proc.stderr
    return json.loads(proc.stdout)


RACED = ("DirectiveError", "Directive", "Ladder", "parsed type", "raised type")


@pytest.mark.parametrize("attempt", range(2))
def test_first_use_race_at_import_yields_one_object_each(attempt):
    out = _race_imports()
    assert out["errors"] == []
    assert out["modules"] == 17
    assert {name: out[name] for name in RACED} == {name: 1 for name in RACED}


@pytest.mark.slow
def test_first_use_race_at_import_many_processes():
    for _ in range(20):
        out = _race_imports()
        assert out["errors"] == [] and out["modules"] == 17
        assert {name: out[name] for name in RACED} == {name: 1 for name in RACED}


def test_leak_check_detects_a_leak(traced):
    """The checker itself: a callable that keeps a reference per call fails
    it."""
    sink = []
    victim = ["x"]
    case = ("keeps its argument", sink.append, (victim,), {}, None)
    with pytest.raises(AssertionError, match="reference counts"):
        _leak_check(case, 2000, check_rss=False)


# --------------------------------------------------------------------------
# 6. Hostile inputs.

MB = 1024 * 1024


def _timed(fn, *args, **kwargs):
    start = time.perf_counter()
    result = fn(*args, **kwargs)
    return result, time.perf_counter() - start


@pytest.mark.parametrize("size", [pytest.param(1 * MB, id="1MB"), pytest.param(10 * MB, id="10MB", marks=pytest.mark.slow)])
def test_huge_text_short_patterns(size):
    text = "a" * (size - 1) + "b"
    cases = [
        ("*", True),
        ("*b", True),
        ("a*", True),
        ("b*", False),
        ("*a", False),
        ("a*b", True),
        ("*a*a*a*a*a*a*a*a*a*b", True),
        ("*a*a*a*a*a*a*a*a*a*c", False),
        ("*aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaac", False),
        ("?" * 40 + "*", True),
        ("[ab]*[!a]", True),
        ("{x,y,a}*{b,c}", True),
        ("*[!ab]*", False),
    ]
    times = {}
    for pattern, want in cases:
        got, seconds = _timed(tw.glob_match, pattern, text)
        assert got is want, pattern
        times[pattern] = round(seconds, 4)
    _report(f"glob_match on {size // MB} MB", worst=max(times.items(), key=lambda kv: kv[1]))


@pytest.mark.parametrize("size", [pytest.param(1 * MB, id="1MB"), pytest.param(10 * MB, id="10MB", marks=pytest.mark.slow)])
def test_huge_directive_text(size):
    name = "n" * size
    spec = f"  act : <k>{name} @ {'p' * size} = {'note ' * (size // 5)}"
    d, seconds = _timed(tw.parse, spec)
    assert (d.action, d.kind, len(d.name), len(d.path)) == ("act", "k", size, size)
    assert d.note == " " + "note " * (size // 5)
    assert d.matches([name], qualifier="k", scopes=["p" * size])
    timings = {"parse": round(seconds, 3)}
    # Other long shapes: every byte escaped, a long run of blanks, an
    # unclosed kind, no colon at all.
    for label, text, expect in [
        ("escapes", "a:" + "\\:" * (size // 2), lambda d: d.name == "\\:" * (size // 2)),
        ("blanks", " " * size + "a:b" + "\u3000" * (size // 3), lambda d: (d.action, d.name) == ("a", "b")),
        ("unclosed kind", "a:<" + "k" * size, lambda d: d.kind is None and len(d.name) == size + 1),
    ]:
        d, seconds = _timed(tw.parse, text)
        assert expect(d), label
        timings[label] = round(seconds, 3)
    with pytest.raises(tw.DirectiveError, match="no `:` found"):
        tw.parse("x" * size)
    _report(f"parse of a {size // MB} MB directive", **timings)


def _many_star_alternatives():
    """1024 alternatives of 50 stars each, built as one brace group."""
    alts = []
    for i in range(1024):
        tag = f"{i:04d}"
        # stars separating short literals; the tail after the last star is
        # long, so each restart of it re-reads several bytes
        alts.append("*a" * 49 + "*" + "a" * 8 + tag)
    return "{" + ",".join(alts) + "}"


@pytest.mark.slow
def test_1024_alternatives_of_50_stars_against_100k_texts():
    pattern = _many_star_alternatives()
    texts = {
        "all a": ("a" * 100_000, False),
        "last alternative": ("a" * 100_000 + "1023", True),
        "first alternative": ("a" * 99_996 + "0000", True),
        "no a": ("b" * 100_000, False),
    }
    times = {}
    for label, (text, want) in texts.items():
        got, seconds = _timed(tw.glob_match, pattern, text)
        assert got is want, label
        times[label] = round(seconds, 3)
    d = tw.parse("x:" + pattern)
    got, seconds = _timed(d.matches, [texts["all a"][0], texts["last alternative"][0]])
    assert got
    times["Directive.matches"] = round(seconds, 3)
    _report("1024 alternatives x 50 stars vs 100 KB", **times)


def test_few_alternatives_of_50_stars_against_text():
    pattern = "{" + ",".join("*a" * 49 + "*" + "a" * 8 + f"{i:04d}" for i in range(8)) + "}"
    assert tw.glob_match(pattern, "a" * 10_000 + "0007")
    assert not tw.glob_match(pattern, "a" * 10_000)


@pytest.mark.parametrize("groups", [2000, pytest.param(200_000, marks=pytest.mark.slow)])
def test_many_commaless_brace_groups(groups):
    pattern = "{a}" * groups
    text = "a" * groups
    assert tw.glob_match(pattern, text)
    assert not tw.glob_match(pattern, text + "a")
    assert not tw.glob_match(pattern, pattern)
    d = tw.parse("allow:" + pattern + "@" + "{p}" * groups)
    assert d.name == pattern
    assert d.matches([text], scopes=["p" * groups])
    # with commas, the product passes the cap at once: the text is literal
    over = "{a,b}" * groups
    assert tw.glob_match(over, over)
    assert not tw.glob_match(over, "a" * groups)


def _text_parameters():
    """Every text a public call takes, by (label, call taking the text)."""
    d = tw.parse("allow:<k>x@p")
    ladder = tw.Ladder(["a", "b"])
    return [
        ("parse spec", lambda s: tw.parse(s)),
        ("parse actions member", lambda s: tw.parse("a:b", actions={s})),
        ("glob_match pattern", lambda s: tw.glob_match(s, "x")),
        ("glob_match text", lambda s: tw.glob_match("*", s)),
        ("expand value", lambda s: tw.expand(s)),
        ("expand path", lambda s: tw.expand("@" + s)),
        ("expand actions member", lambda s: tw.expand("a:b", actions=frozenset({s}))),
        ("lint_fold current", lambda s: tw.lint_fold(s, [d], ["x"])),
        ("lint_fold names item", lambda s: tw.lint_fold("info", [d], ["x", s])),
        ("lint_fold qualifier", lambda s: tw.lint_fold("info", [d], ["x"], qualifier=s)),
        ("lint_fold scopes item", lambda s: tw.lint_fold("info", [d], ["x"], scopes=[s])),
        ("matches names item", lambda s: d.matches([s])),
        ("matches qualifier", lambda s: d.matches(["x"], qualifier=s)),
        ("matches scopes item", lambda s: d.matches(["x"], scopes=("p", s))),
        ("Ladder levels item", lambda s: tw.Ladder(["a", s])),
        ("position level", lambda s: ladder.position(s)),
        ("step level", lambda s: ladder.step(s, 1)),
        ("fold current", lambda s: ladder.fold(s, [d], ["x"])),
        ("fold names item", lambda s: ladder.fold("a", [d], [s])),
        ("fold qualifier", lambda s: ladder.fold("a", [d], ["x"], qualifier=s)),
        ("fold scopes item", lambda s: ladder.fold("a", [d], ["x"], scopes=[s])),
        ("fold steps key", lambda s: ladder.fold("a", [d], ["x"], steps={s: 1})),
        ("fold drop member", lambda s: ladder.fold("a", [d], ["x"], drop={s})),
    ]


@pytest.mark.parametrize("label, call", _text_parameters(), ids=[label for label, _ in _text_parameters()])
@pytest.mark.parametrize("text", ["\ud800", "a\udfffb", "x" * 100 + "\udc80"], ids=["high", "low", "late"])
def test_lone_surrogates_raise_unicode_encode_error(label, call, text):
    with pytest.raises(UnicodeEncodeError):
        call(text)


def test_nul_characters_in_directive_texts():
    d = tw.parse("de\0ny:<k\0ind>na\0me*@pa\0th=no\0te")
    assert (d.action, d.kind, d.name, d.path, d.note) == ("de\0ny", "k\0ind", "na\0me*", "pa\0th", "no\0te")
    assert str(d) == "de\0ny:<k\0ind>na\0me*@pa\0th=no\0te"
    assert d.matches(["na\0me-x"], qualifier="k\0ind", scopes=["pa\0th"])
    assert not d.matches(["na"], qualifier="k\0ind", scopes=["pa\0th"])
    assert tw.glob_match("a\0*", "a\0bc") and not tw.glob_match("a\0", "a")
    assert tw.Ladder(["a\0", "a"]).position("a") == 1
    [e] = tw.expand("x:\0")
    assert e.name == "\0"


def test_nul_characters_in_paths(tmp_path):
    path = str(tmp_path / "rules.txt")
    with pytest.raises(tw.DirectiveError) as ei:
        tw.expand("@" + path + "\0.txt")
    assert ei.value.args[0] == path + "\0.txt: file name contained an unexpected NUL byte"
    # NUL inside the content of a file is text like any other
    (tmp_path / "rules.txt").write_bytes(b"a\0:b\0@c\0=d\0\n")
    [d] = tw.expand("@" + path)
    assert (d.action, d.name, d.path, d.note) == ("a\0", "b\0", "c\0", "d\0")


def test_fifty_megabyte_file(tmp_path):
    """A 50 MB directive file loads whole, in a fresh process whose peak
    memory is reported."""
    path = tmp_path / "big.txt"
    line = "suppress:<lint>rule_{i:08d}_*@src/module_{i:08d}/*.py=generated by a long-running tool\n"
    lines_per_block = 1000
    block_bytes = sum(len(line.format(i=i)) for i in range(lines_per_block))
    blocks = (50 * MB) // block_bytes + 1
    with open(path, "w", encoding="utf-8") as f:
        f.write("# a large generated rule set\n\n")
        for b in range(blocks):
            f.write("".join(line.format(i=b * lines_per_block + i) for i in range(lines_per_block)))
    size = path.stat().st_size
    count = blocks * lines_per_block
    script = textwrap.dedent(
        f"""
        import json, sys, time
        from tarnwick import _tarnwick as tw

        def status_kb(field):  # this process's memory, from /proc (reset by exec)
            with open("/proc/self/status") as f:
                for row in f:
                    if row.startswith(field + ":"):
                        return int(row.split()[1])

        before = status_kb("VmRSS")
        start = time.perf_counter()
        out = tw.expand(sys.argv[1])
        seconds = time.perf_counter() - start
        last = out[-1]
        print(json.dumps({{
            "count": len(out), "seconds": seconds, "before_kb": before,
            "after_kb": status_kb("VmRSS"), "peak_kb": status_kb("VmHWM"),
            "first": str(out[0]), "last": [last.action, last.kind, last.name, last.path, last.note],
            "matches": last.matches(["rule_{count - 1:08d}_x"], qualifier="lint",
                                    scopes=["src/module_{count - 1:08d}/a.py"]),
        }}))
        """
    )
    proc = subprocess.run(
        [sys.executable, "-c", script, "@" + str(path)],
        capture_output=True,
        text=True,
        timeout=600,
        cwd=str(tmp_path),
    )
    assert proc.returncode == 0, proc.stderr
    out = json.loads(proc.stdout)
    assert out["count"] == count
    assert out["first"] == line.format(i=0).rstrip("\n")
    assert out["last"] == ["suppress", "lint", f"rule_{count - 1:08d}_*", f"src/module_{count - 1:08d}/*.py",
                           "generated by a long-running tool"]
    assert out["matches"] is True
    # Generous: the file, its records and the Directive objects, within a few
    # times the file size (ASan's redzones and quarantine aside).
    if not SANITIZED:
        assert (out["peak_kb"] - out["before_kb"]) * 1024 < 20 * size
    _report(
        "50 MB directive file",
        file_mb=round(size / MB, 1),
        directives=count,
        seconds=round(out["seconds"], 2),
        rss_before_mb=round(out["before_kb"] / 1024),
        rss_after_mb=round(out["after_kb"] / 1024),
        peak_rss_mb=round(out["peak_kb"] / 1024),
    )


test_fifty_megabyte_file = pytest.mark.slow(test_fifty_megabyte_file)


def test_small_generated_file_has_the_same_shape(tmp_path):
    path = tmp_path / "small.txt"
    path.write_text("".join(f"suppress:<lint>rule_{i}_*@src/m{i}/*.py=n\n" for i in range(2000)), encoding="utf-8")
    out = tw.expand(f"@{path}")
    assert len(out) == 2000 and out[-1].name == "rule_1999_*"
    path.write_bytes(path.read_bytes() + b"broken line\n")
    with pytest.raises(tw.DirectiveError, match=r":2001: expected `ACTION:"):
        tw.expand(f"@{path}")


SEQUENCE_PARAMETERS = [
    ("lint_fold names", lambda seq, d: tw.lint_fold("info", [d], seq)),
    ("lint_fold scopes", lambda seq, d: tw.lint_fold("info", [d], ["x"], scopes=seq)),
    ("lint_fold directives", lambda seq, d: tw.lint_fold("info", seq, ["x"])),
    ("lint_settings directives", lambda seq, d: tw.lint_settings(seq)),
    ("matches names", lambda seq, d: d.matches(seq)),
    ("matches scopes", lambda seq, d: d.matches(["x"], scopes=seq)),
    ("Ladder levels", lambda seq, d: tw.Ladder(seq)),
    ("fold directives", lambda seq, d: tw.Ladder(["a"]).fold("a", seq, ["x"])),
    ("fold names", lambda seq, d: tw.Ladder(["a"]).fold("a", [d], seq)),
    ("fold scopes", lambda seq, d: tw.Ladder(["a"]).fold("a", [d], ["x"], scopes=seq)),
]


def _items_for(label, d):
    return [d, d, d, d] if "directives" in label else ["x", "y", "z", "w"]


@pytest.mark.parametrize("label, call", SEQUENCE_PARAMETERS, ids=[label for label, _ in SEQUENCE_PARAMETERS])
def test_sequence_whose_iter_raises_midway(label, call):
    d = tw.parse("a:x")
    with pytest.raises(RuntimeError, match="midway"):
        call(IterRaisesMidway(_items_for(label, d)), d)


def _value(result):
    return result.levels if isinstance(result, tw.Ladder) else result


@pytest.mark.parametrize("label, call", SEQUENCE_PARAMETERS, ids=[label for label, _ in SEQUENCE_PARAMETERS])
def test_sequence_protocol_without_list(label, call):
    d = tw.parse("a:x=n")
    items = _items_for(label, d)
    assert _value(call(Seq(items), d)) == _value(call(list(items), d))


@pytest.mark.parametrize("label, call", SEQUENCE_PARAMETERS, ids=[label for label, _ in SEQUENCE_PARAMETERS])
def test_list_mutated_during_conversion(label, call):
    """The custom sequence empties its list after the first item and yields
    objects that only the conversion holds: the call uses what iteration
    gave, and nothing is freed under it."""
    d = tw.parse("a:x*=note")
    if "directives" in label:
        make = lambda k: tw.parse(f"a:{'x' if k % 2 else 'y'}*=made {k}")  # noqa: E731
        first = d
    else:
        make = lambda k: f"x-{k}-" + "z" * 20  # noqa: E731 - a fresh str each time
        first = "x"
    seq = MutatingSeq([first, "placeholder"], make)
    out = _value(call(seq, d))
    gc.collect()
    # the same call with the items that iteration produced
    produced = [first] + [make(k) for k in range(3)]
    assert out == _value(call(produced, d))


def test_iterator_yields_only_references(tmp_path):
    """A sequence whose iteration creates every item on the fly: the texts
    and Directive objects exist only inside the conversion."""

    class Fresh(Seq):
        def __init__(self, make, n):
            super().__init__([None] * n)
            self.make = make

        def __iter__(self):
            for k in range(len(self.items)):
                yield self.make(k)

    names = Fresh(lambda k: f"name_{k}_" + "x" * 50, 50)
    directives = Fresh(lambda k: tw.parse(f"note:name_{k}_*=note {k}"), 50)
    severity, dropped, notes = tw.lint_fold("info", directives, names)
    assert (severity, dropped) == ("info", False)
    assert notes == [f"note {k}" for k in range(50)]
    level, dropped, notes = tw.Ladder(["a"]).fold("a", directives, names, steps={"note": 1})
    assert len(notes) == 50


@pytest.mark.parametrize(
    "exc_type, expected",
    [(ValueError, ValueError), (KeyError, KeyError), (TypeError, TypeError), (OverflowError, OverflowError)],
)
def test_index_that_raises(exc_type, expected):
    ladder = tw.Ladder(["a", "b"])
    with pytest.raises(expected):
        ladder.step("a", RaisingIndex(exc_type))
    with pytest.raises(expected):
        ladder.fold("a", [], ["x"], steps={"v": RaisingIndex(exc_type)})


def test_index_results():
    ladder = tw.Ladder(["a", "b", "c"])
    assert ladder.step("a", Index(2)) == "c"
    assert ladder.step("c", Index(-(2**31))) == "a"
    with pytest.raises(OverflowError):
        ladder.step("a", Index(2**31))

    class BadIndex:
        def __index__(self):
            return "1"

    with pytest.raises(TypeError):
        ladder.step("a", BadIndex())


def test_index_that_changes_the_steps_dict():
    """Converting one value runs __index__, which changes the dict being
    converted: the conversion works on what it took first."""
    d = tw.parse("up:x")
    steps = {}

    class Mutator:
        def __index__(self):
            steps.clear()
            steps.update({f"k{i}": i for i in range(100)})
            return 1

    steps.update({"up": Mutator(), "down": -1})
    level, dropped, notes = tw.Ladder(["a", "b"]).fold("a", [d], ["x"], steps=steps)
    assert level == "b"


def test_str_subclass_with_odd_eq():
    """Texts are compared by their UTF-8 bytes; a subclass's __eq__ and
    __hash__ are never consulted."""
    ladder = tw.Ladder([OddEqStr("a"), "b"])
    assert ladder.levels == ["a", "b"] and type(ladder.levels[0]) is str
    assert ladder.position(OddEqStr("b")) == 1
    assert ladder.position(OddEqStr("zzz")) is None
    assert ladder.step(RaisingEqStr("a"), 1) == "b"
    with pytest.raises(tw.DirectiveError, match=r'unknown action "deny"'):
        tw.parse("deny:x", actions={OddEqStr("allow")})
    assert tw.parse(RaisingEqStr("allow:x"), actions={RaisingEqStr("allow")}).action == "allow"
    d = tw.parse("up:<k>x@p")
    assert d.matches([RaisingEqStr("x")], qualifier=RaisingEqStr("k"), scopes=[RaisingEqStr("p")])
    assert not d.matches([OddEqStr("y")], qualifier=OddEqStr("k"), scopes=[OddEqStr("p")])
    assert not d.matches(["x"], qualifier=OddEqStr("K"), scopes=["p"])
    level, dropped, _ = ladder.fold(
        "a", [d], ["x"], qualifier="k", scopes=["p"], steps={RaisingEqStr("up"): 1}, drop={OddEqStr("nope")}
    )
    assert (level, dropped) == ("b", False)
    assert tw.lint_fold(OddEqStr("Error"), [], ["x"]) == ("error", False, [])
    assert tw.glob_match(OddEqStr("a*"), RaisingEqStr("abc"))


# --------------------------------------------------------------------------
# 7. Subinterpreters.

_SUBINTERP_CODE = textwrap.dedent(
    """
    import json
    out = {{}}
    try:
        import tarnwick._tarnwick as m
    except ImportError as e:
        out["import"] = "ImportError: " + str(e)
    else:
        out["import"] = "loaded"
        out["same"] = [id(m.DirectiveError) == {error}, id(m.Directive) == {directive}, id(m.Ladder) == {ladder}]
        d = m.parse("deny:<fn>foo*@src/*=legacy API")
        out["parse"] = [str(d), type(d) is m.Directive]
        out["glob"] = m.glob_match("{{a,b}}*", "bcd")
        out["expand"] = [str(x) for x in m.expand({value!r})]
        out["lint"] = list(m.lint_fold("warning", [d, m.parse("escalate:foo=n")], ["foo"]))
        out["ladder"] = list(m.Ladder(["a", "b"]).fold("a", [d], ["foo"], qualifier="fn",
                                                       scopes=["src/x"], steps={{"deny": 1}}))
        try:
            m.parse("x")
        except m.DirectiveError as e:
            out["error"] = [type(e) is m.DirectiveError, isinstance(e, ValueError)]
    with open({result!r}, "w") as f:
        json.dump(out, f)
    """
)


def _subinterp_code(tmp_path):
    rules = tmp_path / "rules.txt"
    rules.write_text("suppress:a\nnote:b=c\n", encoding="utf-8")
    result = tmp_path / "result.json"
    code = _SUBINTERP_CODE.format(
        error=id(tw.DirectiveError),
        directive=id(tw.Directive),
        ladder=id(tw.Ladder),
        value=f"@{rules}",
        result=str(result),
    )
    return code, result


def _assert_loaded_and_shared(result):
    out = json.loads(result.read_text())
    assert out["import"] == "loaded"
    assert out["same"] == [True, True, True]
    assert out["parse"] == ["deny:<fn>foo*@src/*=legacy API", True]
    assert out["glob"] is True
    assert out["expand"] == ["suppress:a", "note:b=c"]
    assert out["lint"] == ["error", False, ["n"]]
    assert out["ladder"] == ["b", False, ["legacy API"]]
    assert out["error"] == [True, True]


def _assert_refused(result):
    out = json.loads(result.read_text())
    assert out["import"].startswith("ImportError: ")
    assert "subinterpreters" in out["import"]


def test_legacy_subinterpreter_testcapi(tmp_path):
    """A legacy subinterpreter (shares the main GIL) loads the module, and its
    module object shares the process's class and exception objects."""
    _testcapi = pytest.importorskip("_testcapi")
    if not hasattr(_testcapi, "run_in_subinterp"):
        pytest.skip("no _testcapi.run_in_subinterp")
    code, result = _subinterp_code(tmp_path)
    assert _testcapi.run_in_subinterp(code) == 0
    _assert_loaded_and_shared(result)
    # and the main interpreter's objects still work afterwards
    assert str(tw.parse("a:b")) == "a:b"


def test_legacy_subinterpreter_repeated(tmp_path):
    _testcapi = pytest.importorskip("_testcapi")
    if not hasattr(_testcapi, "run_in_subinterp"):
        pytest.skip("no _testcapi.run_in_subinterp")
    code, result = _subinterp_code(tmp_path)
    for _ in range(5):
        assert _testcapi.run_in_subinterp(code) == 0
        _assert_loaded_and_shared(result)
    gc.collect()
    assert tw.lint_fold("info", [tw.parse("escalate:x")], ["x"]) == ("warning", False, [])


def _interpreters_module():
    """The low-level interpreters module of 3.12 or 3.13, or None."""
    for name in ("_interpreters", "_xxsubinterpreters"):
        try:
            return __import__(name)
        except ImportError:
            pass
    return None


def _run_in_new_interpreter(interpreters, isolated, code):
    """Runs `code` in a new subinterpreter: isolated (its own GIL) or legacy
    (sharing the main GIL), with the 3.13 or the 3.12 interpreters API."""
    if hasattr(interpreters, "new_config"):  # 3.13
        interp = interpreters.create("isolated" if isolated else "legacy")
        run = interpreters.exec
    else:  # 3.12: create() makes an isolated interpreter by default
        interp = interpreters.create(isolated=isolated)
        run = interpreters.run_string
    try:
        run(interp, code)
    finally:
        interpreters.destroy(interp)


@pytest.mark.skipif(sys.version_info < (3, 12), reason="per-interpreter GIL from 3.12 on")
def test_isolated_subinterpreter_with_own_gil_refuses_import(tmp_path):
    interpreters = _interpreters_module()
    if interpreters is None:
        pytest.skip("no interpreters module")
    code, result = _subinterp_code(tmp_path)
    _run_in_new_interpreter(interpreters, isolated=True, code=code)
    _assert_refused(result)


@pytest.mark.skipif(sys.version_info < (3, 12), reason="per-interpreter GIL from 3.12 on")
def test_isolated_subinterpreter_with_own_gil_refuses_import_testcapi(tmp_path):
    _testcapi = pytest.importorskip("_testcapi")
    run = getattr(_testcapi, "run_in_subinterp_with_config", None)
    if run is None:
        pytest.skip("no _testcapi.run_in_subinterp_with_config")
    code, result = _subinterp_code(tmp_path)
    config = dict(
        use_main_obmalloc=False,
        allow_fork=False,
        allow_exec=False,
        allow_threads=True,
        allow_daemon_threads=False,
        check_multi_interp_extensions=True,
    )
    try:
        rc = run(code, **config, gil=2)  # 3.12: PyInterpreterConfig_OWN_GIL
    except TypeError:
        try:
            rc = run(code, **config, own_gil=True)
        except TypeError:
            pytest.skip("unknown run_in_subinterp_with_config signature")
    assert rc == 0
    _assert_refused(result)


@pytest.mark.skipif(sys.version_info < (3, 12), reason="interpreters module with legacy configs from 3.12 on")
def test_legacy_subinterpreter_interpreters_module(tmp_path):
    interpreters = _interpreters_module()
    if interpreters is None:
        pytest.skip("no interpreters module")
    code, result = _subinterp_code(tmp_path)
    _run_in_new_interpreter(interpreters, isolated=False, code=code)
    _assert_loaded_and_shared(result)


def test_module_declares_no_multiple_interpreters_slot():
    """The module must not opt in to per-interpreter GIL sharing (it shares
    its class objects), and on 3.10/3.11 any unknown slot breaks the import:
    the definition has exactly the one exec slot. Checked through a second
    load of the same file, which succeeds only if the definition is sound."""
    import importlib.machinery
    import importlib.util

    loader = importlib.machinery.ExtensionFileLoader("_tarnwick", tw.__file__)
    spec = importlib.util.spec_from_file_location("_tarnwick", tw.__file__, loader=loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    assert module is not tw
    assert module.DirectiveError is tw.DirectiveError
    assert module.Directive is tw.Directive and module.Ladder is tw.Ladder
    assert module.__all__ == tw.__all__
