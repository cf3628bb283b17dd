"""Peak memory of `expand` on large files of short one-directive lines, as a
multiple of the file size: 10 MB of `a:b` lines and 10 MB of `a:b@c=d` lines.

Usage: python bench/bench_memory.py [--mb N]

Each file is expanded in a fresh process; the figure is the growth of that
process's peak resident memory (VmHWM, Linux) during the call, divided by the
file size. The growth includes the file's text, the list and the Directive
objects; `per directive` is the growth divided by the number of directives.
"""

import argparse
import os
import subprocess
import sys
import tempfile

from run import MEMORY_PROBE as PROBE  # prints: directives, peak growth in bytes, bytes of one Directive
LINES = {"a:b": "a:b\n", "a:b@c=d": "a:b@c=d\n"}


def measure(path):
    out = subprocess.run([sys.executable, "-c", PROBE, path], capture_output=True, text=True, check=True,
                         cwd=tempfile.gettempdir())
    count, growth, object_size = map(int, out.stdout.split())
    return count, growth, object_size


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--mb", type=int, default=10, help="file size in MB (default: 10)")
    args = parser.parse_args()
    print("| lines | file | directives | peak growth | × file | per directive | object |")
    print("|---|---:|---:|---:|---:|---:|---:|")
    with tempfile.TemporaryDirectory() as tmp:
        for label, line in LINES.items():
            path = os.path.join(tmp, "rules.txt")
            with open(path, "w", encoding="utf-8") as f:
                f.write(line * (args.mb * 1_000_000 // len(line)))
            size = os.path.getsize(path)
            count, growth, object_size = measure(path)
            print(f"| `{label}` | {size / 1e6:.1f} MB | {count:,} | {growth / 1e6:.0f} MB | {growth / size:.1f} | "
                  f"{growth / count:.0f} B | {object_size} B |")


if __name__ == "__main__":
    main()
