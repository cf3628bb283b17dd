"""``tarnwick glob``: test a glob against texts."""

from __future__ import annotations

import argparse
from typing import Any

from tarnwick._command import add_command, add_json_flag, print_json, shown
from tarnwick._tarnwick import glob_match


def register(subparsers: Any) -> None:
    p = add_command(
        subparsers,
        "glob",
        run,
        help="test a glob against texts",
        description="Print each TEXT with whether PATTERN matches it in full "
        "(byte-wise, case-sensitive; * crosses /). Put -- before texts that start with -.",
    )
    p.add_argument("pattern", metavar="PATTERN")
    p.add_argument("texts", nargs="+", metavar="TEXT")
    add_json_flag(p)


def run(args: argparse.Namespace) -> int:
    results = [(text, glob_match(args.pattern, text)) for text in args.texts]
    if args.json:
        print_json(
            {
                "pattern": args.pattern,
                "texts": [{"text": t, "matches": m} for t, m in results],
            }
        )
    else:
        for text, matches in results:
            print(f"{'match   ' if matches else 'no match'}  {shown(text)}")
    return 0
