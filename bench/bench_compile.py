"""What compiling globs costs when directives are parsed: `parse` of a typical
and a long directive, `expand` of a 16,000-directive file, and the memory the
directives hold afterwards.

Usage: python bench/bench_compile.py [--instructions]

Times are the best of a few runs, with the `len(s)` floor measured in the same
run. --instructions adds instructions per call under valgrind (callgrind),
from N and 2N calls in fresh processes differenced, so start-up cancels out.
"""

import os
import re
import subprocess
import sys
import tempfile
import timeit

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from run import held_bytes_probe, write_directive_file  # noqa: E402

from tarnwick import _tarnwick as tw  # noqa: E402

TYPICAL = "deny:<fn>foo*@src/*=legacy API"
LONG = "deny:<fn>foo_{a,b,c}*@src/{core,lint,source}/*.{h,cpp}=" + "n" * 200
LINES = 20_000  # 16,000 directives: one line in ten is a comment, one blank


def ns(stmt, g, number=100_000):
    return min(timeit.repeat(stmt, globals=g, number=number, repeat=7)) / number * 1e9


def instructions(setup, stmt, n):
    """Instructions per call of `stmt`, from callgrind totals of n and 2n calls."""
    totals = []
    for count in (n, 2 * n):
        code = f"{setup}\nfor _ in range({count}):\n    {stmt}\n"
        out = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null",
                              sys.executable, "-c", code], capture_output=True, text=True, check=True,
                             env={**os.environ, "PYTHONHASHSEED": "0"})
        totals.append(int(re.search(r"Collected : (\d+)", out.stderr).group(1)))
    return (totals[1] - totals[0]) / n


def main():
    count_instructions = "--instructions" in sys.argv[1:]
    g = {"parse": tw.parse, "typical": TYPICAL, "long": LONG, "s": "src/tarnwick/core.py"}
    floor = ns("len(s)", g)
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "rules.txt")
        write_directive_file(path, LINES)
        directives = len(tw.expand("@" + path))
        expand_s = min(timeit.repeat(lambda: tw.expand("@" + path), number=1, repeat=5))
        held = held_bytes_probe(path)
        setup = f"from tarnwick import _tarnwick as tw\ntypical = {TYPICAL!r}\nlong = {LONG!r}\npath = {path!r}"
        rows = [("parse (typical)", ns("parse(typical)", g), "tw.parse(typical)", 20_000),
                ("parse (long: braces, 200-byte note)", ns("parse(long)", g), "tw.parse(long)", 20_000),
                (f"expand, {directives:,} directives", expand_s * 1e9, "tw.expand('@' + path)", 2)]
        print(f"CPython {sys.version.split()[0]}; floor len(s) = {floor:.1f} ns\n")
        print("| call | ns/call | x floor |" + (" instructions/call |" if count_instructions else ""))
        print("|---|---:|---:|" + ("---:|" if count_instructions else ""))
        for label, t, stmt, n in rows:
            extra = f" {instructions(setup, stmt, n):,.0f} |" if count_instructions else ""
            print(f"| {label} | {t:,.0f} | {t / floor:.1f} |{extra}")
    print(f"\nheld by {directives:,} directives: {held / 1e6:.2f} MB ({held / directives:.0f} B each)")


if __name__ == "__main__":
    main()
