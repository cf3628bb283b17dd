"""Hostile Python objects, reference leaks, threads, subinterpreters, concurrent imports and huge
inputs; the first three walk every entry point from the table in entry_points.py."""
import gc
import json
import os
import subprocess
import sys
import tempfile
import threading
import tracemalloc
import types

import pytest

from entry_points import ALL_PARAMS, KIND, PARAMS, WRONG, Liar, call_of, fresh, invoke, norm
from helpers import Index, fields
from tarnwick import _tarnwick as tw

# Under the sanitizers only reference counts are checked: ASan keeps freed memory in quarantine, and
# CPython 3.11's tracemalloc leaks its own records, which LeakSanitizer would report.
SANITIZED = bool(os.environ.get("TARNWICK_SANITIZED"))
since_312 = pytest.mark.skipif(sys.version_info < (3, 12), reason="3.12+")


def _rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


# -- hostile objects: Python code that runs in the middle of a conversion


class Hostile(RuntimeError):
    pass


def _raise(ctx=None):
    raise Hostile("raised in a conversion")


def _drop_earlier(values, order, param):
    """Empties the containers given before `param`: only the binding still holds their items."""
    for p in order[: order.index(param) + 1]:
        v = values.get(p)
        if isinstance(v, (list, set, dict)) and (p != param or isinstance(v, dict)):
            v.clear()
    gc.collect()


ACTIONS = {  # what the hostile object does, once, halfway through
    "raise": _raise, "reenter": lambda ctx: invoke(ctx["entry"]),
    "drop": lambda ctx: _drop_earlier(ctx["values"], ctx["order"], ctx["param"]),
}


def _copy(item):
    return tw.parse(str(item)) if isinstance(item, tw.Directive) else fresh(item)


def _plain_copy(v):
    if isinstance(v, (list, set)):
        return type(v)(_copy(i) for i in v)
    return {_copy(k): val for k, val in v.items()} if isinstance(v, dict) else v


class _Carrier:
    """Empties itself, then yields fresh copies of its items, running the action after the first."""

    def __init__(self, items, act):
        self._base.__init__(self, items)
        self.act = act

    def __iter__(self):
        items = list(self._base.__iter__(self))
        self.clear()
        for k, item in enumerate(items):
            if k == min(1, len(items) - 1):
                self.act()
            yield _copy(item)


HostileList = type("HostileList", (_Carrier, list), {"_base": list})
HostileSet = type("HostileSet", (_Carrier, set), {"_base": set})
CARRIERS = {  # kind -> how a good value carries an action into its conversion
    "texts": HostileList, "directives": HostileList, "set": HostileSet, "int": Index,
    "map": lambda good, act: {k: Index(v, act) for k, v in good.items()},
}
HOSTILE = [(e, p, a) for e, p in ALL_PARAMS if KIND[p] in CARRIERS for a in ACTIONS]


@pytest.mark.parametrize("entry,param,action", HOSTILE, ids=["-".join(c) for c in HOSTILE])
def test_hostile_objects(entry, param, action):
    req, opt = PARAMS[entry]
    fn, _, plain = call_of(entry, keywords=True)
    if KIND[param] in ("texts", "directives"):  # two items: one is taken before the action runs
        plain[param].append(_copy(plain[param][-1]))
    hostile = {p: _plain_copy(v) for p, v in plain.items()}
    expected = fn(**plain)
    ctx = {"entry": entry, "values": hostile, "order": req + opt, "param": param}
    hostile[param] = CARRIERS[KIND[param]](hostile[param], lambda: ACTIONS[action](ctx))
    if action == "raise":
        with pytest.raises(Hostile):
            fn(**hostile)
    else:
        assert norm(fn(**hostile)) == norm(expected)


@pytest.mark.parametrize("raises", [False, True])
def test_numpy_bool_check_survives_a_lazy_numpy_proxy(monkeypatch, raises):
    # The proxy replaces itself in sys.modules, dropping its last reference, mid-lookup.
    real = types.ModuleType("numpy")
    real.bool_ = type("bool_", (), {})

    class LazyProxy(types.ModuleType):
        def __getattr__(self, name):
            sys.modules["numpy"] = real
            return getattr(real, "missing" if raises else name)

    for notes in (0, Liar()):
        monkeypatch.setitem(sys.modules, "numpy", LazyProxy("numpy"))
        with pytest.raises(TypeError, match="notes"):
            tw.Ladder(["a", "b"]).fold("a", [], ["x"], notes=notes)


# -- reference leaks and memory: every entry point, on success and on each kind of failure

RAISING = Index(1, _raise)
FAILURES = {  # kind -> (label, bad value, exception), besides a wrong type
    # a lone surrogate at the start, inside and at the end of a text, and after a long ASCII run
    "text": [("surrogate", "\ud800x", UnicodeEncodeError)],
    "texts": [("surrogate", ["a", "a\udfffb"], UnicodeEncodeError)],
    "set": [("surrogate", {"x" * 100 + "\udc80"}, UnicodeEncodeError)],
    "map": [("surrogate", {"\udc80": 1}, UnicodeEncodeError), ("overflow", {"note": -(2**40)}, OverflowError),
            ("__index__ raises", {"note": RAISING}, Hostile)],
    "int": [("overflow", 2**31, OverflowError), ("__index__ overflows", Index(-(2**31) - 1), OverflowError),
            ("__index__ raises", RAISING, Hostile)],
}


def _leak_cases(tmp_dir):  # (label, callable, args, kwargs, expected exception or None)
    cases = []
    for entry in PARAMS:
        cases += [(entry, *call_of(entry), None), (entry + " by keyword", *call_of(entry, keywords=True), None),
                  (entry + " unknown keyword", *call_of(entry, {"bogus": 1}), TypeError)]
    for entry, param in ALL_PARAMS:
        wrong = [("wrong type", WRONG[KIND[param]](), TypeError), ("liar", Liar(), TypeError)]
        for label, bad, exc in wrong + FAILURES.get(KIND[param], []):
            cases.append((f"{entry} {param} {label}", *call_of(entry, {param: bad}), exc))
    bad = tmp_dir / "bad.txt"
    bad.write_text("allow:x\nallow:\n", encoding="utf-8")
    d = tw.parse("deny:<fn>foo*@src/*=legacy API")
    DE = tw.DirectiveError
    return cases + [
        ("parse malformed", tw.parse, ("allow",), {}, DE),
        ("parse refused action", tw.parse, ("nope:x",), {"actions": {"allow"}}, DE),
        ("expand missing file", tw.expand, (f"@{tmp_dir / 'missing.txt'}",), {}, DE),
        ("expand bad line", tw.expand, (f"@{bad}",), {}, DE),
        ("expand refused action", tw.expand, ("a:b",), {"actions": frozenset()}, DE),
        ("lint_fold severity", tw.lint_fold, ("fatal", [d], ["x"]), {}, DE),
        ("Directive()", tw.Directive, (), {}, TypeError),
        ("Directive getters, str, repr", lambda: (fields(d), str(d), repr(d)), (), {}, None),
        ("Ladder.levels", lambda ladder: ladder.levels, (tw.Ladder(["a", "b"]),), {}, None),
    ]


def _tracked(args, kwargs):
    """The arguments and their items, but not numbers, None and booleans, which everything shares."""
    out = [*args, *kwargs.values()]
    out += [i for o in out if isinstance(o, (list, tuple, set, frozenset, dict)) for i in o]
    out += [v for o in out if isinstance(o, dict) for v in o.values()]
    return [o for o in out if not isinstance(o, (int, float, type(None)))]


def _loop(fn, args, kwargs, exc, n):
    for _ in range(n):
        try:
            fn(*args, **kwargs)
        except Exception as e:  # noqa: BLE001 - checked against the expectation
            if exc is None or not isinstance(e, exc):
                raise
        else:
            assert exc is None, f"{fn!r} did not raise {exc.__name__}"


def _leak_check(case, n, check_rss):
    label, fn, args, kwargs, exc = case
    _loop(fn, args, kwargs, exc, 200)  # warm up: lazily created types, caches
    tracked = _tracked(args, kwargs)
    gc.collect()
    refs_before = [sys.getrefcount(o) for o in tracked]
    traced_before, rss_before = tracemalloc.get_traced_memory()[0], _rss()
    _loop(fn, args, kwargs, exc, n)
    gc.collect()
    rss_growth = _rss() - rss_before
    traced_growth = tracemalloc.get_traced_memory()[0] - traced_before
    refs_after = [sys.getrefcount(o) for o in tracked]
    del tracked
    assert refs_after == refs_before, f"{label}: reference counts of the arguments changed"
    if tracemalloc.is_tracing() and traced_growth >= max(8192, n // 4):
        # A leaked object per call costs dozens of bytes; a cache or free list grows once, a leak again.
        again = tracemalloc.get_traced_memory()[0]
        _loop(fn, args, kwargs, exc, n)
        gc.collect()
        traced_growth = tracemalloc.get_traced_memory()[0] - again
        assert traced_growth < max(8192, n // 4), f"{label}: traced memory grew by {traced_growth} bytes"
    if check_rss and not SANITIZED:
        assert rss_growth < 2 * 1024 * 1024, f"{label}: RSS grew by {rss_growth} bytes"


@pytest.fixture(scope="module")
def leak_cases(tmp_path_factory):
    return _leak_cases(tmp_path_factory.mktemp("leaks"))


@pytest.fixture
def traced():
    start = not SANITIZED and not tracemalloc.is_tracing()
    start and tracemalloc.start()
    yield
    start and tracemalloc.stop()


@pytest.mark.parametrize("n", [2000, pytest.param(100_000, marks=pytest.mark.slow)])
def test_no_leaks(leak_cases, traced, n):
    for case in leak_cases:
        _leak_check(case, n, check_rss=n > 2000)


def test_leak_check_detects_a_leak(traced):
    sink = []
    with pytest.raises(AssertionError, match="reference counts"):
        _leak_check(("keeps its argument", sink.append, (["x"],), {}, None), 2000, check_rss=False)


# -- threads: every entry point from the table, eight threads switching as often as the interpreter allows


@pytest.mark.parametrize("rounds", [3, pytest.param(50, marks=pytest.mark.slow)])
def test_threads(leak_cases, rounds, nthreads=8):
    def one(case):
        _, fn, args, kwargs, _ = case
        try:
            return norm(fn(*args, **kwargs))
        except Exception as e:  # noqa: BLE001 - compared below
            return type(e).__name__

    expected, barrier, got = [one(c) for c in leak_cases], threading.Barrier(nthreads), {}

    def worker(t):  # each thread starts at a different case
        barrier.wait()
        got[t] = [one(leak_cases[(t + i) % len(leak_cases)]) for i in range(rounds * len(leak_cases))]

    old = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)
    try:
        threads = [threading.Thread(target=worker, args=(t,)) for t in range(nthreads)]
        [th.start() for th in threads], [th.join() for th in threads]
    finally:
        sys.setswitchinterval(old)
    for t in range(nthreads):
        assert got[t] == [expected[(t + i) % len(expected)] for i in range(rounds * len(expected))]


# -- subinterpreters: a legacy one shares the process's classes; one with its own GIL refuses the import

SUBINTERP = """
import json
try:
    import tarnwick._tarnwick as m
except ImportError as e:
    out = "ImportError: " + str(e)
else:
    d = m.parse("deny:<fn>foo*@src/*=legacy API")
    out = [[id(m.DirectiveError), id(m.Directive), id(m.Ladder)], str(d), [str(x) for x in m.expand("@" + RULES)],
           list(m.lint_fold("warning", [d, m.parse("escalate:foo=n")], ["foo"])), m.lint_settings([m.parse("set:k=v")]),
           list(m.Ladder(["a", "b"]).fold("a", [d], ["foo"], qualifier="fn", scopes=["src/x"], steps={"deny": 1}))]
    try:
        m.parse("x")
    except ValueError as e:
        out.append(type(e) is m.DirectiveError)
with open(RESULT, "w") as f:
    json.dump(out, f)
"""


def _run_interpreters(isolated, code):
    interpreters = pytest.importorskip("_interpreters" if sys.version_info >= (3, 13) else "_xxsubinterpreters")
    if hasattr(interpreters, "new_config"):  # 3.13
        interp, run = interpreters.create("isolated" if isolated else "legacy"), interpreters.exec
    else:  # 3.12: create() makes an isolated interpreter by default
        interp, run = interpreters.create(isolated=isolated), interpreters.run_string
    try:
        run(interp, code)
    finally:
        interpreters.destroy(interp)


def _run_testcapi(isolated, code):
    for _ in range(3):  # again and again: the shared classes survive each one
        assert pytest.importorskip("_testcapi").run_in_subinterp(code) == 0


@pytest.mark.parametrize("run,isolated", [
    (_run_testcapi, False), pytest.param(_run_interpreters, False, marks=since_312),
    pytest.param(_run_interpreters, True, marks=since_312),
], ids=["testcapi-legacy", "interpreters-legacy", "interpreters-own-gil"])
def test_subinterpreters(tmp_path, run, isolated):
    (tmp_path / "rules.txt").write_text("suppress:a\nnote:b=c\n", encoding="utf-8")
    result = tmp_path / "result.json"
    run(isolated, f"RULES, RESULT = {str(tmp_path / 'rules.txt')!r}, {str(result)!r}\n" + SUBINTERP)
    out = json.loads(result.read_text())
    if isolated:
        assert out.startswith("ImportError: ") and "subinterpreters" in out
    else:
        assert out == [[id(tw.DirectiveError), id(tw.Directive), id(tw.Ladder)], "deny:<fn>foo*@src/*=legacy API",
                       ["suppress:a", "note:b=c"], ["error", False, ["n"]], [["k", "v"]],
                       ["b", False, ["legacy API"]], True]
    assert str(tw.parse("a:b")) == "a:b"  # and the main interpreter carries on


# -- the classes are created once per process, even when 16 threads race to import the module first

IMPORT_RACE = """
import importlib.machinery, importlib.util, json, sys, threading
path, modules, errors, barrier = sys.argv[1], [], [], threading.Barrier(16)
sys.setswitchinterval(1e-6)
def load():
    try:
        loader = importlib.machinery.ExtensionFileLoader("_tarnwick", path)
        spec = importlib.util.spec_from_file_location("_tarnwick", path, loader=loader)
        barrier.wait()
        module = importlib.util.module_from_spec(spec)
        modules.append(module)
        spec.loader.exec_module(module)
    except BaseException as e:
        errors.append(repr(e))
threads = [threading.Thread(target=load) for i in range(16)]
[t.start() for t in threads], [t.join() for t in threads]
import tarnwick._tarnwick as imported
everyone = modules + [imported]
print(json.dumps([errors, len({id(m) for m in everyone})] + [len(set(ids)) for ids in (
    [id(m.DirectiveError) for m in everyone], [id(m.Directive) for m in everyone],
    [id(m.Ladder) for m in everyone], [id(type(m.parse("a:b"))) for m in everyone] + [id(imported.Directive)])]))
"""


@pytest.mark.parametrize("processes", [2, pytest.param(20, marks=pytest.mark.slow)])
def test_first_use_race_at_import_yields_one_object_each(processes):
    # 17 module objects from one definition, all sharing one set of classes
    for _ in range(processes):
        proc = subprocess.run([sys.executable, "-c", IMPORT_RACE, tw.__file__], capture_output=True, text=True,
                              timeout=120, cwd=tempfile.gettempdir())
        assert proc.returncode == 0, proc.stderr
        assert json.loads(proc.stdout) == [[], 17, 1, 1, 1, 1]


# -- huge and odd inputs

@pytest.mark.parametrize("size", [2**20, pytest.param(10 * 2**20, marks=pytest.mark.slow)])
def test_huge_directive_text(size):
    name = "n" * size
    d = tw.parse(f"  act : <k>{name} @ {'p' * size} = {'note ' * (size // 5)}")
    assert fields(d) == ("act", "k", name, "p" * size, " " + "note " * (size // 5))
    assert d.matches([name], qualifier="k", scopes=["p" * size])
    assert tw.parse("a:" + "\\:" * (size // 2)).name == "\\:" * (size // 2)
    assert fields(tw.parse(" " * size + "a:b" + "\u3000" * (size // 3)))[:3] == ("a", None, "b")
    assert len(tw.parse("a:<" + "k" * size).name) == size + 1  # an unclosed kind is part of the name
    with pytest.raises(tw.DirectiveError, match="no `:` found"):
        tw.parse("x" * size)


def test_nul_characters(tmp_path):  # text like any other, in memory and in a file
    d = tw.parse("de\0ny:<k\0ind>na\0me*@pa\0th=no\0te")
    assert (fields(d), str(d)) == (("de\0ny", "k\0ind", "na\0me*", "pa\0th", "no\0te"), "de\0ny:<k\0ind>na\0me*@pa\0th=no\0te")
    assert d.matches(["na\0me-x"], qualifier="k\0ind", scopes=["pa\0th"])
    assert not d.matches(["na"], qualifier="k\0ind", scopes=["pa\0th"])
    assert tw.Ladder(["a\0", "a"]).position("a") == 1
    (tmp_path / "rules.txt").write_bytes(b"a\0:b\0@c\0=d\0\n")
    assert [fields(d) for d in tw.expand(f"@{tmp_path / 'rules.txt'}")] == [("a\0", None, "b\0", "c\0", "d\0")]


HALF_BUILT = """
import gc
from tarnwick import _tarnwick as tw
ds = [tw.parse(f"set:k{i}=v") for i in range(200)]
def look(phase, _):
    if phase == "start":
        [list(o) for o in gc.get_objects() if type(o) is list and len(o) == 200 and o is not ds]
gc.callbacks.append(look)
gc.set_threshold(1, 1, 1)
print(all(len(tw.lint_settings(ds)) == 200 for _ in range(50)))
"""


def test_results_are_never_seen_half_built():
    # A garbage collection started while a result list is filled runs callbacks
    # that can reach the list: it must never hold a missing item.
    run = subprocess.run([sys.executable, "-c", HALF_BUILT], capture_output=True, text=True, timeout=120)
    assert (run.returncode, run.stdout) == (0, "True\n"), run.stderr
