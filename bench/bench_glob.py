"""Glob worst cases, growth and typical patterns, for the module on sys.path.

Times are per call, the best of a few runs; memory is the peak resident growth
of a fresh process doing one call, against the size of the input text.
Typical patterns are reported as ratios to `fnmatch.fnmatchcase` (warm cache)
and to the `len(s)` floor, measured in the same run.

Usage: python bench/bench_glob.py [--timeout SECONDS [worst,cut,memory,growth,typical]]
(each worst case runs in a child process stopped after SECONDS, default 60)
"""

import fnmatch
import math
import os
import subprocess
import sys
import tempfile
import textwrap
import timeit

from tarnwick import _tarnwick as tw

CLASSY = "{,}" * 10  # 1024 alternatives, all empty


def best(fn, repeat=3):
    """Seconds per call: best of `repeat`, with enough calls per run to time."""
    once = min(timeit.repeat(fn, number=1, repeat=1))
    number = max(1, int(0.05 / max(once, 1e-9)))
    if once > 0.5:
        return once
    return min(timeit.repeat(fn, number=number, repeat=repeat)) / number


# (label, pattern, text): each timed as one glob_match call.
TIME_ROWS = [
    ("`{,}`x10 + `*` + `a`x1000 + `b` vs `a`x2000", CLASSY + "*" + "a" * 1000 + "b", "a" * 2000),
    ("`*` + `a`x64000 + `b` vs `a`x128000", "*" + "a" * 64000 + "b", "a" * 128000),
    # Constructions against this engine: long runs between stars that hold `?`,
    # so that neither the anchored ends nor the literal search helps.
    ("`*` + `a`x64000 + `b*` vs `a`x128000", "*" + "a" * 64000 + "b*", "a" * 128000),
    ("`*` + `?a`x2000 + `b*` vs `a`x8000", "*" + "?a" * 2000 + "b*", "a" * 8000),
    ("`{,}`x10 + `*` + `?a`x2000 + `b*` vs `a`x8000", CLASSY + "*" + "?a" * 2000 + "b*", "a" * 8000),
    ("`*` + `?a`x32000 + `b*` vs `a`x128000", "*" + "?a" * 32000 + "b*", "a" * 128000),
    ("`{,}`x10 + `*` + `?a`x32000 + `b*` vs `a`x128000", CLASSY + "*" + "?a" * 32000 + "b*", "a" * 128000),
    ("`{*a,*b}`x10 + `c*` vs `ab`x5000", "{*a,*b}" * 10 + "c*", "ab" * 5000),
    ("`[`x200000 vs `[`x200000", "[" * 200_000, "[" * 200_000),
    ("class cut by braces: `{x,[}` + `{a,b}`x9 + `*` + `a`x1000 + `]` vs `a`x2000",
     "{x,[}" + "{a,b}" * 9 + "*" + "a" * 1000 + "]", "a" * 2000),
]



SAME = "{a,b}" * 9  # 512 options, two readings of the cut class ({a,?,*} and {a,b,?,*})
DISTINCT = "".join("{%s,%s}" % (chr(65 + 2 * i), chr(66 + 2 * i)) for i in range(9))  # 512 readings: the worst


def cut_pair(k, n, groups=SAME):
    """A class cut by braces and its uncut twin (`{x,y}`), with a text both must scan to the end."""
    body = groups + "?a" * k + "*]"
    return "*{x,[}" + body, "*{x,y}" + body, "x" + "c" * n + "]"


# (pattern size label, k, text length): the cut class against its twin, target at most 20 x.
CUT_SIZES = [("565 B / 1 KB", 256, 1024), ("4 KB / 8 KB", 2048, 8192), ("8 KB / 16 KB", 4096, 16384),
             ("16 KB / 32 KB", 8192, 32768)]
ROWS = {"worst": [row[1:] for row in TIME_ROWS]}
for name, groups in (("", SAME), ("distinct ", DISTINCT)):
    ROWS[name + "cut"] = [cut_pair(k, n, groups)[0:3:2] for _, k, n in CUT_SIZES]
    ROWS[name + "twin"] = [cut_pair(k, n, groups)[1:] for _, k, n in CUT_SIZES]

MEMORY_PROBE = textwrap.dedent("""
    import sys
    from tarnwick import _tarnwick as tw
    def peak():
        with open("/proc/self/status") as f:
            return next(int(l.split()[1]) * 1024 for l in f if l.startswith("VmHWM:"))
    what, arg = sys.argv[1], sys.argv[2]
    before = peak()
    if what == "parse":
        tw.parse(open(arg).read())
    else:
        tw.expand("@" + arg)
    print(peak() - before)
""")


def memory_rows():
    """(label, input bytes, peak growth in bytes) for directives of classes under 1024 alternatives."""
    lines = {
        "`parse`: `suppress:` + `{,}`x10 + `[a]`x16000 (48 KB)": ("parse", ["suppress:" + CLASSY + "[a]" * 16000]),
        "`expand(\"@file\")`: three lines of `{,}`x10 + `[a]`x32000 (288 KB)":
            ("expand", ["suppress:" + CLASSY + "[a]" * 32000] * 3),
        "`parse`: one 240 KB line, such a pattern in NAME and PATH":
            ("parse", ["suppress:" + CLASSY + "[a]" * 40000 + "@" + CLASSY + "[a]" * 40000]),
    }
    rows = []
    with tempfile.TemporaryDirectory() as tmp:
        for label, (what, content) in lines.items():
            path = os.path.join(tmp, "rules.txt")
            with open(path, "w") as f:
                f.write("\n".join(content))
            size = os.path.getsize(path)
            out = subprocess.run([sys.executable, "-c", MEMORY_PROBE, what, path], capture_output=True,
                                 text=True, cwd=tmp)
            growth = int(out.stdout) if out.returncode == 0 else None
            rows.append((label, size, growth, out.stderr.strip().splitlines()[-1:] if out.returncode else ""))
    return rows


def growth_exponents(build):
    """Time over m = 1k..8k pattern bytes and texts of n + m bytes, n = 1k..8k
    (n places where the run may start), and the exponents of text length and
    of m in a least-squares fit of log time. None when m = n = 8k alone takes
    over a second."""
    sizes = [1000, 2000, 4000, 8000]
    def run(m, n):
        return best(lambda p=build(m), t="a" * (n + m): tw.glob_match(p, t))
    if run(8000, 8000) > 1.0:
        return None
    times = {(m, n): run(m, n) for m in sizes for n in sizes}
    rows = [(1.0, math.log(n + m), math.log(m), math.log(t)) for (m, n), t in times.items()]
    # Normal equations of log t = c + a log(text) + b log(m).
    ata = [[sum(r[i] * r[j] for r in rows) for j in range(3)] for i in range(3)]
    atb = [sum(r[i] * r[3] for r in rows) for i in range(3)]
    return times, *solve3(ata, atb)[1:]


def solve3(a, b):
    """Gaussian elimination for a 3x3 system."""
    m = [row[:] + [v] for row, v in zip(a, b)]
    for i in range(3):
        pivot = max(range(i, 3), key=lambda r: abs(m[r][i]))
        m[i], m[pivot] = m[pivot], m[i]
        for r in range(3):
            if r != i:
                f = m[r][i] / m[i][i]
                m[r] = [x - f * y for x, y in zip(m[r], m[i])]
    return [m[i][3] / m[i][i] for i in range(3)]


def typical_rows():
    floor = best(lambda: len("src/tarnwick/core.py"))
    cases = [
        ("foo*", "foobar.py"),
        ("src/*.py", "src/tarnwick/core.py"),
        ("[!a-z]*_test", "Xmodule_test"),
        ("*a*b*c*", ("ab" * 99) + "xc"),
        ("*.{c,h,cpp}", "src/module/file.cpp"),
    ]
    rows = []
    glob_match, fnmatchcase = tw.glob_match, fnmatch.fnmatchcase
    for pattern, text in cases:
        stmt = timeit.Timer("glob_match(p, t)", globals={"glob_match": glob_match, "p": pattern, "t": text})
        ours = min(stmt.repeat(7, 100_000)) / 100_000
        theirs = None
        if "{" not in pattern:
            other = timeit.Timer("f(t, p)", globals={"f": fnmatchcase, "p": pattern, "t": text})
            theirs = min(other.repeat(7, 100_000)) / 100_000
        rows.append((pattern, ours, theirs))
    return floor, rows


def time_row(index, timeout, rows="worst"):
    """Milliseconds for row `index` of ROWS[rows], timed in a child process, or None past `timeout`."""
    try:
        out = subprocess.run([sys.executable, __file__, "--row", rows, str(index)], capture_output=True, text=True,
                             timeout=timeout, check=True)
    except subprocess.TimeoutExpired:
        return None
    return float(out.stdout)


def main():
    if sys.argv[1:2] == ["--row"]:
        pattern, text = ROWS[sys.argv[2]][int(sys.argv[3])]
        print(best(lambda: tw.glob_match(pattern, text)) * 1e3)
        return
    timeout = float(sys.argv[2]) if sys.argv[1:2] == ["--timeout"] else 60.0
    sections = sys.argv[3].split(",") if len(sys.argv) > 3 else ["worst", "cut", "memory", "growth", "typical"]
    print(f"CPython {sys.version.split()[0]}, module {tw.__file__}\n")
    if "worst" in sections:
        worst_rows(timeout)
    if "cut" in sections:
        cut_rows(timeout)
    if "memory" in sections:
        print_memory_rows()
    if "growth" in sections:
        growth_rows()
    if "typical" in sections:
        print_typical_rows()


def worst_rows(timeout):
    print("| worst case (one `glob_match` call) | ms |")
    print("|---|---:|")
    for index, (label, _, _) in enumerate(TIME_ROWS):
        ms = time_row(index, timeout)
        print(f"| {label} | {f'{ms:.2f}' if ms is not None else f'> {timeout:.0f} s'} |", flush=True)


def cut_rows(timeout):
    for name, groups in (("", "`{a,b}`x9"), ("distinct ", "`{A,B}{C,D}`..x9 (every reading distinct)")):
        print(f"\n| class cut by braces: `*{{x,[}}` + {groups} + `?a`xk + `*]` vs `x` + `c`xn + `]` "
              "| cut ms | twin `{x,y}` ms | x twin (target at most 20) |")
        print("|---|---:|---:|---:|")
        for index, (label, _, _) in enumerate(CUT_SIZES):
            cut, twin = time_row(index, timeout, name + "cut"), time_row(index, timeout, name + "twin")
            ratio = f"{cut / twin:.0f}" if cut is not None and twin else "n/a"
            shown = f"{cut:.2f}" if cut is not None else f"> {timeout:.0f} s"
            print(f"| {label} | {shown} | {twin:.3f} | {ratio} |", flush=True)


def print_memory_rows():
    print("\n| memory (fresh process, one call) | input | peak growth | x input |")
    print("|---|---:|---:|---:|")
    for label, size, growth, err in memory_rows():
        if growth is None:
            print(f"| {label} | {size / 1e3:.0f} KB | failed: {err} | |")
        else:
            print(f"| {label} | {size / 1e3:.0f} KB | {growth / 1e6:.2f} MB | {growth / size:.1f} |", flush=True)


def growth_rows():
    for name, build in [("`*` + `a`xm + `b`", lambda m: "*" + "a" * m + "b"),
                        ("`*` + `a`xm + `b*`", lambda m: "*" + "a" * m + "b*"),
                        ("`*` + `?`xm + `b*`", lambda m: "*" + "?" * m + "b*"),
                        ("`{,}*` + `?`xm + `b*`", lambda m: "{,}*" + "?" * m + "b*")]:
        result = growth_exponents(build)
        if result is None:
            print(f"\ngrowth, {name}: m = n = 8k takes over a second; not measured")
            continue
        times, in_n, in_m = result
        print(f"\ngrowth, {name}: exponent {in_n:.2f} in text length, {in_m:.2f} in m; "
              f"m = n = 8k: {times[(8000, 8000)] * 1e3:.3f} ms", flush=True)


def print_typical_rows():
    floor, rows = typical_rows()
    print(f"\nfloor: len(s) = {floor * 1e9:.1f} ns\n")
    print("| typical `glob_match` | ns | x floor | x fnmatchcase |")
    print("|---|---:|---:|---:|")
    for pattern, ours, theirs in rows:
        ratio = f"{ours / theirs:.2f}" if theirs else "n/a"
        print(f"| `{pattern}` | {ours * 1e9:.0f} | {ours / floor:.1f} | {ratio} |")


if __name__ == "__main__":
    main()
