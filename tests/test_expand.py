"""expand: inline -D values, @file directive files and @- (stdin)."""

import json
import os
import select
import signal
import subprocess
import sys
import time

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from tarnwick import _tarnwick as tw

NO_COLON = "expected `ACTION:…` (no `:` found)"
EMPTY_NAME = "empty name pattern"
EMPTY_ACTION = "empty action"
EQ_FIRST = "`=` appeared before the action `:`"
EMPTY_KIND = "empty `<>` kind filter"
NOT_UTF8 = "stream did not contain valid UTF-8"
BOM = b"\xef\xbb\xbf"


def fields(d):
    return (d.action, d.kind, d.name, d.path, d.note)


def error_of(value, **kw):
    with pytest.raises(tw.DirectiveError) as ei:
        tw.expand(value, **kw)
    assert len(ei.value.args) == 1
    return ei.value.args[0]


@pytest.fixture
def rules(tmp_path, monkeypatch):
    """Write `rules.txt` in a fresh cwd and expand `@rules.txt`."""
    monkeypatch.chdir(tmp_path)

    def run(data, **kw):
        (tmp_path / "rules.txt").write_bytes(data if isinstance(data, bytes) else data.encode())
        return tw.expand("@rules.txt", **kw)

    return run


def error_of_rules(rules, data):
    with pytest.raises(tw.DirectiveError) as ei:
        rules(data)
    return ei.value.args[0]


# ---------------------------------------------------------------- inline values

def test_inline_value_is_one_directive():
    out = tw.expand("deny:<fn>foo*@src/*=legacy API")
    assert type(out) is list and len(out) == 1
    assert type(out[0]) is tw.Directive
    assert fields(out[0]) == ("deny", "fn", "foo*", "src/*", "legacy API")


@pytest.mark.parametrize("value, expected", [
    ("#", NO_COLON), ("", NO_COLON), ("\ufeff", NO_COLON), ("allow:", EMPTY_NAME), ("x=y:z", EQ_FIRST),
])
def test_inline_parse_errors_are_prefixed(value, expected):
    assert error_of(value) == "<inline>: " + expected


@pytest.mark.parametrize("value, expected", [
    # not a comment, not blank, not split into lines, no BOM removal
    ("# allow:x", ("# allow", None, "x", None, None)),
    ("\ufeffallow:x", ("\ufeffallow", None, "x", None, None)),
    ("allow:x\ndeny:y", ("allow", None, "x\ndeny:y", None, None)),
    ("  allow:x= n  ", ("allow", None, "x", None, " n  ")),
])
def test_inline_is_handed_to_the_parser_whole(value, expected):
    [d] = tw.expand(value)
    assert fields(d) == expected


# ---------------------------------------------------------------- file format

@pytest.mark.parametrize("body, expected", [
    ("# c\n\nallow:\n", "rules.txt:3: " + EMPTY_NAME),
    ("  # x\n\t\n\u00a0\u3000\nallow:a\nallow:\n", "rules.txt:5: " + EMPTY_NAME),
    ("# c\rallow:\nallow:\n", "rules.txt:2: " + EMPTY_NAME),  # lone CR is no break
    ("allow:a\n:x\nallow:\n=:\n", "rules.txt:2: " + EMPTY_ACTION),  # first bad line wins
    ("allow:a\nallow:<>b", "rules.txt:2: " + EMPTY_KIND),  # final line without LF
    ("\u200b# not a comment\n", "rules.txt:1: " + NO_COLON),  # U+200B is no White_Space
    ("\x1c# not a comment\n", "rules.txt:1: " + NO_COLON),  # nor is U+001C
])
def test_line_numbers_count_every_line(rules, body, expected):
    for data in (body.encode(), BOM + body.encode()):
        assert error_of_rules(rules, data) == expected


def test_only_one_leading_bom_is_skipped(rules):
    assert [fields(d) for d in rules(BOM + b"allow:a\n")] == [("allow", None, "a", None, None)]
    assert error_of_rules(rules, BOM + BOM + b"# c\n") == "rules.txt:1: " + NO_COLON
    [d] = rules(b"# c\n" + BOM + b"allow:a\n")
    assert d.action == "\ufeffallow"


@pytest.mark.parametrize("body, expected", [
    ("allow:x\rallow:\n", [("allow", None, "x\rallow:", None, None)]),
    ("allow:a= n \n", [("allow", None, "a", None, " n")]),  # line trim eats the note's tail
    ("\u00a0\u3000allow:a=n\u3000\u00a0\r", [("allow", None, "a", None, "n")]),
    ("allow:\U0001f600@\U0010ffff", [("allow", None, "\U0001f600", "\U0010ffff", None)]),
])
def test_file_contents(rules, body, expected):
    assert [fields(d) for d in rules(body)] == expected


# ---------------------------------------------------------------- I/O errors

def test_missing_file_and_directory(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "sub").mkdir()
    (tmp_path / "rules.txt").write_text("allow:x\n")
    (tmp_path / " rules.txt").write_text("deny:y\n")
    assert error_of("@nope.txt") == "nope.txt: No such file or directory (os error 2)"
    assert error_of("@./sub/../nope") == "./sub/../nope: No such file or directory (os error 2)"
    assert error_of("@-x") == "-x: No such file or directory (os error 2)"
    assert error_of("@- ") == "- : No such file or directory (os error 2)"
    assert error_of("@sub") == "sub: Is a directory (os error 21)"
    absent = f"{tmp_path}/nope"
    assert error_of("@" + absent) == absent + ": No such file or directory (os error 2)"
    # the path is verbatim: a leading blank is part of the file name; before the "@" it makes an inline value
    assert [fields(d) for d in tw.expand("@ rules.txt")] == [("deny", None, "y", None, None)]
    assert error_of(" @rules.txt") == "<inline>: " + NO_COLON


def test_empty_path_and_path_with_nul():
    msg = error_of("@")
    assert msg.startswith(": ") and msg.endswith("(os error 2)")
    assert error_of("@a\x00b") == "a\x00b: file name contained an unexpected NUL byte"


@pytest.mark.parametrize("bad", [b"\xff", b"\x80", b"\xc0\xaf", b"\xed\xa0\x80", b"\xf4\x90\x80\x80", b"\xe2\x82"])
def test_invalid_utf8_fails_whole_file(rules, bad):
    # valid lines (even a malformed one) before the bad bytes do not matter
    for data in (b"allow:a\ndeny:b\n# " + bad + b"\n", b"allow:\n" + bad, b"allow:a\n\xe2\x82\xac" + bad):
        assert error_of_rules(rules, data) == "rules.txt: " + NOT_UTF8


@pytest.mark.skipif(not hasattr(os, "geteuid") or os.geteuid() == 0, reason="root reads anything")
def test_permission_denied(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    p = tmp_path / "secret.txt"
    p.write_text("allow:x\n")
    p.chmod(0)
    try:
        assert error_of("@secret.txt") == "secret.txt: Permission denied (os error 13)"
    finally:
        p.chmod(0o600)


# ---------------------------------------------------------------- @- (stdin)

EXPAND_SCRIPT = """
import json, sys
from tarnwick import _tarnwick as tw
try:
    out = {"ok": [[d.action, d.kind, d.name, d.path, d.note, origin] for d, origin in tw.expand_sourced(sys.argv[1])]}
except tw.DirectiveError as e:
    out = {"err": e.args[0]}
print(json.dumps(out), flush=True)
"""


ENV = dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(os.path.abspath(tw.__file__))))


def run_stdin(tmp_path, data):
    proc = subprocess.run([sys.executable, "-c", EXPAND_SCRIPT, "@-"], input=data, cwd=tmp_path,
                          env=ENV, capture_output=True, timeout=120)
    assert proc.returncode == 0, proc.stderr.decode(errors="replace")
    return json.loads(proc.stdout)


@pytest.mark.parametrize("data, expected", [
    (b"", {"ok": []}),
    (b"allow:a\n\n# c\n\ndeny:b\n\nallow:\nallow:\n", {"err": "<stdin>:7: " + EMPTY_NAME}),
    (b"allow:a\n\xff\n", {"err": "<stdin>: " + NOT_UTF8}),
    (BOM + b"allow:a\r\n# c\r\ndeny:<k>b@p=n\r\nwarn:c", {"ok": [
        ["allow", None, "a", None, None, ["<stdin>", 1]], ["deny", "k", "b", "p", "n", ["<stdin>", 3]],
        ["warn", None, "c", None, None, ["<stdin>", 4]]]}),
])
def test_stdin(tmp_path, data, expected):
    assert run_stdin(tmp_path, data) == expected


# ---------------------------------------------------------------- actions

def test_actions(rules):
    body = "deny:a\nrefused:b\n" + "# c\n" * 6 + "deny:\n"  # parse errors take precedence
    assert error_of_rules(lambda d: rules(d, actions={"deny"}), body) == "rules.txt:9: " + EMPTY_NAME
    with pytest.raises(tw.DirectiveError) as ei:  # the first refused action, without origin
        rules("allow:a\n# c\nzeta:b\nalpha:c\n", actions=frozenset({"deny", "allow"}))
    assert ei.value.args == ('unknown action "zeta"; allowed: ["allow", "deny"]',)
    assert error_of("Allow:foo", actions={"allow"}) == 'unknown action "Allow"; allowed: ["allow"]'
    out = rules("allow:a\ndeny:b\nallow:c\n", actions={"allow", "deny", "x"})
    assert [d.action + d.name for d in out] == ["allowa", "denyb", "allowc"]
    assert rules("# only\n\n  # comments\n", actions=set()) == []


# ---------------------------------------------------------------- parity with parse

PARITY = ["allow:foo@", "allow:<\\*>foo", "Allow : <fn> foo* @ src/* = keep me"]


@pytest.mark.parametrize("line", PARITY)
def test_same_objects_as_parse(rules, line):
    ref = tw.parse(line)
    [from_file] = rules(line + "\n")
    [inline] = tw.expand(line)
    for d in (from_file, inline):
        assert type(d) is tw.Directive and d is not ref
        assert fields(d) == fields(ref)
        assert str(d) == str(ref) and repr(d) == repr(ref)


WS = [" ", "\t", "\u00a0", "\u3000"]
PART = st.text(alphabet="abcXé*?/[]{}, \\<>@=#\u00a0", max_size=8)
VALID_LINE = st.builds(
    lambda a, k, n, p, no: a + ":" + ("" if k is None else "<" + k + ">") + n
    + ("" if p is None else "@" + p) + ("" if no is None else "=" + no),
    st.text(alphabet="abXy_-.é#", min_size=1, max_size=6), st.none() | PART, PART,
    st.none() | PART, st.none() | PART,
).filter(lambda s: s[0] not in WS + ["#"] and s[-1] not in WS and parses(s))


def parses(s):
    try:
        tw.parse(s)
    except tw.DirectiveError:
        return False
    return True


JUNK = st.one_of(
    st.lists(st.sampled_from(WS), max_size=3).map("".join),
    st.builds(lambda pad, t: pad + "#" + t, st.sampled_from([""] + WS), PART),
)
ITEM = st.one_of(
    st.tuples(st.just(True), VALID_LINE, st.sampled_from([""] + WS), st.sampled_from([""] + WS)),
    st.tuples(st.just(False), JUNK, st.just(""), st.just("")),
)


@settings(max_examples=150, suppress_health_check=[HealthCheck.function_scoped_fixture,
                                                   HealthCheck.filter_too_much])
@given(items=st.lists(ITEM, max_size=8), seps=st.lists(st.sampled_from(["\n", "\r\n"]), min_size=8,
       max_size=8), last=st.sampled_from(["", "\n", "\r\n", "\r"]), bom=st.booleans())
def test_file_equals_parse_of_each_line(tmp_path, items, seps, last, bom):
    text = "".join(pre + line + post + (seps[i] if i + 1 < len(items) else last)
                   for i, (_, line, pre, post) in enumerate(items))
    path = tmp_path / "gen.txt"
    path.write_bytes((BOM if bom else b"") + text.encode())
    got = [fields(d) for d in tw.expand(f"@{path}")]
    assert got == [fields(tw.parse(line)) for ok, line, _, _ in items if ok]


REENTRANT_SCRIPT = """
import signal
from tarnwick import _tarnwick as tw
def handler(*_):
    try:
        tw.expand("@-")
    except tw.DirectiveError as e:
        print("inner:", e.args[0], flush=True)
signal.signal(signal.SIGALRM, handler)
signal.setitimer(signal.ITIMER_REAL, 0.2)
print("outer:", [str(d) for d in tw.expand("@-")], flush=True)
"""


def test_stdin_read_started_by_a_signal_handler_during_a_read_fails_cleanly(tmp_path):
    # The inner read cannot have standard input while the outer one holds it.
    proc = subprocess.Popen([sys.executable, "-c", REENTRANT_SCRIPT], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, cwd=tmp_path,
                            env=ENV)
    time.sleep(1.0)
    out, _ = proc.communicate(b"a:b\n", timeout=60)
    assert out.decode().splitlines() == [
        "inner: <stdin>: Resource deadlock avoided (os error 35)",
        "outer: ['a:b']",
    ]


def test_a_large_file_of_blank_lines_is_empty(tmp_path):
    rules = tmp_path / "blank.txt"
    rules.write_bytes(b"\n" * 20_000_000)
    assert tw.expand(f"@{rules}") == []


# ---------------------------------------------------------------- expand_sourced

def test_expand_sourced_pairs_each_directive_with_its_origin(rules):
    body = "# c\nallow:a\n\n  deny:b\n"
    rules(body)
    got = tw.expand_sourced("@rules.txt", actions={"allow", "deny"})
    assert [(str(d), origin) for d, origin in got] == [("allow:a", ("rules.txt", 2)), ("deny:b", ("rules.txt", 4))]
    assert [fields(d) for d, _ in got] == [fields(d) for d in tw.expand("@rules.txt")]
    assert [(str(d), origin) for d, origin in tw.expand_sourced("allow:x")] == [("allow:x", None)]
    for value, kw in [("@rules.txt", {"actions": {"allow"}}), ("allow:", {}), ("@nope", {})]:
        with pytest.raises(tw.DirectiveError) as ei:
            tw.expand_sourced(value, **kw)
        assert ei.value.args == (error_of(value, **kw),)
    assert "expand_sourced" not in tw.__all__


# ---------------------------------------------------------------- sources that never end

needs_fifo = pytest.mark.skipif(not hasattr(os, "mkfifo"), reason="no FIFOs")


def start_child(script, *args, **kw):
    return subprocess.Popen([sys.executable, "-c", script, *args], stdout=subprocess.PIPE,
                            env=ENV, text=True, **kw)


def line_within(proc, seconds):
    """The child's next output line, or None when it says nothing for `seconds`."""
    ready, _, _ = select.select([proc.stdout], [], [], seconds)
    return proc.stdout.readline().strip() if ready else None


@pytest.fixture
def fifo(tmp_path):
    path = tmp_path / "pipe"
    os.mkfifo(path)
    return path


# Part of the data, then (after a pause) the rest: the euro sign is cut in two.
DATA = "allow:a\ndeny:€\n".encode()
DATA_OUT = ["allow:a", "deny:€"]


def write_in_two(write):
    write(DATA[:-2])
    time.sleep(0.1)
    write(DATA[-2:])


WORKERS_SCRIPT = """
import json, sys, threading, time
from tarnwick import _tarnwick as tw
results = []
workers = [threading.Thread(target=lambda: results.append([str(d) for d in tw.expand(sys.argv[1])]))
           for _ in range(int(sys.argv[2]))]
for w in workers:
    w.start()
gaps, last = [], time.monotonic()
for _ in range(10):
    time.sleep(0.05)
    now = time.monotonic()
    gaps.append(now - last)
    last = now
print(max(gaps), flush=True)
for w in workers:
    w.join()
print(json.dumps(sorted(results)), flush=True)
"""


@needs_fifo
@pytest.mark.parametrize("blocked_in", ["open", "read", "stdin"])
def test_other_threads_run_while_a_source_blocks(fifo, blocked_in):
    # Two workers on standard input: one reads it all, the other finds its end.
    workers = 2 if blocked_in == "stdin" else 1
    keep_open = os.open(fifo, os.O_RDWR) if blocked_in == "read" else None
    proc = start_child(WORKERS_SCRIPT, "@-" if blocked_in == "stdin" else f"@{fifo}", str(workers),
                       stdin=subprocess.PIPE if blocked_in == "stdin" else None)
    try:
        max_gap = line_within(proc, 10)
        assert max_gap is not None and float(max_gap) < 1, "the main thread stalled"
        if blocked_in == "stdin":
            write_in_two(lambda b: (proc.stdin.buffer.write(b), proc.stdin.flush()))
            proc.stdin.close()
        else:
            # (O_NONBLOCK: fails rather than waits should the reader be gone)
            writer = os.open(fifo, os.O_WRONLY | os.O_NONBLOCK) if keep_open is None else keep_open
            write_in_two(lambda b: os.write(writer, b))
            os.close(writer)
        assert json.loads(line_within(proc, 30)) == ([[]] if workers == 2 else []) + [DATA_OUT]
    finally:
        proc.kill()


INTERRUPT_SCRIPT = """
import sys, time
from tarnwick import _tarnwick as tw
print("ready", flush=True)
try:
    tw.expand(sys.argv[1])
except KeyboardInterrupt:
    print("KeyboardInterrupt", flush=True)
"""


@needs_fifo
@pytest.mark.parametrize("blocked_in", ["open", "read"])
def test_ctrl_c_ends_a_blocked_read(fifo, blocked_in):
    keep_open = os.open(fifo, os.O_RDWR) if blocked_in == "read" else None
    proc = start_child(INTERRUPT_SCRIPT, f"@{fifo}")
    try:
        assert line_within(proc, 10) == "ready"
        time.sleep(0.3)
        proc.send_signal(signal.SIGINT)
        assert line_within(proc, 1) == "KeyboardInterrupt"
    finally:
        proc.kill()
        if keep_open is not None:
            os.close(keep_open)


@needs_fifo
def test_invalid_utf8_stops_an_open_stream_at_once(fifo):
    keep_open = os.open(fifo, os.O_RDWR)
    try:
        os.write(keep_open, b"allow:a\n\xff" + b"allow:b\n" * 1000)
        proc = start_child(EXPAND_SCRIPT, f"@{fifo}")
        try:
            assert json.loads(line_within(proc, 5)) == {"err": f"{fifo}: {NOT_UTF8}"}
        finally:
            proc.kill()
    finally:
        os.close(keep_open)


DEVICES_SCRIPT = """
import json, os, resource, time
from tarnwick import _tarnwick as tw
os.symlink("/dev/zero", "zero.txt")
with open("huge.txt", "wb") as f:
    f.truncate((1 << 30) + 1)  # sparse: nothing is written
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
out = []
for value in ["@/dev/zero", "@/dev/urandom", "@zero.txt", "@huge.txt"]:
    start = time.monotonic()
    try:
        tw.expand(value)
    except tw.DirectiveError as e:
        out.append([e.args[0], time.monotonic() - start])
grown_kb = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before
print(json.dumps([out, grown_kb]))
"""


@pytest.mark.skipif(not os.path.exists("/dev/urandom"), reason="no /dev/urandom")
def test_endless_and_huge_sources_are_refused(tmp_path):
    proc = start_child(DEVICES_SCRIPT, cwd=tmp_path)
    try:
        out, grown_kb = json.loads(line_within(proc, 30))
    finally:
        proc.kill()
    assert [message for message, _ in out] == [
        "/dev/zero: not a regular file or pipe",
        "/dev/urandom: not a regular file or pipe",
        "zero.txt: not a regular file or pipe",
        "huge.txt: larger than 1 GiB, the limit for a directive source",
    ]
    assert max(seconds for _, seconds in out) < 1
    assert grown_kb < 50_000
