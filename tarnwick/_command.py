"""What every ``tarnwick`` command shares: registration, arguments, ``-D``
values, output, and the one exit path.

- A command module has a ``register(subparsers)`` function that calls
  :func:`add_command` with the function that runs it; ``run(args)`` returns
  the exit status.
- Every argument is UTF-8 text unless its ``type`` says otherwise
  (:func:`path` for file names): see :class:`CommandParser`.
- ``-D`` values: :func:`add_values_option` collects them raw; after parsing,
  :func:`expand_values` expands them value by value, and
  :func:`sourced_directives` expands all of them or stops with a usage error.
  Every directive comes with its origin (:func:`origin_text`).
- Expected failures raise :class:`CommandError` (one line, a status) or call
  :func:`usage_error`; :func:`run_command` turns them, and failures writing
  standard output, into one line on stderr and the documented exit status.
  Anything else is a bug and keeps its traceback.
"""

from __future__ import annotations

import argparse
import errno
import gc
import json
import os
import shutil
import sys
import tempfile
from collections.abc import Callable, Iterable, Iterator
from contextlib import contextmanager, suppress
from typing import Any, BinaryIO, NoReturn

from tarnwick._tarnwick import Directive, DirectiveError, expand_sourced
from tarnwick._text import one_line as one_line
from tarnwick._text import plural as plural
from tarnwick._text import quoted as quoted
from tarnwick._text import shown as shown
from tarnwick._text import utf8_argument
from tarnwick._verbs import refusal

EXIT_USAGE = 2  # also: a bad input file and failures reading or writing
EXIT_BROKEN_PIPE = 141  # 128 + SIGPIPE, what a shell reports for a tool killed by a closed pipe
EXIT_INTERRUPTED = 130  # 128 + SIGINT

Run = Callable[[argparse.Namespace], int]
Origin = tuple[str, int] | None  # (file, line) of a directive, or None for an inline value
Sourced = tuple[Directive, Origin]


class CommandError(Exception):
    """An expected failure of a command: *message* becomes one line on stderr,
    ``tarnwick COMMAND: error: MESSAGE``, and the exit status is *status*."""

    def __init__(self, message: str, status: int = EXIT_USAGE):
        super().__init__(message)
        self.message = message
        self.status = status


# ---------------------------------------------------------------- arguments


def text(arg: str) -> str:
    """Argument type of every argument that is text (the default, see
    :class:`CommandParser`): :func:`utf8_argument`, a usage error when the
    argument is not UTF-8 at all."""
    try:
        return utf8_argument(arg)
    except ValueError as exc:
        raise argparse.ArgumentTypeError(str(exc)) from None


def path(arg: str) -> str:
    """Argument type of a file name: taken as the operating system gives it."""
    return arg


def shown_argument_text(message: str) -> str:
    """*message*, which may quote arguments as the operating system gave them, for
    stderr: bytes that are not UTF-8 as ``\xff``, control characters in the quoted form."""
    try:
        message = message.encode("utf-8", "surrogateescape").decode("utf-8", "backslashreplace")
    except UnicodeEncodeError:
        pass  # a surrogate that stands for no byte: one_line writes it as \u{...}
    return one_line(message)


class QuotingParser(argparse.ArgumentParser):
    """An argument parser whose errors (argparse's own messages included, such as
    ``unrecognized arguments: ...``) cannot write raw control characters or fail to encode."""

    def error(self, message: str) -> NoReturn:
        super().error(shown_argument_text(message))


class CommandParser(QuotingParser):
    """An argument parser whose arguments are :func:`text` unless they say otherwise."""

    def __init__(self, *args: Any, **kwargs: Any) -> None:
        super().__init__(*args, **kwargs)
        self.register("type", None, text)


def usage_error(args: argparse.Namespace, message: str) -> NoReturn:
    """Report *message* as a usage error of the running command: usage line and
    ``tarnwick CMD: error: MESSAGE`` on stderr, exit status 2."""
    parser: argparse.ArgumentParser = args.command_parser
    parser.error(one_line(message))


def add_command(subparsers: Any, name: str, run: Run, **kwargs: Any) -> CommandParser:
    """Add command *name* (keyword arguments as for ``add_parser``); ``main``
    calls ``run(args)`` when it is chosen and exits with what it returns."""
    parser: CommandParser = subparsers.add_parser(name, **kwargs)
    parser.set_defaults(run=run, command_parser=parser)
    return parser


def split_list(arg: str) -> list[str]:
    """Argument type of a comma-separated list: ``"a, b,c"`` -> ``["a", "b", "c"]``."""
    return [item.strip() for item in text(arg).split(",") if item.strip()]


def add_json_flag(parser: argparse.ArgumentParser) -> None:
    """Add ``--json`` (``args.json``): print one JSON document instead of text."""
    parser.add_argument(
        "--json",
        action="store_true",
        help="print one JSON document on stdout instead of text",
    )


# ---------------------------------------------------------------- -D values


def add_values_option(parser: argparse.ArgumentParser, help: str) -> None:
    """The repeatable ``-D VALUE`` of every command, collected raw in ``args.values``.

    Values are expanded after parsing, once the command knows which actions
    it allows (``check --actions`` may follow the values)."""
    parser.add_argument("-D", dest="values", action="append", default=[], metavar="VALUE", help=help)


def expand_values(
    values: Iterable[str], actions: set[str] | frozenset[str] | None = None
) -> Iterator[tuple[str, list[Sourced], str | None]]:
    """Expand the values one by one, when asked for: each value with its
    directives and their origins and ``None``, or with ``[]`` and the error
    message (an action outside *actions* after the origin of its directive)."""
    for value in values:
        try:
            found = expand_sourced(value)
        except DirectiveError as exc:
            yield value, [], str(exc)
            continue
        refused = next(
            (f"{origin_text(o)}: {r}" for d, o in found if (r := refusal(d.action, actions)) is not None), None
        )
        yield value, [] if refused else found, refused


def sourced_directives(args: argparse.Namespace, *, lint: bool) -> list[Sourced]:
    """The directives of every ``-D`` value in order, each with its origin; the
    first value that fails is a usage error.

    With *lint*, every action must be a lint verb (any case, hyphens ignored);
    another action is refused with the module's own message after its origin."""
    found: list[Sourced] = []
    for _, ds, error in expand_values(args.values):
        if error is not None:
            usage_error(args, error)
        found += ds
    if lint:
        for d, origin in found:
            if (refused := refusal(d.action, None, lint=True)) is not None:
                usage_error(args, f"{origin_text(origin)}: {refused}")
    return found


def origin_text(origin: Origin) -> str:
    """Where a directive came from, as error messages write it: ``FILE:LINE`` or ``<inline>``."""
    return "<inline>" if origin is None else f"{origin[0]}:{origin[1]}"


# ---------------------------------------------------------------- input


def shown_name(name: str) -> str:
    """A file name for messages (``<stdin>`` for ``-``), bytes that are not UTF-8 escaped."""
    return "<stdin>" if name == "-" else os.fsencode(name).decode("utf-8", "backslashreplace")


def add_log_arguments(parser: argparse.ArgumentParser) -> None:
    """The SARIF logs to read (``args.logs``, ``-`` for stdin) and ``--root`` (``args.root``)."""
    parser.add_argument(
        "logs",
        nargs="*",
        default=["-"],
        type=path,
        metavar="LOG",
        help="a SARIF log to read; several are read as one log holding their runs in order "
        "(default: - for stdin)",
    )
    parser.add_argument(
        "--root",
        default=".",
        type=path,
        help="file paths under this directory become relative to it (default: .)",
    )


def add_output_option(parser: argparse.ArgumentParser, what: str) -> None:
    """``--output FILE`` (``args.output``): write *what* to FILE instead of stdout."""
    parser.add_argument(
        "--output",
        "-o",
        type=path,
        metavar="FILE",
        help=f"write {what} to FILE instead of stdout; FILE is replaced only once all of it is written",
    )


def log_roots(args: argparse.Namespace) -> list[str]:
    """``--root`` as an absolute path, then its real path when that differs."""
    root = os.path.abspath(args.root)
    return list(dict.fromkeys([root, os.path.realpath(root)]))


@contextmanager
def large_json() -> Iterator[None]:
    """Work on a large JSON document without the cycle collector, which would
    walk every object of the document again and again as new ones are made
    (half the time of a fold that marks every result). JSON has no cycles."""
    was_enabled = gc.isenabled()
    gc.disable()
    try:
        yield
    finally:
        if was_enabled:
            gc.enable()


def read_input(name: str) -> bytes:
    """The whole of file *name*, or of standard input for ``-``; a failure is a ``CommandError``."""
    try:
        if name == "-":
            if sys.stdin is None:
                raise CommandError("<stdin>: standard input is closed")
            return sys.stdin.buffer.read()
        with open(name, "rb") as f:
            return f.read()
    except OSError as exc:
        raise CommandError(f"{shown_name(name)}: {exc.strerror or exc}") from None


@contextmanager
def open_input(name: str) -> Iterator[BinaryIO]:
    """File *name* open for reading, seekable: standard input (``-``) and a
    pipe named by path are first copied to an unnamed temporary file (so that
    they can be read twice; it is gone when closed). A failure to open or copy
    is a ``CommandError``."""
    try:
        if name == "-":
            if sys.stdin is None:
                raise CommandError("<stdin>: standard input is closed")
            f = _spooled(sys.stdin.buffer)
        else:
            f = open(name, "rb")  # noqa: SIM115
            if not f.seekable():  # a pipe named by path, as `<(producer)` gives
                with f:
                    f = _spooled(f)
    except OSError as exc:
        raise CommandError(f"{shown_name(name)}: {exc.strerror or exc}") from None
    with f:
        yield f


def _spooled(source: BinaryIO) -> BinaryIO:
    spool = tempfile.TemporaryFile()  # noqa: SIM115 (returned open; closed on failure)
    try:
        shutil.copyfileobj(source, spool, 1 << 20)
        spool.seek(0)
    except BaseException:
        spool.close()
        raise
    return spool


# ---------------------------------------------------------------- output


def write_stdout(data: bytes) -> None:
    """Write *data* to standard output whole. A pipe whose reader stops may
    take only part of a large write without an error; the next write then
    fails, which is the failure the exit path reports."""
    view = memoryview(data)
    while view:
        written = sys.stdout.buffer.write(view)
        if not written:
            raise BrokenPipeError(errno.EPIPE, "standard output took no more")
        view = view[written:]


def write_file(name: str, data: bytes) -> None:
    """Replace file *name* by *data* whole (see `replaced_file`)."""
    with replaced_file(name) as write:
        write(data)


@contextmanager
def replaced_file(name: str) -> Iterator[Callable[[bytes], None]]:
    """A writer to a new file in the folder of file *name*, renamed over it
    when the block ends without an error, so that a failure leaves the old
    file (or none) and no partial one. A replaced file keeps its permissions."""
    folder = os.path.dirname(os.path.abspath(name))
    try:
        mode = os.stat(name).st_mode & 0o7777
    except OSError:
        umask = os.umask(0)
        os.umask(umask)
        mode = 0o666 & ~umask
    try:
        fd, temporary = tempfile.mkstemp(dir=folder, prefix=".tarnwick-", suffix=".tmp")
    except OSError as exc:
        raise CommandError(f"{shown_name(name)}: {exc.strerror or exc}") from None
    try:
        with os.fdopen(fd, "wb") as f:
            yield _file_writer(name, f)
        os.chmod(temporary, mode)
        os.replace(temporary, name)
    except BaseException as exc:
        with suppress(OSError):
            os.unlink(temporary)
        if isinstance(exc, OSError):
            raise CommandError(f"{shown_name(name)}: {exc.strerror or exc}") from None
        raise


def _file_writer(name: str, f: BinaryIO) -> Callable[[bytes], None]:
    def write(data: bytes) -> None:
        try:
            f.write(data)
        except OSError as exc:
            raise CommandError(f"{shown_name(name)}: {exc.strerror or exc}") from None

    return write


def print_json(data: Any) -> None:
    """Write *data* to stdout as indented JSON (non-ASCII kept as is)."""
    json.dump(data, sys.stdout, indent=2, ensure_ascii=False)
    sys.stdout.write("\n")


def directive_json(directive: Directive, origin: Origin) -> dict[str, Any]:
    """A directive as a JSON-ready object: its canonical ``text``, its fields,
    and its ``origin`` (``{"file", "line"}``, or ``null`` for an inline value)."""
    return {
        "text": str(directive),
        "action": directive.action,
        "kind": directive.kind,
        "name": directive.name,
        "path": directive.path,
        "note": directive.note,
        "origin": None if origin is None else {"file": origin[0], "line": origin[1]},
    }


# ---------------------------------------------------------------- the exit path


def use_utf8_streams() -> None:
    """Write UTF-8, as every input of tarnwick is, whatever the locale says.

    With standard error closed, messages go nowhere: ``print(file=None)``
    would otherwise write them into standard output, into the log."""
    if sys.stderr is None:
        sys.stderr = open(os.devnull, "w", encoding="utf-8")
    for stream in (sys.stdout, sys.stderr):
        reconfigure = getattr(stream, "reconfigure", None)
        if reconfigure is not None:
            reconfigure(encoding="utf-8")


def _discard_stdout() -> None:
    """Send what is still buffered for stdout nowhere, so the interpreter's
    final flush does not fail a second time."""
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        os.close(devnull)
    except (OSError, ValueError, AttributeError):
        pass


def _report(args: argparse.Namespace, message: str) -> None:
    try:
        print(f"{args.command_parser.prog}: error: {one_line(message)}", file=sys.stderr, flush=True)
    except (OSError, ValueError):
        pass  # stderr is gone too: the exit status is all that is left


def run_command(args: argparse.Namespace) -> int:
    """Run the chosen command and return its exit status.

    Commands turn failures reading their own inputs into ``CommandError``;
    an ``OSError`` that reaches this point came from writing standard output.
    """
    if sys.stdout is None:  # started with standard output closed
        _report(args, "standard output is closed")
        return EXIT_USAGE
    try:
        status: int = args.run(args)
        sys.stdout.flush()
        return status
    except CommandError as exc:
        _report(args, exc.message)
        return exc.status
    except BrokenPipeError:
        _discard_stdout()
        _report(args, "standard output was closed before all output was written")
        return EXIT_BROKEN_PIPE
    except OSError as exc:
        _discard_stdout()
        _report(args, f"writing standard output: {exc.strerror or exc}")
        return EXIT_USAGE
    except KeyboardInterrupt:
        _discard_stdout()
        return EXIT_INTERRUPTED
