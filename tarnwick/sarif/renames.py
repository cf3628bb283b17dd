"""Files renamed since a baseline was made, found with git's rename detection.

A baseline file is taken to describe the tree of the last commit that changed
it (it is regenerated or pruned together with the code). When it is committed
and unchanged in the work tree, ``git diff --find-renames`` between that commit
and the work tree gives each renamed file's new path and old one; a finding of
a renamed file whose identity is otherwise unchanged then matches the entry
under the old path. Without git, outside a work tree, or with a baseline that
is not committed as it is, no file counts as renamed.
"""

from __future__ import annotations

import os
import subprocess

GIT_TIMEOUT = 60  # seconds for each git command; a stuck git is taken as no git


def _git(root: str, *args: str) -> bytes | None:
    try:
        done = subprocess.run(
            ["git", "-C", root, *args],
            capture_output=True,
            stdin=subprocess.DEVNULL,
            timeout=GIT_TIMEOUT,
            check=False,
        )
    except (OSError, subprocess.SubprocessError):
        return None
    return done.stdout if done.returncode == 0 else None


def renamed_files(root: str, baseline: str) -> dict[str, str]:
    """New path -> old path, relative to *root*, of the files renamed since the
    last commit that changed file *baseline*; empty when that cannot be told."""
    if baseline == "-" or not os.path.isdir(root):
        return {}
    file = os.path.abspath(baseline)
    status = _git(root, "status", "--porcelain", "-z", "--", file)
    if status is None or status:  # no git, or the baseline is new or changed: made from this tree
        return {}
    commit = _git(root, "log", "-1", "--format=%H", "--", file)
    if not commit or not commit.strip():
        return {}
    diff = _git(
        root, "diff", "--find-renames", "--diff-filter=R", "--name-status", "-z", "--relative", commit.strip().decode()
    )
    if diff is None:
        return {}
    fields = diff.split(b"\0")
    renames = {}
    for i in range(0, len(fields) - 2, 3):  # R<score>, old path, new path
        if fields[i].startswith(b"R"):
            old, new = (os.fsdecode(f).replace(os.sep, "/") for f in fields[i + 1 : i + 3])
            renames[new] = old
    return renames
