"""Benchmarks for tarnwick, reported as ratios against baselines run in the
same process: the `len` floor (the cheapest call CPython makes), fnmatch for
globbing, and a by-hand Python loop for expanding directive files.

Usage: python bench/run.py [--quick] [--instructions]

--instructions counts instructions per call of the small calls under
valgrind (callgrind): each call runs N and 2N times in a fresh process and the
difference of the totals is divided by N, so start-up cost cancels out.
"""

import argparse
import fnmatch
import os
import random
import re
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


# The small calls whose cost is mostly binding, with their targets as ratios
# to the len(s) floor (Ladder.fold's target is relative to lint_fold).
def small_call_globals():
    return {"parse": tw.parse, "s": "src/tarnwick/core.py", "typical": "deny:<fn>foo*@src/*=legacy API",
            "d": tw.parse("deny:<fn>foo*@src/*=legacy API"), "names": ["foobar"], "scopes": ["src/a.py"],
            "ds": mixed_directives(20), "lint_fold": tw.lint_fold, "ladder": tw.Ladder(["error", "warning", "info"]),
            "steps": {"de-escalate": 1, "escalate": -1}, "drop": {"suppress"}, "fold_names": ["E501"]}


SMALL_CALLS = [  # (label, statement, target ratio to the floor)
    ("len(s) (floor)", "len(s)", None),
    ("parse (typical)", "parse(typical)", 12),
    ("Directive.matches (1 name, 1 scope)", "d.matches(names, qualifier='fn', scopes=scopes)", 5),
    ("lint_fold, 20 directives", "lint_fold('warning', ds, fold_names, scopes=scopes)", 22),
    ("Ladder.fold, 20 directives",
     "ladder.fold('warning', ds, fold_names, scopes=scopes, steps=steps, drop=drop)", None),
]


def instructions_per_call(stmt, n=10_000, factory="small_call_globals"):
    """Instructions per call of `stmt`, from callgrind totals of n and 2n calls
    (with a fixed hash seed, so that both runs build the same dicts)."""
    totals = []
    for count in (n, 2 * n):
        loop = f"def run():\n    for _ in range({count}):\n        {stmt}\n"
        code = (f"import sys; sys.path.insert(0, {os.path.dirname(os.path.abspath(__file__))!r})\n"
                f"from run import {factory}\ng = {factory}()\nexec({loop!r}, g)\ng['run']()\n")
        out = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null",
                              sys.executable, "-c", code], capture_output=True, text=True, check=True,
                             env={**os.environ, "PYTHONHASHSEED": "0"})
        totals.append(int(re.search(r"Collected : (\d+)", out.stderr).group(1)))
    return (totals[1] - totals[0]) / n


def small_call_rows(number):
    g = small_call_globals()
    return [(label, ns_per_call(stmt, g, number), target) for label, stmt, target in SMALL_CALLS]


def print_small_calls(number, instructions):
    rows = small_call_rows(number)
    floor = rows[0][1]
    lint20 = rows[3][1]
    print("| call | ns/call | x floor | target |" + (" instructions/call |" if instructions else ""))
    print("|---|---:|---:|---|" + ("---:|" if instructions else ""))
    for (label, ns, target), (_, stmt, _) in zip(rows, SMALL_CALLS):
        if target is not None:
            goal = f"<= {target} x floor"
        elif label.startswith("Ladder"):
            goal = f"<= 1.5 x lint_fold (now {ns / lint20:.2f})"
        else:
            goal = ""
        extra = f" {instructions_per_call(stmt):.0f} |" if instructions else ""
        print(f"| {label} | {ns:.0f} | {ns / floor:.1f} | {goal} |{extra}")


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


def baseline_policy(lines, seed=3):
    """A policy shaped like a baseline: one literal suppress:<TOOL>RULE@PATH line per rule and file."""
    rng = random.Random(seed)
    texts = [f"suppress:<ruff>{rng.choice('EFW')}{rng.randrange(100, 999)}@src/m{i}.py=baseline: 1 finding"
             for i in range(lines)]
    return tw.Policy([tw.parse(t) for t in texts])


POLICY_CALLS = [  # (label, statement, what it is compared with, target ratio)
    ("lint_fold, 20 directives", "lint_fold('warning', ds, names, qualifier='ruff', scopes=scopes)", None, None),
    ("Policy.fold, the same 20", "p20.fold('warning', names, qualifier='ruff', scopes=scopes)", 0, 1.0),
    ("Policy.fold, 10,000-line baseline", "big.fold('warning', names, qualifier='ruff', scopes=scopes)", 1, 2.0),
    ("Policy.fold onto a Ladder, the same 20",
     "p20ladder.fold('warning', names, qualifier='ruff', scopes=scopes)", 1, 1.5),
    ("Ladder.fold, the same 20",
     "ladder.fold('warning', ds, names, qualifier='ruff', scopes=scopes, steps=steps, drop=drop)", 0, None),
]


def policy_globals():
    ds = mixed_directives(20)
    steps, drop = {"de-escalate": 1, "escalate": -1, "note": 0}, {"suppress"}
    ladder = tw.Ladder(["error", "warning", "info"])
    return {"lint_fold": tw.lint_fold, "ds": ds, "names": ["E501"], "scopes": ["src/a.py"], "p20": tw.Policy(ds),
            "big": baseline_policy(10_000), "ladder": ladder, "steps": steps, "drop": drop,
            "p20ladder": tw.Policy(ds, ladder=ladder, steps=steps, drop=drop)}


def policy_rows(number, instructions):
    """(label, cost, ratio to its base, target): ns per call, or instructions per call."""
    g = policy_globals()
    costs = [instructions_per_call(stmt, factory="policy_globals") if instructions else ns_per_call(stmt, g, number)
             for _, stmt, _, _ in POLICY_CALLS]
    return [(label, cost, None if base is None else cost / costs[base], target)
            for (label, _, base, target), cost in zip(POLICY_CALLS, costs)]


def print_policy_rows(number, instructions=False):
    print(f"| call | {'instructions' if instructions else 'ns'}/call | ratio | target |")
    print("|---|---:|---:|---|")
    for (label, cost, ratio, target), (_, _, base, _) in zip(policy_rows(number, instructions), POLICY_CALLS):
        against = "" if base is None else f" x {POLICY_CALLS[base][0].split(',')[0]}"
        shown = "" if ratio is None else f"{ratio:.2f}{against}"
        goal = "" if target is None else f"<= {target}"
        print(f"| {label} | {cost:.0f} | {shown} | {goal} |")


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
    print(len(ds), peak() - before, sys.getsizeof(ds[0]) if ds else 0)
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
    parser.add_argument("--instructions", action="store_true",
                        help="only the small calls, with instruction counts (needs valgrind)")
    args = parser.parse_args()
    if args.instructions:
        print(f"CPython {sys.version.split()[0]}; times are the best of {REPEATS} runs\n")
        print_small_calls(20_000 if args.quick else 200_000, instructions=True)
        print()
        print_policy_rows(0, instructions=True)
        return
    number = 20_000 if args.quick else 200_000
    lines = 10_000 if args.quick else 100_000

    print(f"CPython {sys.version.split()[0]}; times are the best of {REPEATS} runs")
    floor = floor_ns(number)
    print(f"\nfloor: len(s) = {floor:.1f} ns\n")
    print("Small calls against their targets (binding is most of their cost):\n")
    print_small_calls(number, instructions=False)
    print()

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

    print("\nPolicies (bench/run.py): a policy's fold against lint_fold over the same directives, a\n"
          "baseline-shaped policy against the 20-directive policy, and a Ladder fold through a policy:\n")
    print_policy_rows(number)

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
