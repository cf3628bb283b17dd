"""Benchmarks for tarnwick, reported as ratios against baselines run in the
same process: the `len` floor (the cheapest call CPython makes), fnmatch for
globbing, and a by-hand Python loop for expanding directive files.

Usage: python bench/run.py [--quick] [--markdown]
"""

import argparse
import fnmatch
import os
import random
import subprocess
import sys
import tempfile
import textwrap
import timeit

from tarnwick import _tarnwick as tw

REPEATS = 7


def ns_per_call(stmt, setup_globals, number):
    timer = timeit.Timer(stmt, globals=setup_globals)
    return min(timer.repeat(REPEATS, number)) / number * 1e9


def floor_ns(number):
    return ns_per_call("len(s)", {"s": "src/tarnwick/core.py"}, number)


def glob_rows(number):
    text200 = ("ab" * 99) + "xc"
    cases = [
        ("foo*", "foobar.py"),
        ("src/*.py", "src/tarnwick/core.py"),
        ("*.{c,h,cpp}", "src/module/file.cpp"),
        ("[!a-z]*_test", "Xmodule_test"),
        ("*a*b*c*", text200),
    ]
    rows = []
    for pattern, text in cases:
        g = {"glob_match": tw.glob_match, "fnmatchcase": fnmatch.fnmatchcase, "p": pattern, "t": text}
        ours = ns_per_call("glob_match(p, t)", g, number)
        # fnmatch has no braces; compare only where the syntax agrees.
        theirs = None if "{" in pattern else ns_per_call("fnmatchcase(t, p)", g, number)
        rows.append((pattern, ours, theirs))
    return rows


def directive_rows(number):
    long_spec = "deny:<fn>foo_{a,b,c}*@src/{core,lint,source}/*.{h,cpp}=" + "n" * 200
    d = tw.parse("deny:<fn>foo*@src/*=legacy API")
    g = {"parse": tw.parse, "d": d, "names": ["foobar"], "scopes": ["src/a.py"],
         "typical": "deny:<fn>foo*@src/*=legacy API", "long": long_spec}
    return [
        ("parse (typical)", ns_per_call("parse(typical)", g, number)),
        ("parse (long: 200-byte note, braces)", ns_per_call("parse(long)", g, number)),
        ("Directive.matches (1 name, 1 scope)",
         ns_per_call("d.matches(names, qualifier='fn', scopes=scopes)", g, number)),
    ]


def mixed_directives(count, seed=1):
    rng = random.Random(seed)
    verbs = ["suppress", "de-escalate", "escalate", "note", "set", "allow"]
    out = []
    for i in range(count):
        verb = rng.choice(verbs)
        # Most directives target other rules; one in ten could match.
        name = "E501" if i % 10 == 0 else f"W{rng.randrange(100, 999)}*"
        path = rng.choice(["", "@src/*", "@tests/*.py", "@{src,lib}/**"])
        out.append(tw.parse(f"{verb}:{name}{path}=reason {i}"))
    return out


def fold_rows(number):
    rows = []
    for count in (1, 20, 1000):
        ds = mixed_directives(count)
        g = {"lint_fold": tw.lint_fold, "ds": ds, "names": ["E501"], "scopes": ["src/a.py"]}
        n = max(1, number // max(1, count // 10))
        rows.append((f"lint_fold, {count} directives",
                     ns_per_call("lint_fold('warning', ds, names, scopes=scopes)", g, n), count))
    ladder = tw.Ladder(["error", "warning", "info"])
    ds = mixed_directives(20)
    g = {"ladder": ladder, "ds": ds, "names": ["E501"], "scopes": ["src/a.py"],
         "steps": {"de-escalate": 1, "escalate": -1}, "drop": {"suppress"}}
    rows.append(("Ladder.fold, 20 directives",
                 ns_per_call("ladder.fold('warning', ds, names, scopes=scopes, steps=steps, drop=drop)",
                             g, number), 20))
    return rows


def write_directive_file(path, lines):
    rng = random.Random(7)
    with open(path, "w", encoding="utf-8") as f:
        for i in range(lines):
            r = i % 10
            if r == 0:
                f.write("# section comment\n")
            elif r == 1:
                f.write("\n")
            else:
                kind = rng.choice(["", "<fn>", "<class>"])
                path_ = rng.choice(["", "@src/{a,b}/*.py", "@tests/*"])
                f.write(f"  {rng.choice(['suppress', 'note', 'escalate'])}:{kind}rule_{i}*{path_}=why {i}\n")


def by_hand(path):
    out = []
    with open(path, encoding="utf-8") as f:
        for line in f.read().splitlines():
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            out.append(tw.parse(line))
    return out


# Peak resident memory of the probe process itself. (ru_maxrss would do, but
# Linux carries it over from the parent across fork and exec.)
MEMORY_PROBE = textwrap.dedent("""
    import sys
    from tarnwick import _tarnwick as tw
    def peak():
        with open("/proc/self/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) * 1024
    before = peak()
    ds = tw.expand("@" + sys.argv[1])
    print(len(ds), peak() - before)
""")


def held_bytes_probe(path):
    """Memory held by the Directive objects alone: RSS after expand and after
    dropping the file text, measured as the steady-state growth."""
    probe = textwrap.dedent("""
        import gc, sys
        from tarnwick import _tarnwick as tw
        def rss():
            with open("/proc/self/statm") as f:
                return int(f.read().split()[1]) * 4096
        gc.collect(); base = rss()
        ds = tw.expand("@" + sys.argv[1])
        gc.collect(); print(rss() - base)
    """)
    out = subprocess.run([sys.executable, "-c", probe, path], capture_output=True, text=True,
                         check=True, cwd=tempfile.gettempdir())
    return int(out.stdout)


def expand_rows(lines):
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "rules.txt")
        write_directive_file(path, lines)
        size = os.path.getsize(path)
        count = len(tw.expand("@" + path))
        ours = min(timeit.repeat(lambda: tw.expand("@" + path), number=1, repeat=3))
        hand = min(timeit.repeat(lambda: by_hand(path), number=1, repeat=3))
        out = subprocess.run([sys.executable, "-c", MEMORY_PROBE, path], capture_output=True,
                             text=True, check=True, cwd=tmp)
        growth = int(out.stdout.split()[1])
        held = held_bytes_probe(path)
    return {"lines": lines, "directives": count, "file_bytes": size, "expand_s": ours,
            "by_hand_s": hand, "maxrss_growth": growth, "held": held}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="fewer iterations (a smoke run)")
    args = parser.parse_args()
    number = 20_000 if args.quick else 200_000
    lines = 10_000 if args.quick else 100_000

    print(f"CPython {sys.version.split()[0]}; times are the best of {REPEATS} runs")
    floor = floor_ns(number)
    print(f"\nfloor: len(s) = {floor:.1f} ns\n")

    print("| glob_match | ns/call | x floor | fnmatchcase ns | x fnmatchcase |")
    print("|---|---:|---:|---:|---:|")
    for pattern, ours, theirs in glob_rows(number):
        fn = f"{theirs:.0f}" if theirs else "n/a"
        ratio = f"{ours / theirs:.2f}" if theirs else "n/a"
        print(f"| `{pattern}` | {ours:.0f} | {ours / floor:.1f} | {fn} | {ratio} |")
    print("\n(glob worst cases, growth and memory: bench/bench_glob.py)")

    print("\n| call | ns/call | x floor |")
    print("|---|---:|---:|")
    for name, ns in directive_rows(number):
        print(f"| {name} | {ns:.0f} | {ns / floor:.1f} |")
    for name, ns, count in fold_rows(number):
        print(f"| {name} | {ns:.0f} ({ns / count:.1f} per directive) | {ns / floor:.1f} |")

    e = expand_rows(lines)
    print(f"\nexpand('@file'), {e['lines']:,} lines ({e['directives']:,} directives, "
          f"{e['file_bytes'] / 1e6:.1f} MB):")
    print("| | seconds | lines/s | x by hand |")
    print("|---|---:|---:|---:|")
    print(f"| expand | {e['expand_s']:.3f} | {e['lines'] / e['expand_s']:,.0f} | "
          f"{e['expand_s'] / e['by_hand_s']:.2f} |")
    print(f"| by hand (read, splitlines, strip, parse) | {e['by_hand_s']:.3f} | "
          f"{e['lines'] / e['by_hand_s']:,.0f} | 1.00 |")
    bound = 2 * (e["held"] + e["file_bytes"])
    print(f"\npeak RSS growth during expand: {e['maxrss_growth'] / 1e6:.1f} MB; "
          f"held by the directives {e['held'] / 1e6:.1f} MB + file {e['file_bytes'] / 1e6:.1f} MB; "
          f"ratio {e['maxrss_growth'] / (e['held'] + e['file_bytes']):.2f} (target <= 2; bound {bound / 1e6:.1f} MB)")


if __name__ == "__main__":
    main()
