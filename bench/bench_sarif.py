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

Usage: python bench/bench_sarif.py [--results N] [--repeat N] [--wide]
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


def make_log(n: int, root: str, rng: random.Random) -> dict:
    rules = [
        {
            "id": f"R{i:03}",
            "name": f"rule-number-{i}",
            "shortDescription": {"text": f"Rule {i}"},
            "defaultConfiguration": {"level": rng.choice(["error", "warning", "note"])},
        }
        for i in range(300)
    ]
    files = [f"src/pkg{i % 40}/module_{i}.py" for i in range(2000)]
    results = []
    for k in range(n):
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
        results.append(result)
    return {
        "version": "2.1.0",
        "$schema": "https://json.schemastore.org/sarif-2.1.0.json",
        "runs": [{"tool": {"driver": {"name": "benchlint", "rules": rules}}, "results": results}],
    }


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


def best_of(runs: list[tuple[str, list[str]]], repeat: int, cwd: str) -> dict[str, float]:
    """The best time of each command; the commands take turns, so that a busy
    moment of the machine does not fall on one of them alone."""
    best = {label: float("inf") for label, _ in runs}
    for _ in range(repeat):
        for label, cmd in runs:
            with open(os.devnull, "wb") as sink:
                start = time.perf_counter()
                status = subprocess.run(cmd, stdout=sink, cwd=cwd).returncode
                best[label] = min(best[label], time.perf_counter() - start)
            if status not in (0, 1):
                sys.exit(f"{label}: exited with status {status}")
    return best


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--results", type=int, default=100_000)
    ap.add_argument("--repeat", type=int, default=5)
    ap.add_argument("--wide", action="store_true", help="every directive names every rule (NAME is *)")
    opts = ap.parse_args()
    rng = random.Random(8)
    tarnwick = [sys.executable, "-m", "tarnwick"]
    with tempfile.TemporaryDirectory() as tmp:
        root = os.path.realpath(tmp)
        log_path = os.path.join(root, "log.sarif")
        with open(log_path, "w", encoding="utf-8") as f:
            json.dump(make_log(opts.results, root, rng), f)
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
    floor, bare = times["json load + dump"], times["sarif, no directives"]
    kind = "50 directives, NAME * (--wide)" if opts.wide else "50 directives"
    print(f"{n:,} results, {size:.1f} MB, {kind}, best of {opts.repeat}")
    print(f"{'':<32} {'seconds':>8} {'results/s':>12} {'x floor':>8} {'x no directives':>16}")
    for label, seconds in times.items():
        print(
            f"{label:<32} {seconds:>8.2f} {n / seconds:>12,.0f} {seconds / floor:>8.2f} {seconds / bare:>16.2f}"
        )
    print(
        "targets: sarif with 50 directives at most 2 x the floor; with 10,000 baseline lines and with "
        "--baseline at most 1.5 x no directives"
    )


if __name__ == "__main__":
    main()
