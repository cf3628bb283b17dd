"""expand: inline -D values, @file directive files and @- (stdin)."""

import contextlib
import errno
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

from helpers import EMPTY_ACTION, EMPTY_KIND, EMPTY_NAME, EQ_BEFORE_COLON, NO_COLON, directive_texts, fields
from tarnwick import _tarnwick as tw

NOT_UTF8 = "stream did not contain valid UTF-8"
BOM = b"\xef\xbb\xbf"


def error_of(value, **kw):
    with pytest.raises(tw.DirectiveError) as ei:
        tw.expand(value, **kw)
    assert len(ei.value.args) == 1
    return ei.value.args[0]


@pytest.fixture
def rules(tmp_path, monkeypatch):  # writes rules.txt, expands @rules.txt: the fields, or the error
    monkeypatch.chdir(tmp_path)

    def run(data, **kw):
        (tmp_path / "rules.txt").write_bytes(data if isinstance(data, bytes) else data.encode())
        try:
            return [fields(d) for d in tw.expand("@rules.txt", **kw)]
        except tw.DirectiveError as e:
            return e.args[0]

    return run


def test_an_inline_value_is_handed_to_the_parser_whole():
    # not a comment, not blank, not split into lines, no BOM removed
    assert [error_of(v) for v in ["#", "", "\ufeff", "x=y:z"]] == ["<inline>: " + NO_COLON] * 3 + [
        "<inline>: " + EQ_BEFORE_COLON]
    for value in ["# allow:x", "\ufeffallow:x", "allow:x\ndeny:y", "  allow:x= n  ", "deny:<fn>foo*@src/*=legacy"]:
        [d] = out = tw.expand(value)
        assert type(out) is list and fields(d) == fields(tw.parse(value))


@pytest.mark.parametrize("body, expected", [
    ("# c\n\nallow:\n", "rules.txt:3: " + EMPTY_NAME), ("  # x\n\t\n\u00a0\u3000\nallow:a\nallow:\n", "rules.txt:5: " + EMPTY_NAME),
    ("# c\rallow:\nallow:\n", "rules.txt:2: " + EMPTY_NAME),  # lone CR is no break
    ("allow:a\n:x\nallow:\n=:\n", "rules.txt:2: " + EMPTY_ACTION),  # first bad line wins
    ("allow:a\nallow:<>b", "rules.txt:2: " + EMPTY_KIND),  # final line without LF
    ("\u200b# not a comment\n", "rules.txt:1: " + NO_COLON),  # U+200B is no White_Space
    ("\x1c# not a comment\n", "rules.txt:1: " + NO_COLON),  # nor is U+001C
])
def test_line_numbers_count_every_line(rules, body, expected):
    assert rules(body.encode()) == rules(BOM + body.encode()) == expected


def test_file_contents(rules):
    assert rules("allow:x\rallow:\n") == [("allow", None, "x\rallow:", None, None)]
    assert rules("allow:\U0001f600@\U0010ffff") == [("allow", None, "\U0001f600", "\U0010ffff", None)]
    assert rules(BOM + BOM + b"# c\n") == "rules.txt:1: " + NO_COLON  # one leading BOM is skipped, no other
    assert rules(b"# c\n" + BOM + b"allow:a\n") == [("\ufeffallow", None, "a", None, None)]


@pytest.mark.parametrize("bad", [b"\xff", b"\x80", b"\xc0\xaf", b"\xed\xa0\x80", b"\xf4\x90\x80\x80", b"\xe2\x82"])
def test_invalid_utf8_fails_whole_file(rules, bad):
    # valid lines (even a malformed one) before the bad bytes do not matter
    for data in (b"allow:a\ndeny:b\n# " + bad + b"\n", b"allow:\n" + bad, b"allow:a\n\xe2\x82\xac" + bad):
        assert rules(data) == "rules.txt: " + NOT_UTF8


def os_error(code):
    return f"{os.strerror(code)} (os error {code})"


# The system's messages are checked where they are the C library's (not on Windows).
posix_messages = pytest.mark.skipif(sys.platform == "win32", reason="Windows words its errors itself")


@posix_messages
def test_files_that_cannot_be_read(rules, tmp_path):
    (tmp_path / "sub").mkdir()
    (tmp_path / " rules.txt").write_text("deny:y\n")
    missing = os_error(errno.ENOENT)
    for path, error in [("-x", missing), ("./sub/../nope", missing), ("- ", missing), (f"{tmp_path}/nope", missing),
                        ("", missing), ("sub", os_error(errno.EISDIR)),
                        ("a\x00b", "file name contained an unexpected NUL byte")]:
        assert error_of("@" + path) == f"{path}: {error}"
    # the path is verbatim: a leading blank is part of the file name; before the "@" it makes an inline value
    assert [fields(d) for d in tw.expand("@ rules.txt")] == [("deny", None, "y", None, None)]
    assert error_of(" @rules.txt") == "<inline>: " + NO_COLON
    if os.geteuid() != 0:  # root reads anything
        (tmp_path / "secret.txt").write_text("allow:x\n")
        (tmp_path / "secret.txt").chmod(0)
        assert error_of("@secret.txt") == "secret.txt: " + os_error(errno.EACCES)


def test_actions(rules):
    body = "deny:a\nrefused:b\n" + "# c\n" * 6 + "deny:\n"  # parse errors take precedence
    assert rules(body, actions={"deny"}) == "rules.txt:9: " + EMPTY_NAME
    # the first refused action, without origin
    assert rules("allow:a\n# c\nzeta:b\nalpha:c\n", actions=frozenset({"deny", "allow"})) == (
        'unknown action "zeta"; allowed: ["allow", "deny"]')
    assert error_of("Allow:foo", actions={"allow"}) == 'unknown action "Allow"; allowed: ["allow"]'
    assert [d[0] + d[2] for d in rules("allow:a\ndeny:b\n", actions={"allow", "deny", "x"})] == ["allowa", "denyb"]
    assert rules("# only\n\n  # comments\n", actions=set()) == []


def test_expand_sourced_pairs_each_directive_with_its_origin(rules):
    rules("# c\nallow:a\n\n  deny:b\n")
    got = tw.expand_sourced("@rules.txt", actions={"allow", "deny"})
    assert [(str(d), origin) for d, origin in got] == [("allow:a", ("rules.txt", 2)), ("deny:b", ("rules.txt", 4))]
    assert [(str(d), origin) for d, origin in tw.expand_sourced("allow:x")] == [("allow:x", None)]
    with pytest.raises(tw.DirectiveError, match=r"^unknown action \"deny\"; allowed: \[\"allow\"\]$"):
        tw.expand_sourced("@rules.txt", actions={"allow"})
    assert "expand_sourced" not in tw.__all__


WS = [" ", "\t", "\u00a0", "\u3000"]
PAD = st.sampled_from([""] + WS)
ITEM = st.one_of(  # (is a directive, line, blanks before, blanks after)
    st.tuples(st.just(True), directive_texts(st.sampled_from(["allow", "x#", "é-y"])), PAD, PAD),
    st.tuples(st.just(True), st.sampled_from(["a:b\\", "a:b=\\", "a:\\#\\"]), PAD, st.just("")),  # no escaped break
    st.tuples(st.just(False), st.lists(st.sampled_from(WS), max_size=3).map("".join), st.just(""), st.just("")),
    st.tuples(st.just(False), st.builds("{}#{}".format, PAD, st.text("ab:=@ \u00a0#", max_size=6)), st.just(""),
              st.just("")),
)


@settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(items=st.lists(ITEM, max_size=8), seps=st.lists(st.sampled_from(["\n", "\r\n"]), min_size=8,
       max_size=8), last=st.sampled_from(["", "\n", "\r\n", "\r"]), bom=st.booleans())
def test_file_equals_parse_of_each_line(tmp_path, items, seps, last, bom):
    text = "".join(pre + line + post + (seps[i] if i + 1 < len(items) else last)
                   for i, (_, line, pre, post) in enumerate(items))
    (tmp_path / "gen.txt").write_bytes((BOM if bom else b"") + text.encode())
    got = tw.expand(f"@{tmp_path / 'gen.txt'}")
    assert all(type(d) is tw.Directive for d in got) and [(fields(d), str(d), repr(d)) for d in got] == [
        (fields(d), str(d), repr(d)) for ok, line, _, _ in items if ok for d in [tw.parse(line)]]


def test_a_large_file_of_blank_lines_is_empty(tmp_path):
    # comments whose U+FFFD a 1 MB read cuts after its lead byte 0xEF, then after its second byte
    cut = b"\n" * (2**20 - 2) + b"#\xef\xbf\xbd" + b"\n" * (2**20 - 5) + b"#\xef\xbf\xbd"
    (tmp_path / "blank.txt").write_bytes(cut + b"\n" * 20_000_000)
    assert tw.expand(f"@{tmp_path / 'blank.txt'}") == []


# -- standard input, and sources that block or never end: each run in a child process

ENV = dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(os.path.abspath(tw.__file__))))
PRELUDE = "import json, os, signal, sys, threading, time\nfrom tarnwick import _tarnwick as tw\n"
EXPAND = """
try:
    out = {"ok": [[*(getattr(d, f) for f in ("action", "kind", "name", "path", "note")), origin]
                  for d, origin in tw.expand_sourced(sys.argv[1])]}
except tw.DirectiveError as e:
    out = {"err": e.args[0]}
print(json.dumps(out), flush=True)
"""


@contextlib.contextmanager
def child(script, *args, keep_open=None, **kw):
    """A Python child running `script`, killed at the end, and the `keep_open` descriptor closed."""
    proc = subprocess.Popen([sys.executable, "-c", PRELUDE + script, *args], stdout=subprocess.PIPE, env=ENV,
                            text=True, **kw)
    try:
        yield proc
    finally:
        proc.kill()
        proc.wait()
        if keep_open is not None:
            os.close(keep_open)


def line_within(proc, seconds):
    """The child's next output line, or None when it says nothing for `seconds`."""
    ready, _, _ = select.select([proc.stdout], [], [], seconds)
    return proc.stdout.readline().strip() if ready else None


@pytest.mark.parametrize("data, expected", [
    (b"", {"ok": []}),
    (b"allow:a\n\n# c\n\ndeny:b\n\nallow:\nallow:\n", {"err": "<stdin>:7: " + EMPTY_NAME}),
    (b"allow:a\n\xff\n", {"err": "<stdin>: " + NOT_UTF8}),
    (BOM + b"allow:a\r\n# c\r\ndeny:<k>b@p=n\r\nwarn:c", {"ok": [
        ["allow", None, "a", None, None, ["<stdin>", 1]], ["deny", "k", "b", "p", "n", ["<stdin>", 3]],
        ["warn", None, "c", None, None, ["<stdin>", 4]]]}),
])
def test_stdin(tmp_path, data, expected):
    with child(EXPAND, "@-", stdin=subprocess.PIPE, cwd=tmp_path) as proc:
        proc.stdin.buffer.write(data)
        proc.stdin.close()
        assert json.loads(line_within(proc, 60)) == expected
        assert proc.wait(60) == 0


REENTRANT = """
def handler(*_):
    try:
        tw.expand("@-")
    except tw.DirectiveError as e:
        print("inner:", e.args[0], flush=True)
signal.signal(signal.SIGALRM, handler)
signal.setitimer(signal.ITIMER_REAL, 0.2)
print("outer:", [str(d) for d in tw.expand("@-")], flush=True)
"""


@pytest.mark.skipif(not hasattr(signal, "setitimer"), reason="no interval timers")
def test_stdin_read_started_by_a_signal_handler_during_a_read_fails_cleanly(tmp_path):
    # The inner read cannot have standard input while the outer one holds it.
    with child(REENTRANT, stdin=subprocess.PIPE, cwd=tmp_path) as proc:
        time.sleep(1.0)
        out, _ = proc.communicate("a:b\n", timeout=60)
    assert out.splitlines() == [f"inner: <stdin>: {os_error(errno.EDEADLK)}", "outer: ['a:b']"]


needs_fifo = pytest.mark.skipif(not hasattr(os, "mkfifo"), reason="no FIFOs")


@pytest.fixture
def fifo(tmp_path):
    os.mkfifo(tmp_path / "pipe")
    return tmp_path / "pipe"


WORKERS = """
results = []
workers = [threading.Thread(target=lambda: results.append([str(d) for d in tw.expand(sys.argv[1])]))
           for _ in range(int(sys.argv[2]))]
[w.start() for w in workers]
gaps = [time.sleep(0.05) or time.monotonic() for _ in range(11)]
print(max(b - a for a, b in zip(gaps, gaps[1:])), flush=True)
[w.join() for w in workers]
print(json.dumps(sorted(results)), flush=True)
"""
DATA = "allow:a\ndeny:€\n".encode()  # written in two parts, the euro sign cut in two


@needs_fifo
@pytest.mark.parametrize("blocked_in", ["open", "read", "stdin"])
def test_other_threads_run_while_a_source_blocks(fifo, blocked_in):
    # Two workers on standard input: one reads it all, the other finds its end.
    workers = 2 if blocked_in == "stdin" else 1
    keep_open = os.open(fifo, os.O_RDWR) if blocked_in == "read" else None
    with child(WORKERS, "@-" if blocked_in == "stdin" else f"@{fifo}", str(workers),
               stdin=subprocess.PIPE if blocked_in == "stdin" else None) as proc:
        max_gap = line_within(proc, 10)
        assert max_gap is not None and float(max_gap) < 1, "the main thread stalled"
        if blocked_in == "stdin":
            write, done = lambda b: (proc.stdin.buffer.write(b), proc.stdin.flush()), proc.stdin.close
        else:  # (O_NONBLOCK: fails rather than waits should the reader be gone)
            writer = os.open(fifo, os.O_WRONLY | os.O_NONBLOCK) if keep_open is None else keep_open
            write, done = lambda b: os.write(writer, b), lambda: os.close(writer)
        write(DATA[:-2])
        time.sleep(0.1)
        write(DATA[-2:])
        done()
        assert json.loads(line_within(proc, 30)) == [[]] * (workers - 1) + [["allow:a", "deny:€"]]


@needs_fifo
@pytest.mark.parametrize("blocked_in", ["open", "read"])
def test_ctrl_c_ends_a_blocked_read(fifo, blocked_in):
    # A child started from a background job inherits SIGINT ignored: take Python's handler back.
    with child('signal.signal(signal.SIGINT, signal.default_int_handler)\nprint("ready", flush=True)\ntry:\n    tw.expand(sys.argv[1])\nexcept KeyboardInterrupt:\n'
               '    print("KeyboardInterrupt", flush=True)\n', f"@{fifo}",
               keep_open=os.open(fifo, os.O_RDWR) if blocked_in == "read" else None) as proc:
        assert line_within(proc, 10) == "ready"
        time.sleep(0.3)
        proc.send_signal(signal.SIGINT)
        assert line_within(proc, 1) == "KeyboardInterrupt"


WAITING_FOR_THE_TURN = """
signal.signal(signal.SIGINT, signal.default_int_handler)
threading.Thread(target=tw.expand, args=("@-",), daemon=True).start()
time.sleep(0.2)
print("ready", flush=True)
try:
    tw.expand("@-")
except KeyboardInterrupt:
    print("KeyboardInterrupt", flush=True)
"""


def test_ctrl_c_ends_a_wait_for_the_turn_on_stdin():
    # A worker holds standard input (an open pipe that never carries data); the main thread waits.
    with child(WAITING_FOR_THE_TURN, stdin=subprocess.PIPE) as proc:
        assert line_within(proc, 10) == "ready"
        time.sleep(0.3)
        proc.send_signal(signal.SIGINT)
        assert line_within(proc, 1) == "KeyboardInterrupt"
        assert proc.wait(10) == 0


READING_AT_EXIT = """
objects = [object() for _ in range(1_000_000)]  # makes finalization long enough to be caught in
threading.Thread(target=tw.expand, args=(sys.argv[1],), daemon=True).start()
time.sleep(0.2)
"""


@needs_fifo
@pytest.mark.parametrize("source", ["@-", "fifo"])
def test_a_daemon_thread_still_reading_at_exit_leaves_quietly(fifo, source):
    # A line every 5 ms wakes the reader, and so it asks for the interpreter lock while the main
    # thread finalizes: each run used to abort in most cases, at least one in five always did.
    for _ in range(5):
        proc = subprocess.Popen([sys.executable, "-c", PRELUDE + READING_AT_EXIT, source if source == "@-" else f"@{fifo}"],
                                stdin=subprocess.PIPE, stderr=subprocess.PIPE, env=ENV)
        feed = proc.stdin.fileno() if source == "@-" else os.open(fifo, os.O_RDWR)
        try:
            while proc.poll() is None:
                with contextlib.suppress(OSError):
                    os.write(feed, b"a:b\n")
                time.sleep(0.005)
        finally:
            proc.kill()
            if source != "@-":
                os.close(feed)
            proc.stdin.close()
            proc.wait()
        assert (proc.returncode, proc.stderr.read()) == (0, b"")
        proc.stderr.close()


def test_the_exiting_thread_itself_may_still_expand(tmp_path):
    # An atexit callback registered before the module was imported runs after the module's own.
    (tmp_path / "rules.txt").write_text("a:b\n")
    script = ("import atexit, sys\natexit.register(lambda: print(tw.expand(sys.argv[1]), flush=True))\n"
              "from tarnwick import _tarnwick as tw\n")
    proc = subprocess.run([sys.executable, "-c", script, f"@{tmp_path / 'rules.txt'}"], capture_output=True,
                          text=True, env=ENV, timeout=30)
    assert (proc.returncode, proc.stdout, proc.stderr) == (0, "[Directive(a:b)]\n", "")


@needs_fifo
def test_invalid_utf8_stops_an_open_stream_at_once(fifo):
    keep_open = os.open(fifo, os.O_RDWR)
    os.write(keep_open, b"allow:a\n\xff" + b"allow:b\n" * 1000)
    with child(EXPAND, f"@{fifo}", keep_open=keep_open) as proc:
        assert json.loads(line_within(proc, 5)) == {"err": f"{fifo}: {NOT_UTF8}"}


DEVICES = """
import resource
os.symlink("/dev/zero", "zero.txt")
with open("huge.txt", "wb") as f:
    f.truncate((1 << 30) + 1)  # sparse: nothing is written
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
out = []
for value in ["@/dev/null", "@/dev/zero", "@/dev/urandom", "@zero.txt", "@huge.txt"]:
    start = time.monotonic()
    try:
        out.append([repr(tw.expand(value)), time.monotonic() - start])
    except tw.DirectiveError as e:
        out.append([e.args[0], time.monotonic() - start])
grown = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before
print(json.dumps([out, grown // 1024 if sys.platform == "darwin" else grown]))  # macOS counts bytes
"""


@pytest.mark.skipif(not os.path.exists("/dev/urandom"), reason="no /dev/urandom")
def test_endless_and_huge_sources_are_refused_the_null_device_is_empty(tmp_path):
    with child(DEVICES, cwd=tmp_path) as proc:
        out, grown_kb = json.loads(line_within(proc, 30))
    assert [message for message, _ in out] == [
        "[]",  # the null device reads as the empty file it is
        "/dev/zero: not a regular file or pipe", "/dev/urandom: not a regular file or pipe",
        "zero.txt: not a regular file or pipe", "huge.txt: larger than 1 GiB, the limit for a directive source",
    ]
    assert max(seconds for _, seconds in out) < 1 and grown_kb < 50_000
