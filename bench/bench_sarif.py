"""Throughput of `tarnwick sarif` and `tarnwick baseline` against the floor of
reading and writing the same JSON.

Generates a SARIF log of 100,000 results (300 rules, 2,000 files, half of
them as absolute `file:` URIs) and 50 directives, then times, best of N runs
taking turns, as separate processes writing to /dev/null:

- `python -m tarnwick sarif -D @directives.txt log.sarif`
- `python -m tarnwick sarif log.sarif` (no directives)
- `python -m tarnwick baseline --format directives log.sarif`
- `python -m tarnwick sarif -D @baseline.txt log.sarif`, with that whole
  directive-file baseline (every result matched by one line) and with its
  first 10,000 lines
- `python -m tarnwick baseline log.sarif`, a baseline of single findings whose
  identities come from the source lines (the generated files exist, 500
  lines each), and `python -m tarnwick sarif --baseline` with it (every
  finding unchanged): the ratio to the run without directives is the cost
  of the baseline, reading the sources included
- a plain script that loads the log with `json` and writes it back with the
  writer and settings that `tarnwick sarif` uses (the floor).

With --wide every directive's NAME is `*`, so every directive is tested
against every result's scopes (the worst case for the fold).

Each line gives the time, MB/s of the log and the peak memory (maximum
resident set) of the command, beside `cat` of the file (the disk's speed).

With --sizes 100000,1000000,10000000 it instead generates a log of each size
(the largest about 2.3 GB, written a result at a time, deleted afterwards)
and gives the time and peak memory of `sarif` with 50 directives beside `cat`.

Usage: python bench/bench_sarif.py [--results N] [--repeat N] [--wide] [--sizes N,N,...]
"""

from __future__ import annotations

import argparse
import json
import os
import random
import subprocess
import sys
import tempfile
import time

from tarnwick.sarif import DUMP_SETTINGS

FLOOR = """
import json, sys
with open(sys.argv[1], "rb") as f:
    log = json.loads(f.read())
sys.stdout.buffer.write(json.dumps(log, ensure_ascii=False, separators=(",", ":")).encode() + b"\\n")
"""
# The floor must write exactly as the command does.
assert DUMP_SETTINGS == {"ensure_ascii": False, "separators": (",", ":")}


def make_rules(rng: random.Random) -> list[dict]:
    return [
        {
            "id": f"R{i:03}",
            "name": f"rule-number-{i}",
            "shortDescription": {"text": f"Rule {i}"},
            "defaultConfiguration": {"level": rng.choice(["error", "warning", "note"])},
        }
        for i in range(300)
    ]


def make_result(k: int, rules: list[dict], files: list[str], root: str, rng: random.Random) -> dict:
    r = rng.randrange(len(rules))
    path = rng.choice(files)
    uri = f"file://{root}/{path}" if k % 2 else path
    result = {
        "ruleId": rules[r]["id"],
        "ruleIndex": r,
        "message": {"text": f"finding {k} of rule {r} in {path}"},
        "locations": [
            {
                "physicalLocation": {
                    "artifactLocation": {"uri": uri},
                    "region": {"startLine": rng.randrange(1, 500), "startColumn": rng.randrange(1, 80)},
                }
            }
        ],
    }
    if k % 3:
        result["level"] = rng.choice(["error", "warning", "note"])
    return result


def write_log(path: str, n: int, root: str, rng: random.Random) -> None:
    """A log of `n` results, written a result at a time (a log of millions does not fit in memory)."""
    rules = make_rules(rng)
    files = [f"src/pkg{i % 40}/module_{i}.py" for i in range(2000)]
    head = {
        "version": "2.1.0",
        "$schema": "https://json.schemastore.org/sarif-2.1.0.json",
        "runs": [{"tool": {"driver": {"name": "benchlint", "rules": rules}}, "results": []}],
    }
    text = json.dumps(head)
    before, after = text.split('"results": []')
    with open(path, "w", encoding="utf-8", buffering=1 << 20) as f:
        f.write(before + '"results": [')
        f.writelines((", " if k else "") + json.dumps(make_result(k, rules, files, root, rng)) for k in range(n))
        f.write("]" + after)


def make_sources(root: str, rng: random.Random) -> None:
    """The 2,000 files of the log, 500 lines each (some lines alike, as in real code)."""
    for i in range(2000):
        path = os.path.join(root, f"src/pkg{i % 40}/module_{i}.py")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as f:
            f.writelines(f"    value_{rng.randrange(50)} = compute({rng.randrange(1000)})\n" for _ in range(500))


def make_directives(rng: random.Random, wide: bool) -> str:
    verbs = ["suppress", "de-escalate", "escalate", "note"]
    lines = []
    for i in range(50):
        name = rng.choice(
            [f"R{rng.randrange(300):03}", f"R{rng.randrange(30):02}*", f"rule-number-{rng.randrange(300)}"]
        )
        if wide:
            name = "*"
        kind = "<benchlint>" if i % 2 else ""
        path = rng.choice(["", f"@src/pkg{rng.randrange(40)}/*", "@src/*/module_1*.py"])
        note = f"=note {i}" if i % 3 else ""
        lines.append(f"{rng.choice(verbs)}:{kind}{name}{path}{note}")
    return "\n".join(lines) + "\n"


def measured(cmd: list[str], cwd: str) -> tuple[float, float, int]:
    """Seconds, peak memory (MB, the child's maximum resident set) and exit status of one run;
    the child's processor seconds go to `CPU`."""
    with open(os.devnull, "wb") as sink:
        start = time.perf_counter()
        child = subprocess.Popen(cmd, stdout=sink, cwd=cwd)
        _, status, usage = os.wait4(child.pid, 0)
        seconds = time.perf_counter() - start
        child.returncode = os.waitstatus_to_exitcode(status)
    CPU[" ".join(cmd)] = usage.ru_utime + usage.ru_stime
    return seconds, usage.ru_maxrss / 1024, child.returncode


CPU: dict[str, float] = {}  # processor seconds of the last run of each command


def best_of(runs: list[tuple[str, list[str]]], repeat: int, cwd: str) -> dict[str, tuple[float, float]]:
    """The best time and the peak memory of each command; the commands take turns,
    so that a busy moment of the machine does not fall on one of them alone."""
    best = {label: (float("inf"), 0.0) for label, _ in runs}
    for _ in range(repeat):
        for label, cmd in runs:
            seconds, peak, status = measured(cmd, cwd)
            best[label] = (min(best[label][0], seconds), max(best[label][1], peak))
            if status not in (0, 1):
                sys.exit(f"{label}: exited with status {status}")
    return best


def sizes(counts: list[int], repeat: int) -> None:
    """Peak memory and time of `tarnwick sarif` with 50 directives on logs of each size (no floor:
    loading a log of millions of results whole takes about ten times its size in memory)."""
    rng = random.Random(8)
    tarnwick = [sys.executable, "-m", "tarnwick"]
    print(
        f"{'results':>12} {'MB':>8} {'sarif s':>8} {'cpu s':>7} {'sarif MB/s':>10} {'peak MB':>8} {'cat s':>7} "
        f"{'cat MB/s':>9}"
    )
    for n in counts:
        with tempfile.TemporaryDirectory() as tmp:
            root = os.path.realpath(tmp)
            write_log(os.path.join(root, "log.sarif"), n, root, rng)
            with open(os.path.join(root, "directives.txt"), "w", encoding="utf-8") as f:
                f.write(make_directives(rng, False))
            size = os.path.getsize(os.path.join(root, "log.sarif")) / 1e6
            runs = [
                ("cat", ["cat", "log.sarif"]),
                ("sarif", [*tarnwick, "sarif", "-q", "-D", "@directives.txt", "log.sarif"]),
            ]
            got = best_of(runs, repeat, root)
        (cat, _), (sarif, peak) = got["cat"], got["sarif"]
        cpu = CPU[" ".join(runs[1][1])]
        print(
            f"{n:>12,} {size:>8.0f} {sarif:>8.1f} {cpu:>7.1f} {size / sarif:>10.1f} {peak:>8.0f} {cat:>7.2f} "
            f"{size / cat:>9.0f}"
        )


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--results", type=int, default=100_000)
    ap.add_argument("--repeat", type=int, default=5)
    ap.add_argument("--wide", action="store_true", help="every directive names every rule (NAME is *)")
    ap.add_argument(
        "--sizes",
        help="comma-separated result counts: only peak memory and time of sarif on logs of these sizes",
    )
    opts = ap.parse_args()
    if opts.sizes:
        sizes([int(n) for n in opts.sizes.split(",")], opts.repeat)
        return
    rng = random.Random(8)
    tarnwick = [sys.executable, "-m", "tarnwick"]
    with tempfile.TemporaryDirectory() as tmp:
        root = os.path.realpath(tmp)
        log_path = os.path.join(root, "log.sarif")
        write_log(log_path, opts.results, root, rng)
        with open(os.path.join(root, "directives.txt"), "w", encoding="utf-8") as f:
            f.write(make_directives(rng, opts.wide))
        make_sources(root, rng)
        subprocess.run([*tarnwick, "baseline", "log.sarif", "-o", "findings.txt"], cwd=root, capture_output=True, check=True)
        made = subprocess.run(
            [*tarnwick, "baseline", "--format", "directives", "log.sarif"], cwd=root, capture_output=True, check=True
        )
        lines = made.stdout.decode().splitlines(keepends=True)
        with open(os.path.join(root, "baseline.txt"), "w", encoding="utf-8") as f:
            f.writelines(lines)
        with open(os.path.join(root, "baseline-10k.txt"), "w", encoding="utf-8") as f:
            f.writelines(lines[:10_000])
        size = os.path.getsize(log_path) / 1e6
        lines_in = sum(not line.startswith("#") for line in lines)
        runs = [
            ("cat", ["cat", "log.sarif"]),
            ("json load + dump", [sys.executable, "-c", FLOOR, "log.sarif"]),
            ("sarif, 50 directives", [*tarnwick, "sarif", "-q", "-D", "@directives.txt", "log.sarif"]),
            ("sarif, no directives", [*tarnwick, "sarif", "-q", "log.sarif"]),
            ("baseline, directives", [*tarnwick, "baseline", "--format", "directives", "log.sarif"]),
            (
                f"sarif, {lines_in:,}-line baseline",
                [*tarnwick, "sarif", "-q", "-D", "@baseline.txt", "log.sarif"],
            ),
            ("sarif, 10,000 lines of it", [*tarnwick, "sarif", "-q", "-D", "@baseline-10k.txt", "log.sarif"]),
            ("baseline of findings", [*tarnwick, "baseline", "log.sarif"]),
            ("sarif --baseline (all findings)", [*tarnwick, "sarif", "-q", "--baseline", "findings.txt", "log.sarif"]),
        ]
        times = best_of(runs, opts.repeat, root)
    n = opts.results
    floor, bare = times["json load + dump"][0], times["sarif, no directives"][0]
    kind = "50 directives, NAME * (--wide)" if opts.wide else "50 directives"
    print(f"{n:,} results, {size:.1f} MB, {kind}, best of {opts.repeat}")
    print(f"{'':<32} {'seconds':>8} {'MB/s':>7} {'x floor':>8} {'x no directives':>16} {'peak MB':>8}")
    for label, (seconds, peak) in times.items():
        print(
            f"{label:<32} {seconds:>8.2f} {size / seconds:>7.1f} {seconds / floor:>8.2f} "
            f"{seconds / bare:>16.2f} {peak:>8.0f}"
        )
    print(
        "targets: sarif with 50 directives at most 0.5 x the floor; with the whole baseline at most 0.7 x; "
        "sarif --baseline at most 1.5 x no directives"
    )

if __name__ == "__main__":
    main()
