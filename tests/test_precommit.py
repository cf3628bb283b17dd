"""The pre-commit hook, run by the real pre-commit from a local clone of this repository."""

import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent


def git(*args, cwd):
    subprocess.run(["git", *args], cwd=cwd, check=True, capture_output=True)


def committed_copy_of_this_tree(dest):
    """A git repository holding this tree's files (committed or not, ignored ones left out) in one commit."""
    listed = subprocess.run(["git", "ls-files", "-z", "-co", "--exclude-standard"], cwd=ROOT, capture_output=True,
                            check=True).stdout.decode().split("\0")
    for name in filter(lambda n: n and (ROOT / n).is_file(), listed):
        (dest / name).parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(ROOT / name, dest / name)
    git("init", "-q", cwd=dest)
    git("add", "-A", cwd=dest)
    git("-c", "user.name=t", "-c", "user.email=t@t", "commit", "-qm", "tree", cwd=dest)


@pytest.mark.slow
def test_hook_checks_directive_files(tmp_path):
    pytest.importorskip("pre_commit")
    if shutil.which("git") is None:
        pytest.skip("git is not installed")
    repo, project = tmp_path / "tarnwick", tmp_path / "project"
    repo.mkdir(), project.mkdir()
    committed_copy_of_this_tree(repo)
    clone = tmp_path / "clone"
    git("clone", "-q", str(repo), str(clone), cwd=tmp_path)
    git("init", "-q", cwd=project)
    (project / "lint-policy.txt").write_text("# ok\nsuppress:<ruff>E501@legacy/*\n", encoding="utf-8")
    (project / "lint-baseline.txt").write_text("suppress:F401@a.py\n\nsuppress:<>x\n", encoding="utf-8")
    (project / "lint-policy2.txt").write_text("supress:F401\n", encoding="utf-8")  # misspelt
    (project / "ci-baseline.txt").write_text("tarnwick-baseline 1\nruff\ta.py\tF401\tcount:2\n", encoding="utf-8")
    (project / "notes.txt").write_text("not directives\n", encoding="utf-8")
    git("add", "-A", cwd=project)

    def try_repo(*files):
        command = [sys.executable, "-m", "pre_commit", "try-repo", str(clone), "tarnwick-check", "--files", *files]
        env = {**os.environ, "PRE_COMMIT_HOME": str(tmp_path / "cache")}
        return subprocess.run(command, cwd=project, capture_output=True, text=True, env=env, timeout=900)

    good = try_repo("lint-policy.txt", "notes.txt", "ci-baseline.txt")
    assert good.returncode == 0 and "Passed" in good.stdout, good.stdout + good.stderr
    bad = try_repo("lint-policy.txt", "lint-baseline.txt")
    assert bad.returncode == 1 and "\nlint-baseline.txt:3: empty `<>` kind filter" in bad.stdout
    bad = try_repo("lint-policy2.txt")
    assert bad.returncode == 1 and '\nlint-policy2.txt:1: unknown action "supress"' in bad.stdout
